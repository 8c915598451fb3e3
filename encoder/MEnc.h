// The MP3 encoder as the windows use it: the file names, bit rate and channel mode as
// properties, StartEncoding / StopEncoding, and Progress / TimeLeft delivered on the thread the
// object lives on. The work runs on a worker thread of its own.
//
// A StartEncoding while an encoding runs is queued with the properties as they are at that
// moment and starts when the running one ends, so two jobs never share a file. StopEncoding
// stops the running job and drops the queued ones.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "Mp3Encode.h"

class MEnc : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString SourceFile READ SourceFile WRITE setSourceFile)
  Q_PROPERTY(QString TargetFile READ TargetFile WRITE setTargetFile)
  Q_PROPERTY(int BitRateBps READ BitRateBps WRITE setBitRateBps RESET resetBitRateBps)
  Q_PROPERTY(int ChannelMode READ ChannelMode WRITE setChannelMode RESET resetChannelMode)

 public:
  explicit MEnc(QObject* parent = nullptr);
  ~MEnc() override;  // stops the running job and waits for the worker

  QString SourceFile() const { return source_; }
  void setSourceFile(const QString& path) { source_ = path; }
  QString TargetFile() const { return target_; }
  void setTargetFile(const QString& path) { target_ = path; }
  // 0 when never set; bitRate() tells "never set" apart.
  int BitRateBps() const { return bitRate_.value_or(0); }
  void setBitRateBps(int bps) { bitRate_ = bps; }
  void resetBitRateBps() { bitRate_.reset(); }
  std::optional<int> bitRate() const { return bitRate_; }
  int ChannelMode() const { return channelMode_.value_or(0); }
  void setChannelMode(int mode) { channelMode_ = mode; }
  void resetChannelMode() { channelMode_.reset(); }
  std::optional<int> channelMode() const { return channelMode_; }

  // Returns at once. An unset bit rate encodes at 128000 bit/s, an unset mode in stereo.
  Q_INVOKABLE void StartEncoding();
  Q_INVOKABLE void StopEncoding();
  // A job runs or waits.
  bool busy() const;

 signals:
  void Progress(int percent);
  void TimeLeft(double seconds);
  // The MP3 was made other than asked, for the user to read (a bit rate its sample rate
  // cannot have: the nearest one it can was taken); before the Progress of 100.
  void Notice(QString text);
  // The encoding failed; nothing was written under the target name. Not raised for a stop.
  void Failed(QString text);
  // The encoding was stopped; nothing was written under the target name.
  void Stopped();

 private:
  void work();

  QString source_;
  QString target_;
  std::optional<int> bitRate_;
  std::optional<int> channelMode_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<encoder::EncodeSettings> queue_;
  bool running_ = false;
  bool quit_ = false;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};
