#include "KaraokePicture.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "Lyrics.h"

namespace app {

namespace {
const QColor kSung(128, 128, 255);  // the part of the line already sung
const QColor kNow(0, 255, 255);     // the syllable being sung
const QColor kToSing(128, 128, 0);  // the rest of the line and the next line
const QColor kBackground(0, 0, 0);
constexpr int kTop = 10;      // top of the current line
constexpr int kLineGap = 12;  // between the current line and the next
}  // namespace

QFont lyricFont(int pointSize) {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    for (const char* f : {"Impact", "DejaVu Sans Condensed", "DejaVu Sans"})
      if (families.contains(f)) return QString(f);
    return QString();
  }();
  QFont font(family);
  font.setPointSize(pointSize);
  font.setBold(true);
  font.setStretch(QFont::Condensed);
  return font;
}

int fitLyricFont(const QLabel* picture, const std::vector<std::string>& lines) {
  return midi::fitFontSize(lines, picture->width(), [](const std::string& line, int size) {
    return QFontMetrics(lyricFont(size)).horizontalAdvance(QString::fromStdString(line));
  });
}

void clearPicture(QLabel* picture) {
  QPixmap pixmap(picture->size());
  pixmap.fill(kBackground);
  picture->setPixmap(pixmap);
}

void drawLyricFrame(QLabel* picture, int pointSize, const LyricFrame& f) {
  QPixmap pixmap(picture->size());
  pixmap.fill(kBackground);
  QPainter p(&pixmap);
  const QFont font = lyricFont(pointSize);
  p.setFont(font);
  const QFontMetrics m(font);
  const int width = picture->width();
  const QString sung = f.line.left(f.column);
  const QString rest = f.line.mid(f.column + f.textLength);
  int x = width / 2 - m.horizontalAdvance(f.line) / 2;
  const int y = kTop + m.ascent();
  p.setPen(kSung);
  p.drawText(x, y, sung);
  x += m.horizontalAdvance(sung);
  p.setPen(kNow);
  p.drawText(x, y, f.text);
  x += m.horizontalAdvance(f.text);
  p.setPen(kToSing);
  p.drawText(x, y, rest);
  if (f.hasNextLine) {
    const int x2 = width / 2 - m.horizontalAdvance(f.nextLine) / 2;
    p.drawText(x2, y + m.descent() + kLineGap + m.ascent(), f.nextLine);
  }
  p.end();
  picture->setPixmap(pixmap);
}

}  // namespace app
