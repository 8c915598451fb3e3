// The converter window: picks a WAV or raw file, encodes it to an MP3 of the same name beside
// it with the chosen bit rate and channels, and shows the encoder's progress and time left.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

class MEnc;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace Ui {
class Form1;
}

namespace encoder {

// The target of an encoding: the source's name without its last three characters, then "mp3"
// ("song.wav" -> "song.mp3", "x.wave" -> "x.wmp3").
QString mp3TargetName(const QString& source);
// A number as the window's formats show it: rounded half away from zero at `decimals` places
// after a 15-digit decimal reading, the whole part padded with zeros to `wholeDigits`
// (formatNumber(5.5, 2, 2) = "05.50").
QString formatNumber(double value, int wholeDigits, int decimals);
// Label1's caption for a percentage: "07 %", "100 %".
QString percentCaption(int percent);
// Label2's caption for an estimate of `seconds` left, given its caption now: the estimate
// rounded to tenths decides the format, and an estimate of exactly 9.9 keeps the caption.
QString timeLeftCaption(double seconds, const QString& current);

}  // namespace encoder

class Form1 : public QWidget {
  Q_OBJECT
 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // ---- controls (as named in the window's design)
  QLineEdit* Text1;
  QPushButton* Command1;  // "Open"
  QPushButton* Command3;  // "Encode"
  QPushButton* Command4;  // "Stop"
  QComboBox* Combo1;      // bit rate
  QComboBox* Combo2;      // channels
  QProgressBar* prog;
  QLabel* Label1;  // percent
  QLabel* Label2;  // time left, the end, a failure
  MEnc* MEnc1;

  void Form_Load();
  void Command1_Click();
  void Command3_Click();
  void Command4_Click();
  void Combo1_Click(int index);
  void Combo2_Click(int index);
  void MEnc1_Progress(int percent);
  void MEnc1_TimeLeft(double seconds);
  void MEnc1_Failed(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<Ui::Form1> ui_;
};
