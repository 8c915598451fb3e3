// The singer's screen: a window of its own, full screen on the screen the user picks, showing
// the song's words lit as they are sung (or its CD+G picture) at the song's heard position.
// Also the painting it shares with the main window's karaoke picture, which shows an audio
// song's LRC words or CD+G picture the same way.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "CdgDecoder.h"
#include "LiveSinging.h"
#include "Melody.h"
#include "PitchLane.h"
#include "SingerPresenter.h"
#include "SongClock.h"
#include "TimedLyrics.h"

class QLabel;
class QPainter;

namespace app {

// What a song shows: its timed words, or its CD+G stream (the picture wins when there is one),
// and the pitch lane of its melody when it has one.
struct SingerSong {
  karaoke::TimedLyrics lyrics;
  std::vector<uint8_t> cdg;
  std::optional<singing::Melody> melody;  // in the song's own time
  bool showsSomething() const { return !lyrics.empty() || !cdg.empty(); }
};

inline const QColor kSingerBackground(0, 0, 0);
inline const QColor kSingerLit(0, 220, 255);      // what has been sung
inline const QColor kSingerUnlit(255, 255, 255);  // what is still to sing, and the next line
inline const QColor kSingerTitle(255, 200, 0);    // the title, the count-in, the time left

// Paints `frame` of `lyrics` into `area`: the current line with its syllables lit by their
// fractions, the next line under it, the title and artist before the first line, the count-in
// and the time left; the type scaled to the area.
void paintSingerFrame(QPainter& p, const QRect& area, const karaoke::TimedLyrics& lyrics,
                      const karaoke::SingerFrame& frame);

inline const QColor kLaneBackground(24, 24, 32);
inline const QColor kLaneNote(90, 90, 110);   // a note to come or gone by
inline const QColor kLaneVoice(255, 120, 40);  // the singer's pitch

// Paints the pitch lane `lane` into `area`: one row a semitone, the bars, the now line and the
// singer's pitch over them.
void paintPitchLane(QPainter& p, const QRect& area, const karaoke::LaneFrame& lane);

// A take's score as the singer's screen and the main window show it: "Punteggio: 8 750 / 10 000".
QString scoreText(int total);

// Paints a CD+G picture (kCdgWidth x kCdgHeight) scaled into `area` with its aspect kept, the
// border colour around it.
void paintCdgPicture(QPainter& p, const QRect& area, const QImage& picture, QColor border);

// One view of a song: the frame and the CD+G picture at a song time, and their painting.
class SingerView {
 public:
  void setSong(std::shared_ptr<const SingerSong> song);
  bool showsSomething() const { return song_ && song_->showsSomething(); }
  // The take being sung, whose pitch the lane draws; null for none.
  void setSinging(std::shared_ptr<const singing::LiveSinging> singing);
  // Moves the view to song time `songMs` of a song `lengthMs` long, played `key` semitones away.
  void moveTo(double songMs, double lengthMs, int key = 0);
  // The words (or picture) in the top of `area`, the pitch lane under them when the song has a
  // melody.
  void paint(QPainter& p, const QRect& area) const;
  const karaoke::SingerFrame& frame() const { return frame_; }
  bool hasLane() const { return song_ && song_->melody; }
  const karaoke::LaneFrame& lane() const { return lane_; }
  const QImage& cdgPicture() const { return cdgPicture_; }

 private:
  std::shared_ptr<const SingerSong> song_;
  std::shared_ptr<const singing::LiveSinging> singing_;
  karaoke::SingerFrame frame_;
  karaoke::LaneFrame lane_;
  std::unique_ptr<karaoke::CdgDecoder> cdg_;
  QImage cdgPicture_;
  QColor border_ = kSingerBackground;
};

class SingerScreen : public QWidget {
  Q_OBJECT
 public:
  explicit SingerScreen(QWidget* parent = nullptr);

  void setSong(std::shared_ptr<const SingerSong> song);
  void setClock(SongClock clock) { clock_ = std::move(clock); }
  const SingerView& view() const { return view_; }
  // The last take's score out of 10 000, shown in a corner; none shown for nullopt.
  void setScore(std::optional<int> total);
  std::optional<int> score() const { return score_; }
  void setSinging(std::shared_ptr<const singing::LiveSinging> singing);
  // A line's score, shown for kLineScoreMs after its line was sung.
  void showLineScore(int score);
  std::optional<int> lineScore() const { return lineScore_; }
  static constexpr int kLineScoreMs = 2500;

  // The screen it shows on, as an index into QGuiApplication::screens(): the one remembered,
  // else the second when there is one, else the first.
  static int preferredScreen();
  int screenIndex() const { return screenIndex_; }
  void chooseScreen(int index);  // moves there and remembers the choice
  void toggleFullScreen();

  static constexpr int kFrameMs = 16;

 signals:
  void shownChanged(bool shown);
  void lineScoreShown(int score);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void tick();
  void placeOnScreen();

  SingerView view_;
  SongClock clock_;
  std::optional<int> score_;
  std::optional<int> lineScore_;
  QTimer timer_;
  QTimer lineScoreTimer_;
  int screenIndex_ = 0;
};

// The main window's karaoke picture showing an audio song's LRC words or CD+G picture from its
// own timer, while `active` says the song is still the one chosen.
class SingerPicture : public QObject {
  Q_OBJECT
 public:
  SingerPicture(QLabel* picture, QObject* parent);
  void setSong(std::shared_ptr<const SingerSong> song, SongClock clock,
               std::function<bool()> active);
  void stop();
  const SingerView& view() const { return view_; }
  void tick();

  static constexpr int kFrameMs = 33;

 private:
  QLabel* picture_;
  SingerView view_;
  SongClock clock_;
  std::optional<int> score_;
  std::function<bool()> active_;
  QTimer timer_;
};

}  // namespace app
