// Drawing of the karaoke picture: the current line centred, in three colours (sung, the
// syllable now, still to sing), the next line below it; and the lyric font and its fitting.
#pragma once

#include <QFont>
#include <QString>
#include <string>
#include <vector>

class QLabel;

namespace app {

// "Impact" when the machine has it, else a bold condensed face that Debian ships.
QFont lyricFont(int pointSize);

// The point size at which the widest of `lines` fits `picture` (36 at most).
int fitLyricFont(const QLabel* picture, const std::vector<std::string>& lines);

struct LyricFrame {
  QString line;        // the current line
  int column = 0;      // characters of the line before the syllable now
  int textLength = 0;  // characters of the syllable
  QString text;        // the syllable
  QString nextLine;    // empty on the last line
  bool hasNextLine = false;
};

// Clears `picture` and draws `frame` in `pointSize`.
void drawLyricFrame(QLabel* picture, int pointSize, const LyricFrame& frame);
void clearPicture(QLabel* picture);

}  // namespace app
