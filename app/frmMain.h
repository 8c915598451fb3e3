// The main window: one fixed window with every panel side by side and the menu bar. Its
// initialise handler checks and starts the engine, its load handler prepares the panels in
// their order; its handlers read the controls and call the player's procedures.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

#include "AudioPlayer.h"
#include "MidiPlayer.h"
#include "NeedleMeter.h"
#include "Patches.h"
#include "Score.h"
#include "Services.h"
#include "Session.h"
#include "WavePlayer.h"

class LumoCtl;
class MEnc;
class Form1;
class frmDemo;
class QProgressBar;
namespace recorder {
class VRMixer;
}
namespace player {
class SongLoudness;
}
namespace app {
class SingerScreen;
class SingerPicture;
}  // namespace app
namespace singing {
class LiveSinging;
struct Melody;
}  // namespace singing
class NeedlePicture;
class QAction;
class QCheckBox;
class QGroupBox;
class QListWidget;
class QLabel;
class QMenu;
class QScrollBar;
class QSlider;
class QSpinBox;
class QToolButton;

namespace Ui {
class frmMain;
}

class frmMain : public QMainWindow {
  Q_OBJECT
 public:
  frmMain();
  ~frmMain() override;

  bool initialised() const { return initialised_; }
  // The load handler; false when start-up ended the program.
  bool Form_Load();

  // ---- controls (as named in the window's design)
  QToolButton* Cmdplw;
  QToolButton* cmdstw;
  QToolButton* cmdrec;
  QToolButton* cmdstop;
  QToolButton* cmdplaystop;
  QToolButton* cmdsave;
  QToolButton* Cmd_Play;
  QToolButton* Cmd_Stop;
  QSlider* SliderPosition;
  QSlider* SliderBalance;
  QLabel* Label5;
  QLabel* lblTime;
  QLabel* lblTrackPosition;
  QLabel* LabelSongLength;
  QLabel* Picture2;
  QLabel* Picture3;
  QGroupBox* Frame8;
  QCheckBox* Chkrem;
  QCheckBox* Chkcmp;
  QCheckBox* Chklow;
  QCheckBox* chkEqualizer;
  std::array<QSlider*, 1> vcompr;
  std::array<QSlider*, 1> Slider3;
  std::array<QSlider*, 8> vseq;
  std::array<QScrollBar*, 8> Veq1;
  QMenu* MnuFile;
  QMenu* Meff;
  QMenu* mnutil;
  QAction* menuwave;
  QAction* MnuExit;
  // the MIDI player
  QAction* MnuOpenSong;
  QAction* dlsbank;
  QScrollBar* vscroll1;
  QSlider* vslidertempo;
  std::array<QLabel*, 3> lblInfo;  // 0 the key, 2 the tempo step (1 unused)
  QSlider* Slider1;
  QScrollBar* HScroll3;
  std::array<QSlider*, 16> Slider2;
  std::array<QToolButton*, 16> Check1;
  std::array<QToolButton*, 16> Option1;
  QListWidget* List3;
  // the level meter
  LumoCtl* lumo1;
  NeedlePicture* picanalogl;
  NeedlePicture* picanalogr;
  QSlider* hsCalibration;
  QLabel* lblFactor;
  QAction* vmet;
  // the recorder, the mixer panel and the MP3 export
  QToolButton* cmdsavewav;
  QListWidget* cmbQuality;
  QAction* mnew;
  QAction* mnwave;
  QAction* inputmenu;
  QAction* Mmp3;
  QMenu* cvmenu;
  QAction* wavp3;
  QListWidget* cboRecSrcType;
  QSlider* sldRecVolume;
  QSlider* Sldmastervolume;
  QSlider* SLDPLAYVOLUME;
  QCheckBox* CHKPLAYMUTE;
  QToolButton* Cominput;
  QToolButton* Comout;
  QListWidget* Combo1;
  QToolButton* encstop;
  QProgressBar* prog;
  MEnc* MEnc1;
  std::unique_ptr<recorder::VRMixer> VRMixer1;
  std::unique_ptr<Form1> converter;
  // help and about
  QAction* Mhelp;
  QAction* MnuAbout;
  // the CD window
  QAction* cdripper;
  std::unique_ptr<frmDemo> cdWindow;
  // the song's key and tempo, the guide voice, the same loudness for every song
  QSpinBox* spinKey = nullptr;
  QSpinBox* spinTempo = nullptr;
  QToolButton* cmdKeyTempoReset = nullptr;
  QSlider* sliderVoice = nullptr;
  QAction* actSameLoudness = nullptr;
  QAction* actRemoverSide = nullptr;
  QAction* actRemoverCentre = nullptr;
  std::unique_ptr<player::SongLoudness> loudness;
  QTimer tmrLoudness;
  QTimer Timer;
  QTimer tmrPlaybackPosition;
  QTimer Timer1;
  QTimer Timer2;
  QTimer Timer3;

  // ---- state of the window (shared by the players and the recorder)
  struct CommonDialog {
    QString FileName;
  } CMDialog1;
  // The window's modes; the flags keep their names as references into it.
  player::Session session;
  bool& ripPending = session.ripPending;
  bool& audioSong = session.audioSong;
  bool& freeRecording = session.freeRecording;
  bool& recordFinished = recorder::recordFinished;  // the recorder's, shared with WavePlayer
  bool& stopRequested = recorder::stopRequested;
  bool& recordingTake = session.recordingTake;
  // the MIDI player: the sequencer, the song and its state (songLoaded, songPlaying, ...)
  std::unique_ptr<player::MidiPlayer> midiPlayer;
  int lyricFontSize = 36;
  int selectedChannel = 0;
  int patchListClicks = 0;
  QString instrumentTip;
  app::PlayerMessages playerMessages;
  std::unique_ptr<player::PlayerControls> controls;
  std::unique_ptr<player::AudioPlayer> player;
  bool& audioPlaying = session.audioPlaying;  // a song started by Cmdplw is playing
  // the needle meters: the calibration factor and the last shown values of each needle
  float calibrationFactor = 2.5f;
  needle::NeedleSmoother needleLeft;
  needle::NeedleSmoother needleRight;

  // ---- handlers and procedures
  void menuwave_Click();
  void Cmdplw_Click();
  void cmdstw_Click();
  void cmdstop_Click();
  void recAudio();
  void abilita();
  void dismenu();
  void enamenu();
  void tmrPlaybackPosition_Timer();
  void Timer2_Timer();
  void SliderBalance_Change();
  void Chkrem_Click();
  void default_();
  void Chkcmp_Click();
  void Chklow_Click();
  void chkEqualizer_Click();
  void vcompr_Change(int index);
  void Slider3_Change(int index);
  void vseq_Change(int index);
  void Veq1_Change(int index);
  void MnuExit_Click();
  // the song's key and tempo, the guide voice, the loudness
  void songSetup();
  void songChosen(const QString& path);
  void spinKey_Change();
  void spinTempo_Change();
  void cmdKeyTempoReset_Click();
  void moveKey(int step);
  void moveTempo(int step);
  void sliderVoice_Change();
  void actSameLoudness_Click();
  void mnuRemover_Click();
  void applySongGain(bool ramp);
  void tmrLoudness_Timer();

  // the MIDI player, its lyrics and its channel mixer
  void Initialize();
  void MnuOpenSong_Click();
  bool ChooseSongFile();
  void OpenMusic();
  void readfile();
  void Cmd_Play_Click();
  void Cmd_Stop_Click();
  void vscroll1_Change();
  void vslidertempo_Change();
  void Slider1_Change();
  void dlsbank_Click();
  void Timer_Timer();
  void Timer1_Timer();
  void Timer3_Timer();
  void dmenu();
  void ZeroVariables();
  void LoadPatches();
  void fillChannelStrips();
  std::array<int, 16> channelSliders() const;
  void midiSongEnded();
  void audioSongEnded();
  void Slider2_Change(int index);
  void Check1_Click(int index);
  void Option1_Click(int index);
  void List3_Click();
  void Error_(const QString& message);

  // the level meter
  void meterSetup();
  void vmet_Click();
  void hsCalibration_Change();
  void lumo1_PeakValues(const QByteArray& Values, int FromPos, int ToPos);

  // the recorder
  void recorderSetup();
  void cmdrec_Click();
  void cmdplaystop_Click();
  void cmdsave_Click();
  void cmdsavewav_Click();
  void mnwave_Click();
  void cmbQuality_Click(int index);
  void mnew_Click();
  // the mixer panel
  void mixerSetup();
  void inputmenu_Click();
  void cboRecSrcType_Click();
  void sldRecVolume_Change();
  void Sldmastervolume_Change();
  void SLDPLAYVOLUME_Change();
  void CHKPLAYMUTE_Click();
  void VRMixer1_PlayMuteChanged(int value);
  void Cominput_Click();
  void Comout_Click();
  // the MP3 export and the converter window
  void Mmp3_Click();
  void Combo1_Click(int index);
  void encstop_Click();
  void MEnc1_Progress(int percent);
  void MEnc1_TimeLeft(double seconds);
  void wavp3_Click();
  void cdripper_Click();
  void Mhelp_Click();
  void MnuAbout_Click();
  // A WAV rip of the CD window becomes the next song.
  void cdTrackRipped(const QString& caption);
  void closeCdWindow();
  long mp3BitRate = 128000;
  bool encoding = false;  // an MP3 save of the take runs

  // ---- Options > Measure Latency, and the round trip it keeps (frmMainLatency.cpp)
  QAction* actMeasureLatency = nullptr;
  void latencySetup();
  void actMeasureLatency_Click();
  // The measured round trip beyond the server's figures (0 when never measured), in ns.
  static int64_t roundTripNs();

  // ---- the singer's screen, and the words and pictures of every song (frmMainSinger.cpp)
  QAction* actSingerScreen = nullptr;           // Options > Singer Screen, F2
  app::SingerScreen* singerScreen = nullptr;    // a window of its own, owned by this one
  app::SingerPicture* singerPicture = nullptr;  // an audio song's words or CD+G in Picture3
  void singerSetup();
  void actSingerScreen_Click();
  QLabel* lblScore = nullptr;           // the last take's score over its MIDI song, beside lblTime
  void scoreTake(const QString& take);  // scores it and shows the score
  // The score, else `whyNone` (nothing shown when empty).
  void showTakeScore(std::optional<int> total, const QString& whyNone = {});
  // The words or picture of the audio song chosen; an MP3+G package puts its MP3 in
  // CMDialog1.FileName. False (after the message box) when the package cannot be opened.
  bool singerSongChosen(const QString& path);
  void singerMidiOpened();  // the karaoke MIDI file's words and melody, at its opening
  // The singer's pitch while a take records over a MIDI song with a melody: tracked live from
  // what the take's writer reads, drawn on the pitch lanes (the singer's screen and a small one
  // at the foot of Picture3), each line scored once sung. Started before the take, stopped
  // after it; the take's score is then that of its file.
  std::shared_ptr<const singing::Melody> midiMelody;  // of the MIDI song open, null for none
  std::unique_ptr<recorder::LivePitch> livePitch;
  std::shared_ptr<singing::LiveSinging> liveSinging;
  singing::SongMoves takeMoves;  // the song's key and tempo as the take started, and their moves
  bool followingTakeMoves = false;
  QTimer singingTimer;
  QLabel* lblLane = nullptr;
  void singingStart();
  void singingTick();
  void singingMoved();  // the MIDI song's key or tempo moved: the take's score follows
  void singingStop();
  // Opens `song` as its menu item would (audio, MP3+G or MIDI), the dialog answered with it.
  void openFromCommandLine(const QString& song);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool Form_Initialize();
  void Form_Unload();
  void connectHandlers();
  void connectMidiHandlers();
  void connectMeterHandlers();
  void connectRecorderHandlers();
  void setWavePlayerHooks();
  // The activity light: white, or the program's dark olive &H4040 (blue-green-red order).
  static constexpr QRgb kLightOff = 0xFFFFFF;
  static constexpr QRgb kLightOn = 0x404000;
  void setPicture2(QRgb colour);
  void prepareTake(bool& kind);
  // The controls a mode of the session forbids are switched off.
  void followSession();
  // Asks before a new take replaces one that was not saved; true when the take may go.
  bool confirmTakeLoss();
  bool fillingStrips_ = false;  // the strips show the song's levels: nothing is sent
  QPointer<QWidget> helpWindow_;
  QPointer<QWidget> aboutWindow_;

  std::unique_ptr<Ui::frmMain> ui_;
  bool initialised_ = false;
};

// Start-up's check of the engine's version word (major in the low word, minor in the high).
bool mainVersionAccepted(DWORD version);

// The caption of the main window.
extern const char* const kMainCaption;
