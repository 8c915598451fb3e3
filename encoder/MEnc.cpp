#include "MEnc.h"

#include <QLoggingCategory>
#include <QMetaObject>

Q_LOGGING_CATEGORY(lcEnc, "orivelR.encoder")

MEnc::MEnc(QObject* parent) : QObject(parent) {}

MEnc::~MEnc() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    queue_.clear();
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void MEnc::StartEncoding() {
  encoder::EncodeSettings s;
  s.source = source_.toStdString();
  s.target = target_.toStdString();
  s.bitRateBps = bitRate_.value_or(encoder::kDefaultBitRateBps);
  s.channelMode = channelMode_.value_or(encoder::kChannelStereo);
  {
    std::lock_guard lock(mutex_);
    if (running_ || !queue_.empty())
      qCInfo(lcEnc) << "queued behind the running encoding:" << target_;
    queue_.push_back(std::move(s));
    if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
  }
  wake_.notify_one();
}

void MEnc::StopEncoding() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  if (running_) stop_ = true;
}

bool MEnc::busy() const {
  std::lock_guard lock(mutex_);
  return running_ || !queue_.empty();
}

void MEnc::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    const encoder::EncodeSettings job = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    stop_ = false;
    lock.unlock();

    // Everything reaches the window thread queued; events still pending when this object is
    // destroyed are dropped with it. The end (100 %, a failure, a stop) is posted once the job
    // no longer counts as running, so that busy() is false by the time it is handled.
    const auto post = [this](int p, std::optional<double> s) {
      QMetaObject::invokeMethod(
          this, [this, p] { emit Progress(p); }, Qt::QueuedConnection);
      if (s)
        QMetaObject::invokeMethod(
            this, [this, v = *s] { emit TimeLeft(v); }, Qt::QueuedConnection);
    };
    std::optional<double> lastLeft;
    const auto result = encoder::encodeMp3(job, stop_, [&](int p, std::optional<double> s) {
      if (p < 100)
        post(p, s);
      else
        lastLeft = s;
    });

    lock.lock();
    running_ = false;
    if (result.ok) {
      if (!result.notice.empty())
        QMetaObject::invokeMethod(
            this, [this, text = QString::fromStdString(result.notice)] { emit Notice(text); },
            Qt::QueuedConnection);
      post(100, lastLeft);
    } else if (result.cancelled) {
      QMetaObject::invokeMethod(
          this, [this] { emit Stopped(); }, Qt::QueuedConnection);
    } else {
      qCWarning(lcEnc) << "encoding failed:" << result.error.c_str();
      QMetaObject::invokeMethod(
          this, [this, text = QString::fromStdString(result.error)] { emit Failed(text); },
          Qt::QueuedConnection);
    }
  }
}
