#include "Services.h"

#include <unistd.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>

namespace app {
namespace {

class QtMessages final : public MessageService {
 public:
  int show(int style, const QString& title, const QString& text) override {
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    switch (style & 0x70) {
      case kStyleCritical:
        box.setIcon(QMessageBox::Critical);
        break;
      case kStyleExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
      case kStyleInformation:
        box.setIcon(QMessageBox::Information);
        break;
      case 32:
        box.setIcon(QMessageBox::Question);
        break;
      default:
        break;
    }
    switch (style & 7) {
      case 1:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
      case 4:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
      case 3:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
      default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
      case QMessageBox::Cancel:
        return 2;
      case QMessageBox::Yes:
        return 6;
      case QMessageBox::No:
        return 7;
      default:
        return kAnswerOk;
    }
  }
};

class QtFiles final : public FileDialogService {
 public:
  std::optional<QString> openFile(QWidget* parent, const FileDialogRequest& r) override {
    QFileDialog dialog(parent, r.title);
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtFilter(r.filter));
    QString suffix = r.defaultSuffix;
    if (suffix.startsWith('.')) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.setDirectory(dialogStartFolder());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    rememberDialogFolder(dialog.selectedFiles().front());
    return dialog.selectedFiles().front();
  }
};

class ProcessExit final : public ExitService {
 public:
  void end(int code) override {
    // The engine stops first: its threads must not outlive the windows they feed.
    BASS_Free();
    std::fflush(nullptr);
    _exit(code);
  }
};

}  // namespace

Services& services() {
  static QtMessages messages;
  static QtFiles files;
  static ProcessExit exit;
  static EngineProbe engine;
  static Services s{&messages, &files, &exit, &engine};
  return s;
}

QString qtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  QStringList patterns;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    const QString these = QString(parts[i + 1]).replace(';', ' ');
    if (!name.contains('(')) name += " (" + these + ")";
    out << name;
    patterns << these.split(' ', Qt::SkipEmptyParts);
  }
  // Both kinds of song at once come first, so that the folder shows every song it holds.
  patterns.sort(Qt::CaseInsensitive);
  if (patterns == QStringList{"*.mp3", "*.wav"}) out.prepend("Songs (*.wav *.mp3)");
  if (patterns == QStringList{"*.cdg", "*.mp3", "*.wav", "*.zip"})
    out.prepend("Songs (*.wav *.mp3 *.zip *.cdg)");
  if (patterns == QStringList{"*.kar", "*.mid"}) out.prepend("MIDI and karaoke (*.mid *.kar)");
  return out.join(";;");
}

namespace {
QString lastFolder;
}  // namespace

QString dialogStartFolder() {
  if (!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir()) return lastFolder;
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && QFileInfo(music).isDir()) return music;
  return QDir::homePath();
}

void rememberDialogFolder(const QString& chosenFile) {
  lastFolder = QFileInfo(chosenFile).absolutePath();
}

}  // namespace app
