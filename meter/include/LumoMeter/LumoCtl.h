// LumoCtl: a sound-level meter control. It lists the machine's sound devices, captures from
// one of them and shows the level as two LED rows (left, right) or an oscilloscope trace,
// records what it captures to a PCM WAV file while it keeps metering, and plays PCM WAV files
// back while it meters them. It reports everything through its signals and never throws or
// shows a message box. Properties, methods and signals keep their order and names so that a
// host can drive the control by name through Qt's meta-object system.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QWidget>
#include <memory>

#if defined(LUMOMETER_LIBRARY)
#define LUMOMETER_EXPORT Q_DECL_EXPORT
#else
#define LUMOMETER_EXPORT Q_DECL_IMPORT
#endif

// The property bag a host keeps the control's design-time properties in: a value per name.
// `read` returns `fallback` when the bag holds no value of that name.
class LUMOMETER_EXPORT LumoPropertyBag {
 public:
  virtual ~LumoPropertyBag() = default;
  virtual QVariant read(const QString& name, const QVariant& fallback) const = 0;
  virtual void write(const QString& name, const QVariant& value) = 0;
  virtual void remove(const QString& name) = 0;
};

// A bag on QSettings, under a group of the host's choosing.
class LUMOMETER_EXPORT LumoSettingsBag : public LumoPropertyBag {
 public:
  LumoSettingsBag(class QSettings& settings, const QString& group);
  QVariant read(const QString& name, const QVariant& fallback) const override;
  void write(const QString& name, const QVariant& value) override;
  void remove(const QString& name) override;

 private:
  class QSettings& settings_;
  QString group_;
};

class LumoCtlPrivate;

class LUMOMETER_EXPORT LumoCtl : public QWidget {
  Q_OBJECT

 public:
  enum SoundDriverTypeConstants { sdtcOutput = 0, sdtcInput = 1 };
  Q_ENUM(SoundDriverTypeConstants)
  // One bit per capture format: 11025/22050/44100 Hz, mono/stereo, 8/16 bit.
  enum QualityConstants {
    qc11M08 = 1,
    qc11S08 = 2,
    qc11M16 = 4,
    qc11S16 = 8,
    qc22M08 = 16,
    qc22S08 = 32,
    qc22M16 = 64,
    qc22S16 = 128,
    qc44M08 = 256,
    qc44S08 = 512,
    qc44M16 = 1024,
    qc44S16 = 2048
  };
  Q_ENUM(QualityConstants)
  enum ReturnTimeFormatConstants { rtfcSimple = 0, rtfcFull = 1 };
  Q_ENUM(ReturnTimeFormatConstants)
  enum OrientationConstants { ocVertical = 0, ocHorizontal = 1 };
  Q_ENUM(OrientationConstants)
  enum StyleConstants { scVU = 0, scOsc = 1 };
  Q_ENUM(StyleConstants)
  enum ResolutionConstants { rcBest = 1, rcGood = 3, rcLow = 6, rcVeryLow = 10 };
  Q_ENUM(ResolutionConstants)
  enum StateConstants {
    scIdle = 0,
    scRunning = 1,
    scSaving = 2,
    scStopSaving = 3,
    scPlaying = 4,
    scStopPlaying = 5
  };
  Q_ENUM(StateConstants)

  // Colours are RGB values with red in the low byte; BackgroundColor may also name a system
  // colour (0x8000000F, the button face).
  Q_PROPERTY(qint64 BackgroundColor READ BackgroundColor WRITE setBackgroundColor)
  Q_PROPERTY(qint16 NumVUs READ NumVUs WRITE setNumVUs)
  Q_PROPERTY(QString Version READ Version)
  Q_PROPERTY(int Orientation READ Orientation WRITE setOrientation)
  Q_PROPERTY(int Quality READ Quality WRITE setQuality)
  Q_PROPERTY(int Style READ Style WRITE setStyle)
  Q_PROPERTY(int Resolution READ Resolution WRITE setResolution)
  Q_PROPERTY(int State READ State)
  Q_PROPERTY(QString FileName READ FileName WRITE setFileName)
  Q_PROPERTY(bool EnableRendering READ EnableRendering WRITE setEnableRendering)
  Q_PROPERTY(QString Background READ Background WRITE setBackground)
  Q_PROPERTY(qint64 RedOFF READ RedOFF WRITE setRedOFF)
  Q_PROPERTY(qint64 RedON READ RedON WRITE setRedON)
  Q_PROPERTY(qint64 GreenOFF READ GreenOFF WRITE setGreenOFF)
  Q_PROPERTY(qint64 GreenON READ GreenON WRITE setGreenON)
  Q_PROPERTY(qint64 YellowOFF READ YellowOFF WRITE setYellowOFF)
  Q_PROPERTY(qint64 YellowON READ YellowON WRITE setYellowON)
  Q_PROPERTY(int SoundDriversCount READ SoundDriversCount)
  Q_PROPERTY(int SoundDriver READ SoundDriver WRITE setSoundDriver)
  Q_PROPERTY(float Calibration READ Calibration WRITE setCalibration)

 public:
  explicit LumoCtl(QWidget* parent = nullptr);
  ~LumoCtl() override;

  // 1.
  qint64 BackgroundColor() const;
  void setBackgroundColor(qint64 colour);
  // 2.
  qint16 NumVUs() const;
  void setNumVUs(qint16 count);
  // 3. "2.0.8"
  QString Version() const;
  // 4.–9.
  Q_INVOKABLE void StartVU();
  Q_INVOKABLE void StopVU();
  // Seconds > 0 ends the recording by itself after that many seconds.
  Q_INVOKABLE void StartRecording(int Seconds = 0);
  Q_INVOKABLE void StopRecording();
  Q_INVOKABLE void StartPlaying(bool PlayLooped = false);
  Q_INVOKABLE void StopPlaying();
  // 10.
  int Orientation() const;
  void setOrientation(int orientation);
  // 11. Sets Quality from the file last opened by StartPlaying.
  Q_INVOKABLE void GetFileQuality();
  // 12.–18.
  int Quality() const;
  void setQuality(int quality);
  int Style() const;
  void setStyle(int style);
  int Resolution() const;
  void setResolution(int resolution);
  int State() const;
  QString FileName() const;
  void setFileName(const QString& name);
  void setEnableRendering(bool enable);
  bool EnableRendering() const;
  QString Background() const;
  void setBackground(const QString& path);
  // 19.
  qint64 RedOFF() const;
  void setRedOFF(qint64 colour);
  qint64 RedON() const;
  void setRedON(qint64 colour);
  qint64 GreenOFF() const;
  void setGreenOFF(qint64 colour);
  qint64 GreenON() const;
  void setGreenON(qint64 colour);
  qint64 YellowOFF() const;
  void setYellowOFF(qint64 colour);
  qint64 YellowON() const;
  void setYellowON(qint64 colour);
  // 20. {seconds} for rtfcSimple, {seconds, minutes, hours} for rtfcFull, else empty.
  Q_INVOKABLE QVector<float> SavedTime(int TimeFormat) const;
  // 21.–25. Devices: capture devices first, then output devices; idx is 1-based.
  int SoundDriversCount() const;
  int SoundDriver() const;
  void setSoundDriver(int driver);
  Q_INVOKABLE QString SoundDriverName(int idx) const;
  Q_INVOKABLE int SoundDriverType(int idx) const;
  Q_INVOKABLE QString SoundDriverDescription(int idx) const;
  // 26.
  float Calibration() const;
  void setCalibration(float calibration);

  // Capture and playback notifications, delivered on the window thread.
  Q_INVOKABLE void DXCallback(int eventid);

  // Persistence through the host's property bag.
  void ReadProperties(const LumoPropertyBag& bag);
  void WriteProperties(LumoPropertyBag& bag) const;

  // The file quality code of the file last opened for playback ("4S16"…).
  QString FileQualityCode() const;
  // The entry (1-based) of the system's default capture device in the device list.
  Q_INVOKABLE int DefaultSoundDriver() const;

 signals:
  void SavedBytes(double Bytes);
  void Error(int Number, const QString& Message);
  void StateChanged(int NewState);
  // The raw bytes just metered; FromPos and ToPos are the first and last byte of the stretch.
  void PeakValues(const QByteArray& Values, int FromPos, int ToPos);
  void Click();
  void DblClick();
  void MouseDown(qint16 Button, qint16 Shift, float X, float Y);
  void MouseMove(qint16 Button, qint16 Shift, float X, float Y);
  void MouseUp(qint16 Button, qint16 Shift, float X, float Y);
  // A persisted property changed (the container's "property changed" notice).
  void PropertyChanged(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  friend class LumoCtlPrivate;
  std::unique_ptr<LumoCtlPrivate> d;
};
