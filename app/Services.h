// The services the windows call for everything outside themselves: message boxes, the file
// dialog, ending the program and the engine's start-up checks. The real ones show Qt dialogs
// and end the process; the tests install recording ones.
#pragma once

#include <QString>
#include <optional>

#include "PlayerControls.h"
#include "bass.h"

class QWidget;

namespace app {

// Message box styles as the program uses them: buttons (0 OK) plus an icon.
constexpr int kStyleCritical = 16;
constexpr int kStyleExclamation = 48;
constexpr int kStyleInformation = 64;
constexpr int kStyleYesNo = 4;
constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows a modal box; returns the button pressed (1 = OK, 2 = Cancel, 6 = Yes, 7 = No).
  virtual int show(int style, const QString& title, const QString& text) = 0;
};

struct FileDialogRequest {
  QString title;
  QString filter;         // "Wave Files (*.wav)|*.wav|Mp3 Files (*.mp3)|*.mp3"
  QString defaultSuffix;  // ".mpl": given to a typed name without one
  bool save = false;      // a save dialog: the name may be new, an existing file is confirmed
};

class FileDialogService {
 public:
  virtual ~FileDialogService() = default;
  // The chosen path, or nothing when the user cancelled (open and save dialogs alike).
  virtual std::optional<QString> openFile(QWidget* parent, const FileDialogRequest& request) = 0;
};

class ExitService {
 public:
  virtual ~ExitService() = default;
  // Ends the program at once: the engine's threads and device stop, no window runs a handler.
  virtual void end(int code) = 0;
};

// What start-up checks: the engine's presence and the versions it reports, and its start.
class EngineProbe {
 public:
  virtual ~EngineProbe() = default;
  virtual bool mainLibraryPresent() { return true; }  // linked into the program
  virtual DWORD mainVersion() { return BASS_GetVersion(); }
  virtual bool fxLibraryPresent() { return true; }
  virtual DWORD fxVersion() { return BASS_FX_GetVersion(); }
};

struct Services {
  MessageService* messages;
  FileDialogService* files;
  ExitService* exit;
  EngineProbe* engine;
};

// The services in use; the real ones unless a test installed others.
Services& services();

// The player's message boxes, through the message service.
class PlayerMessages final : public player::MessageSink {
 public:
  int show(int style, const std::string& title, const std::string& text) override {
    return services().messages->show(style, QString::fromStdString(title),
                                     QString::fromStdString(text));
  }
};

// Qt's filter text from the program's "name|pattern|name|pattern" form; the song dialogs get
// an entry for both their kinds before their own ("Songs (*.wav *.mp3)", "MIDI and karaoke
// (*.mid *.kar)").
QString qtFilter(const QString& filter);
// Where a file dialog opens: the folder of the last file chosen in one, else the user's music
// folder, else the home folder.
QString dialogStartFolder();
void rememberDialogFolder(const QString& chosenFile);

}  // namespace app
