#include "SingerScreen.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "KaraokePicture.h"

namespace app {

namespace {

constexpr char kScreenSetting[] = "singerScreen/screen";

// The layout, in parts of the area's height: the type's size, where each thing sits.
constexpr double kLineSize = 1.0 / 7;
constexpr double kTitleBaseline = 0.20;
constexpr double kArtistBaseline = 0.29;
constexpr double kCountInCentre = 0.37;
constexpr double kLineBaseline = 0.58;
constexpr double kWidthUsed = 0.92;
// With a melody the lane takes the bottom of the area, the words the rest.
constexpr double kLaneShare = 0.30;

QFont fontOfPixels(int pixels) {
  QFont f = lyricFont(12);
  f.setPixelSize(std::max(1, pixels));
  return f;
}

// A score with its thousands spaced: "8 750".
QString groupedScore(int v) {
  return v >= 1000 ? QString("%1 %2").arg(v / 1000).arg(v % 1000, 3, 10, QChar('0'))
                   : QString::number(v);
}

QString timeLeftText(double ms) {
  const long s = std::lround(std::ceil(ms / 1000));
  return QString("-%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

void paintSingerFrame(QPainter& p, const QRect& area, const karaoke::TimedLyrics& lyrics,
                      const karaoke::SingerFrame& frame) {
  p.fillRect(area, kSingerBackground);
  const int h = area.height();
  const auto lineText = [&](int i) {
    return i >= 0 && size_t(i) < lyrics.lines.size()
               ? QString::fromStdString(lyrics.lines[size_t(i)].text())
               : QString();
  };
  const QString current = lineText(frame.currentLine);
  const QString next = lineText(frame.nextLine);
  const QString title = frame.showTitle ? QString::fromStdString(frame.title) : QString();

  // One size for the lines and the title, the largest at which the widest fits.
  int pixels = int(h * kLineSize);
  {
    const QFontMetrics m(fontOfPixels(pixels));
    const int widest = std::max(
        {m.horizontalAdvance(current), m.horizontalAdvance(next), m.horizontalAdvance(title)});
    const double room = area.width() * kWidthUsed;
    if (widest > room) pixels = std::max(1, int(pixels * room / widest));
  }
  const QFont font = fontOfPixels(pixels);
  const QFontMetrics m(font);
  p.setFont(font);
  const int centre = area.left() + area.width() / 2;
  const int lineY = area.top() + int(h * kLineBaseline);

  if (!title.isEmpty()) {
    p.setPen(kSingerTitle);
    p.drawText(centre - m.horizontalAdvance(title) / 2, area.top() + int(h * kTitleBaseline),
               title);
  }
  if (frame.showTitle && !frame.artist.empty()) {
    const QFont small = fontOfPixels(pixels * 2 / 3);
    const QString artist = QString::fromStdString(frame.artist);
    p.setFont(small);
    p.setPen(kSingerUnlit);
    p.drawText(centre - QFontMetrics(small).horizontalAdvance(artist) / 2,
               area.top() + int(h * kArtistBaseline), artist);
    p.setFont(font);
  }

  if (!current.isEmpty()) {
    const karaoke::LyricLine& line = lyrics.lines[size_t(frame.currentLine)];
    const int x0 = centre - m.horizontalAdvance(current) / 2;
    // The lit edge: the syllables sung in full, then the share of the one being sung.
    QString before;
    double litX = x0 + m.horizontalAdvance(current);
    for (size_t i = 0; i < line.syllables.size(); ++i) {
      const double lit = i < frame.lit.size() ? frame.lit[i] : 0;
      const QString syllable = QString::fromStdString(line.syllables[i].text);
      if (lit < 1) {
        litX = x0 + m.horizontalAdvance(before) + lit * m.horizontalAdvance(syllable);
        break;
      }
      before += syllable;
    }
    const QRectF band(area.left(), lineY - m.ascent() - 1, area.width(), m.height() + 2);
    p.save();
    p.setClipRect(QRectF(band.left(), band.top(), litX - band.left(), band.height()));
    p.setPen(kSingerLit);
    p.drawText(x0, lineY, current);
    p.setClipRect(QRectF(litX, band.top(), band.right() - litX, band.height()));
    p.setPen(kSingerUnlit);
    p.drawText(x0, lineY, current);
    p.restore();
  }
  if (!next.isEmpty()) {
    p.setPen(kSingerUnlit);
    // Before the first line the line to come sits where it will be sung.
    const int y = current.isEmpty() ? lineY : lineY + m.height() * 5 / 4;
    p.drawText(centre - m.horizontalAdvance(next) / 2, y, next);
  }

  if (frame.countIn > 0) {
    // One light a beat still to come: 3, 2, 1.
    const double r = std::max(2.0, pixels * 0.18);
    const double cy = area.top() + h * kCountInCentre;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kSingerTitle);
    for (int i = 0; i < frame.countIn; ++i) {
      const double cx = centre + (i - (frame.countIn - 1) / 2.0) * r * 3;
      p.drawEllipse(QPointF(cx, cy), r, r);
    }
    p.restore();
  }

  if (frame.timeLeftMs > 0) {
    const QFont small = fontOfPixels(std::max(8, h / 18));
    const QFontMetrics sm(small);
    const QString left = timeLeftText(frame.timeLeftMs);
    p.setFont(small);
    p.setPen(kSingerTitle);
    p.drawText(area.right() - sm.horizontalAdvance(left) - sm.height() / 2,
               area.bottom() - sm.descent() - sm.height() / 4, left);
    p.setFont(font);
  }
}

void paintCdgPicture(QPainter& p, const QRect& area, const QImage& picture, QColor border) {
  p.fillRect(area, border);
  if (picture.isNull() || area.isEmpty()) return;
  const double scale =
      std::min(double(area.width()) / picture.width(), double(area.height()) / picture.height());
  const QSizeF size(picture.width() * scale, picture.height() * scale);
  const QRectF target(area.left() + (area.width() - size.width()) / 2,
                      area.top() + (area.height() - size.height()) / 2, size.width(),
                      size.height());
  p.save();
  p.setRenderHint(QPainter::SmoothPixmapTransform, scale < 2);
  p.drawImage(target, picture);
  p.restore();
}

void paintPitchLane(QPainter& p, const QRect& area, const karaoke::LaneFrame& lane) {
  p.fillRect(area, kLaneBackground);
  const double keys = lane.highKey - lane.lowKey;
  if (keys <= 0 || area.isEmpty()) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double rowH = area.height() / keys;
  const auto xAt = [&](double x) { return area.left() + x * area.width(); };
  const auto yAt = [&](double key) { return area.bottom() - (key - lane.lowKey) * rowH; };
  // A faint rule at every C.
  p.setPen(QPen(kLaneNote.darker(160), 1));
  for (int k = int(std::ceil(lane.lowKey)); k <= int(lane.highKey); ++k)
    if (k % 12 == 0) p.drawLine(QPointF(area.left(), yAt(k)), QPointF(area.right(), yAt(k)));
  p.setPen(Qt::NoPen);
  for (const karaoke::LaneBar& b : lane.bars) {
    p.setBrush(b.now ? kSingerLit : kLaneNote);
    p.drawRoundedRect(QRectF(QPointF(xAt(b.x0), yAt(b.key + 0.5)), QPointF(xAt(b.x1), yAt(b.key - 0.5))),
                      rowH / 3, rowH / 3);
  }
  p.setPen(QPen(kSingerTitle, std::max(1.0, area.width() / 400.0)));
  p.drawLine(QPointF(xAt(lane.nowX), area.top()), QPointF(xAt(lane.nowX), area.bottom()));
  p.setPen(Qt::NoPen);
  p.setBrush(kLaneVoice);
  const double r = std::clamp(rowH / 3, 1.5, 6.0);
  for (const karaoke::LaneDot& d : lane.sung) p.drawEllipse(QPointF(xAt(d.x), yAt(d.key)), r, r);
  p.restore();
}

// ---- SingerView -------------------------------------------------------------------------

void SingerView::setSong(std::shared_ptr<const SingerSong> song) {
  song_ = std::move(song);
  frame_ = {};
  cdgPicture_ = {};
  border_ = kSingerBackground;
  cdg_.reset();
  if (song_ && !song_->cdg.empty()) cdg_ = std::make_unique<karaoke::CdgDecoder>(song_->cdg);
}

void SingerView::setSinging(std::shared_ptr<const singing::LiveSinging> singing) {
  singing_ = std::move(singing);
}

void SingerView::moveTo(double songMs, double lengthMs, int key) {
  static const karaoke::TimedLyrics kNone;
  frame_ = karaoke::presentAt(song_ ? song_->lyrics : kNone, songMs, lengthMs);
  lane_ = {};
  if (hasLane()) {
    static const std::vector<singing::SungPoint> kNoneSung;
    lane_ = karaoke::laneAt(*song_->melody, key, singing_ ? singing_->sung() : kNoneSung, songMs);
  }
  if (!cdg_) return;
  const size_t packet = karaoke::CdgDecoder::packetAt(std::max(0.0, songMs) / 1000);
  const size_t before = cdg_->position();
  cdg_->renderAt(packet);
  if (cdgPicture_.isNull() || cdg_->position() != before) {
    const std::vector<uint8_t> rgba = cdg_->toRgba();
    cdgPicture_ = QImage(rgba.data(), karaoke::kCdgWidth, karaoke::kCdgHeight,
                         karaoke::kCdgWidth * 4, QImage::Format_RGBA8888)
                      .copy();
    const uint32_t b = cdg_->borderRgba();
    border_ = QColor(int(b >> 24), int((b >> 16) & 0xFF), int((b >> 8) & 0xFF));
  }
}

void SingerView::paint(QPainter& p, const QRect& area) const {
  QRect top = area;
  if (hasLane()) {
    const int laneH = int(area.height() * kLaneShare);
    top.setBottom(area.bottom() - laneH);
    paintPitchLane(p, QRect(area.left(), top.bottom() + 1, area.width(), laneH), lane_);
  }
  if (cdg_) {
    paintCdgPicture(p, top, cdgPicture_, border_);
    return;
  }
  static const karaoke::TimedLyrics kNone;
  paintSingerFrame(p, top, song_ ? song_->lyrics : kNone, frame_);
}

// ---- SingerScreen -----------------------------------------------------------------------

SingerScreen::SingerScreen(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("SingerScreen");
  setWindowTitle("orivelR - Singer Screen");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(320, 180);
  resize(960, 540);
  timer_.setInterval(kFrameMs);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &SingerScreen::tick);
  lineScoreTimer_.setSingleShot(true);
  lineScoreTimer_.setInterval(kLineScoreMs);
  connect(&lineScoreTimer_, &QTimer::timeout, this, [this] {
    lineScore_.reset();
    update();
  });
  screenIndex_ = preferredScreen();
}

void SingerScreen::setSong(std::shared_ptr<const SingerSong> song) {
  view_.setSong(std::move(song));
  if (isVisible()) tick();
}

int SingerScreen::preferredScreen() {
  const QList<QScreen*> screens = QGuiApplication::screens();
  const QString saved = QSettings().value(kScreenSetting).toString();
  for (int i = 0; i < screens.size(); ++i)
    if (!saved.isEmpty() && screens[i]->name() == saved) return i;
  return screens.size() > 1 ? 1 : 0;
}

void SingerScreen::chooseScreen(int index) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (index < 0 || index >= screens.size()) return;
  screenIndex_ = index;
  QSettings().setValue(kScreenSetting, screens[index]->name());
  if (isVisible()) placeOnScreen();
}

void SingerScreen::placeOnScreen() {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return;
  QScreen* screen = screens[std::clamp(screenIndex_, 0, int(screens.size()) - 1)];
  // A full-screen window moves to another screen through the normal state.
  const bool full = isFullScreen();
  if (full) showNormal();
  if (QWindow* w = windowHandle()) w->setScreen(screen);
  const QRect g = screen->availableGeometry();
  move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
  if (full) showFullScreen();
}

void SingerScreen::toggleFullScreen() {
  if (isFullScreen())
    showNormal();
  else
    showFullScreen();
}

void SingerScreen::setSinging(std::shared_ptr<const singing::LiveSinging> singing) {
  view_.setSinging(std::move(singing));
}

void SingerScreen::showLineScore(int score) {
  lineScore_ = score;
  lineScoreTimer_.start();
  update();
  emit lineScoreShown(score);
}

void SingerScreen::tick() {
  view_.moveTo(clock_.position(), clock_.length(), clock_.key());
  update();
}

QString scoreText(int total) {
  return QString("Punteggio: %1 / %2").arg(groupedScore(total), groupedScore(10000));
}

void SingerScreen::setScore(std::optional<int> total) {
  score_ = total;
  update();
}

void SingerScreen::paintEvent(QPaintEvent*) {
  QPainter p(this);
  view_.paint(p, rect());
  if (score_) {
    QFont f = font();
    f.setPixelSize(std::max(12, height() / 20));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(rect().adjusted(0, 0, -height() / 40, -height() / 40),
               Qt::AlignRight | Qt::AlignBottom, scoreText(*score_));
  }
  if (lineScore_) {
    // Over the top of the lane, while the next line starts above it.
    QFont f = font();
    f.setPixelSize(std::max(12, height() / 16));
    f.setBold(true);
    p.setFont(f);
    p.setPen(kSingerTitle);
    const int laneTop = height() - int(height() * kLaneShare);
    p.drawText(QRect(0, laneTop - height() / 10, width(), height() / 10), Qt::AlignCenter,
               groupedScore(*lineScore_));
  }
}

void SingerScreen::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F11) {
    toggleFullScreen();
  } else if (event->key() == Qt::Key_Escape && isFullScreen()) {
    showNormal();
  } else {
    QWidget::keyPressEvent(event);
  }
}

void SingerScreen::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* full = menu.addAction("Full Screen\tF11");
  full->setCheckable(true);
  full->setChecked(isFullScreen());
  connect(full, &QAction::triggered, this, &SingerScreen::toggleFullScreen);
  menu.addSeparator();
  auto* group = new QActionGroup(&menu);
  const QList<QScreen*> screens = QGuiApplication::screens();
  for (int i = 0; i < screens.size(); ++i) {
    const QRect g = screens[i]->geometry();
    QAction* a = menu.addAction(QString("Screen %1: %2 (%3 x %4)")
                                    .arg(i + 1)
                                    .arg(screens[i]->name())
                                    .arg(g.width())
                                    .arg(g.height()));
    a->setCheckable(true);
    a->setChecked(i == screenIndex_);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, i] { chooseScreen(i); });
  }
  menu.exec(event->globalPos());
}

void SingerScreen::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  placeOnScreen();
  tick();
  timer_.start();
  emit shownChanged(true);
}

void SingerScreen::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (event->spontaneous()) return;
  timer_.stop();
  emit shownChanged(false);
}

// ---- SingerPicture ----------------------------------------------------------------------

SingerPicture::SingerPicture(QLabel* picture, QObject* parent)
    : QObject(parent), picture_(picture) {
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &SingerPicture::tick);
}

void SingerPicture::setSong(std::shared_ptr<const SingerSong> song, SongClock clock,
                            std::function<bool()> active) {
  const bool shows = song && song->showsSomething();
  view_.setSong(std::move(song));
  clock_ = std::move(clock);
  active_ = std::move(active);
  if (shows)
    timer_.start();
  else
    timer_.stop();
}

void SingerPicture::stop() {
  timer_.stop();
}

void SingerPicture::tick() {
  if (!view_.showsSomething() || (active_ && !active_())) {
    timer_.stop();
    return;
  }
  view_.moveTo(clock_.position(), clock_.length());
  QPixmap pixmap(picture_->size());
  QPainter p(&pixmap);
  view_.paint(p, pixmap.rect());
  p.end();
  picture_->setPixmap(pixmap);
}

}  // namespace app
