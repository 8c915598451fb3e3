// Window tests: recording services in place of the message box, the file dialog and the
// program's end, and a main() that draws off screen.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "Services.h"

namespace apptest {

struct Shown {
  int style;
  QString title;
  QString text;
};

class RecordingMessages final : public app::MessageService {
 public:
  int show(int style, const QString& title, const QString& text) override {
    shown.push_back({style, title, text});
    if (onShow) onShow(shown.back());
    if (answers.empty()) return app::kAnswerOk;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<Shown> shown;
  std::deque<int> answers;
  std::function<void(const Shown&)> onShow;  // runs as the box opens, before it is answered
};

class ScriptedFiles final : public app::FileDialogService {
 public:
  std::optional<QString> openFile(QWidget*, const app::FileDialogRequest& r) override {
    requests.push_back(r);
    if (answers.empty()) return std::nullopt;
    const std::optional<QString> a = std::move(answers.front());
    answers.pop_front();
    return a;
  }
  std::vector<app::FileDialogRequest> requests;
  std::deque<std::optional<QString>> answers;  // nullopt = the user cancels
};

// Records the end of the program instead of ending the test; the engine stops as it would.
class RecordingExit final : public app::ExitService {
 public:
  void end(int code) override {
    BASS_Free();
    codes.push_back(code);
  }
  std::vector<int> codes;
};

class ScriptedEngine final : public app::EngineProbe {
 public:
  bool mainLibraryPresent() override { return mainPresent; }
  DWORD mainVersion() override { return main ? *main : BASS_GetVersion(); }
  bool fxLibraryPresent() override { return fxPresent; }
  DWORD fxVersion() override { return fx ? *fx : BASS_FX_GetVersion(); }
  bool mainPresent = true;
  bool fxPresent = true;
  std::optional<DWORD> main;
  std::optional<DWORD> fx;
};

// Installs the recording services for one test and puts the real ones back after it.
class InstalledServices {
 public:
  InstalledServices() : saved_(app::services()) {
    app::services() = {&messages, &files, &exit, &engine};
  }
  ~InstalledServices() { app::services() = saved_; }
  RecordingMessages messages;
  ScriptedFiles files;
  RecordingExit exit;
  ScriptedEngine engine;

 private:
  app::Services saved_;
};

}  // namespace apptest
