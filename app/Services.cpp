#include "Services.h"

#include <unistd.h>

#include <QFileDialog>
#include <QMessageBox>
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
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtFilter(r.filter));
    QString suffix = r.defaultSuffix;
    if (suffix.startsWith('.')) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
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
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(';', ' ');
    if (!name.contains('(')) name += " (" + patterns + ")";
    out << name;
  }
  return out.join(";;");
}

}  // namespace app
