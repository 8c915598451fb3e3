#include "WorkFolder.h"

#include <QDir>
#include <QFileInfo>

namespace app {

QString workFolder() {
  const QByteArray home = qgetenv("ORIVELR_HOME");
  if (!home.isEmpty()) return QString::fromLocal8Bit(home);
  const QByteArray data = qgetenv("XDG_DATA_HOME");
  if (!data.isEmpty()) return QString::fromLocal8Bit(data) + "/orivelR";
  return QDir::homePath() + "/.local/share/orivelR";
}

bool ensureWorkFolder() {
  return QDir().mkpath(workFolder());
}

QString workFile(const QString& name) {
  return RPP(workFolder()) + name;
}

}  // namespace app

QString RPP(const QString& fp) {
  return fp.endsWith('/') ? fp : fp + "/";
}

bool FileExists(const QString& FileName) {
  const QFileInfo info(FileName);
  return !FileName.isEmpty() && info.exists() && info.isFile();
}
