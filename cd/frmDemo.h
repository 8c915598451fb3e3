// The CD window "CD Player &  Ripper": the drive list and its information panel, the track
// list (from the track lengths or the disc's CD-TEXT), playback with volume, balance, position
// and two level bars, the door and lock buttons, and the extraction of a track to TRACK.WAV
// (handed to the main window as its next song) or to TRACK<n>.WMA with its tags.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

#include "bass.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;

class frmDemo : public QWidget {
  Q_OBJECT
 public:
  explicit frmDemo(QWidget* parent = nullptr);
  ~frmDemo() override;

  // What a WAV rip hands to the main window: the caption of its song label (the rip is the
  // work folder's TRACK.WAV).
  std::function<void(const QString& caption)> onTrackRipped;
  // A rip starts (true) or ends (false): the main window keeps its take and player off it.
  std::function<void(bool running)> onRipRunning;

  // ---- state
  HSTREAM cdStream = 0;
  int driveIndex = 0;
  int lastDriveIndex = -1;
  bool positionDragging = false;
  std::array<QString, 8> wmaTagNames;

  // ---- controls (as named in the window's design)
  QLabel* Label1;
  QComboBox* cmbCDDrives;
  QListWidget* lstTracks;
  QLineEdit* txtCDArtist;
  QLineEdit* txtCDAlbum;
  std::array<QLabel*, 2> Label8;
  QLabel* Label6;
  std::array<QPushButton*, 10> cmdButton;
  QSlider* SliderVolume;
  QLabel* lblVolume;
  QSlider* SliderBalance;
  QLabel* lblBalance;
  QLabel* Label5;
  QSlider* SliderPosition;
  QLabel* Label3;
  QLabel* lblTrackPosition;
  std::array<QProgressBar*, 2> picVUMeter;
  QGroupBox* frameDriveInfo;
  std::array<QCheckBox*, 15> chkRWFlags;
  QLabel* lblMaxReadSpeed;
  QLabel* lblCacheSize;
  QGroupBox* Frame1;
  std::array<QRadioButton*, 2> optExtractMode;
  QWidget* picWMAExtractOptions;
  QLabel* lblBitrates;
  QComboBox* cmbWMAEncodingBitrate;
  QCheckBox* chkWMAFileTags;
  std::array<QLineEdit*, 8> txtWMATags;
  QTimer tmrPlaybackPosition;

  // ---- handlers and procedures
  void Form_Load();
  void cmbCDDrives_Click();
  void cmdButton_Click(int index);
  void lstTracks_Click();
  void SliderVolume_Scroll();
  void SliderBalance_Scroll();
  void SliderPosition_Click();
  void optExtractMode_Click();
  void tmrPlaybackPosition_Timer();
  void PlayTrack(int track);
  void PlayNextTrack(int track);
  void CDError();
  void LoadTrackList();
  void ShowDriveInfo();
  void FadeOut();
  void LoadWMAEncoderRates();
  void ExtractAudioTrack(int track);
  void ExtractAudioTrackToWMA(int track, DWORD bitrate);
  void ShowErrorCode(const QString& text, int code);
  void ReportRoutineError(const QString& module, const QString& routine, int number,
                          const QString& description);

  static constexpr int kCollapsedHeight = 501;  // 7515 twips
  static constexpr int kExpandedHeight = 766;   // 11490 twips

 protected:
  void closeEvent(class QCloseEvent* event) override;
  // The drive is polled only while the window is shown.
  void showEvent(class QShowEvent* event) override;
  void hideEvent(class QHideEvent* event) override;

 private:
  void build();
  void connectHandlers();
  void clearMeters();
  // The engine's notifications, on its thread: handed to the window's.
  static void EndSyncProc(HSYNC, DWORD, DWORD, void* user);
  static void ErrorSyncProc(HSYNC, DWORD, DWORD, void* user);
};
