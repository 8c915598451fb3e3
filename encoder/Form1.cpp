#include "Form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MEnc.h"
#include "Services.h"
#include "ui_Form1.h"

namespace encoder {

namespace {
constexpr std::array<int, 4> kBitRates = {256000, 128000, 112000, 96000};
}

QString mp3TargetName(const QString& source) {
  return source.left(std::max<qsizetype>(0, source.size() - 3)) + "mp3";
}

QString formatNumber(double value, int wholeDigits, int decimals) {
  if (!std::isfinite(value)) return QString::number(value);
  // The 15 significant digits a decimal reading of the double gives, so that 9.85 rounds as
  // the 9.85 it was written as, not as its binary neighbour 9.8499999...
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  const int exponent = std::atoi(buf + 17);
  int point = exponent + 1;  // digits before the decimal point
  if (point < 1) {
    digits.insert(0, size_t(1 - point), '0');
    point = 1;
  }
  const size_t keep = size_t(point + decimals);
  if (digits.size() <= keep) digits.append(keep + 1 - digits.size(), '0');
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (up) {
    size_t i = keep;
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
      digits.insert(0, 1, '1');
      ++point;
    } else {
      ++digits[i - 1];
    }
  }
  std::string whole = digits.substr(0, size_t(point));
  const std::string frac = digits.substr(size_t(point));
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.size() < size_t(wholeDigits)) whole.insert(0, size_t(wholeDigits) - whole.size(), '0');
  const bool zero = (whole + frac).find_first_not_of('0') == std::string::npos;
  std::string out = (value < 0 && !zero ? "-" : "") + whole;
  if (decimals > 0) out += "." + frac;
  return QString::fromStdString(out);
}

QString percentCaption(int percent) {
  return formatNumber(percent, 2, 0) + " %";
}

QString timeLeftCaption(double seconds, const QString& current) {
  const double f = formatNumber(seconds, 2, 1).toDouble();
  QString caption = current;
  // In this order: a later rule overrides an earlier one, and none holds at exactly 9.9.
  if (f > 99) caption = formatNumber(seconds, 3, 2) + " Seconds Left";
  if (f > 9.9) caption = formatNumber(seconds, 2, 2) + " Seconds Left";
  if (f < 9.9) caption = formatNumber(seconds, 1, 2) + " Seconds Left";
  return caption;
}

}  // namespace encoder

Form1::Form1(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Form1>()) {
  ui_->setupUi(this);
  Text1 = ui_->Text1;
  Command1 = ui_->Command1;
  Command3 = ui_->Command3;
  Command4 = ui_->Command4;
  Combo1 = ui_->Combo1;
  Combo2 = ui_->Combo2;
  prog = ui_->prog;
  Label1 = ui_->Label1;
  Label2 = ui_->Label2;
  MEnc1 = new MEnc(this);
  MEnc1->setObjectName("MEnc1");

  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
  connect(Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
  connect(MEnc1, &MEnc::Progress, this, &Form1::MEnc1_Progress);
  connect(MEnc1, &MEnc::TimeLeft, this, &Form1::MEnc1_TimeLeft);
  connect(MEnc1, &MEnc::Failed, this, &Form1::MEnc1_Failed);
  Form_Load();
}

Form1::~Form1() {
  delete MEnc1;  // stops and joins the encoding while the window is still whole
}

void Form1::Form_Load() {
  Combo1->addItems({"256000", "128000", "112000", "96000"});
  Combo2->addItems({"STEREO", "MONO"});
  // The boxes show their texts ("BitRate", "Channels") until the user picks an item.
  Combo1->setCurrentIndex(-1);
  Combo2->setCurrentIndex(-1);
}

void Form1::Command1_Click() {
  const auto chosen = app::services().files->openFile(
      this, {"Open", "Wave Audio File|*.wav|Raw Audio File|*.raw", ""});
  if (!chosen) return;  // cancelled: nothing changes
  Text1->setText(*chosen);
  MEnc1->setSourceFile(Text1->text());
}

void Form1::Combo1_Click(int index) {
  if (index >= 0 && index < int(encoder::kBitRates.size()))
    MEnc1->setBitRateBps(encoder::kBitRates[size_t(index)]);
}

void Form1::Combo2_Click(int index) {
  if (index == 0 || index == 1) MEnc1->setChannelMode(index);
}

void Form1::Command3_Click() {
  if (Text1->text().isEmpty()) return;
  // The source is the path shown, also when it was typed rather than chosen, so that the
  // target is always named after the file that is encoded.
  MEnc1->setSourceFile(Text1->text());
  MEnc1->setTargetFile(encoder::mp3TargetName(Text1->text()));
  if (!MEnc1->bitRate()) MEnc1->setBitRateBps(encoder::kDefaultBitRateBps);
  if (!MEnc1->channelMode()) MEnc1->setChannelMode(encoder::kChannelStereo);
  MEnc1->StartEncoding();
}

void Form1::Command4_Click() {
  MEnc1->StopEncoding();
}

void Form1::MEnc1_Progress(int percent) {
  prog->setValue(percent);
  Label1->setText(encoder::percentCaption(percent));
  if (percent == 100) {
    prog->setValue(100);
    app::services().messages->show(app::kStyleInformation, "Finished", "You Are Now Done Encoding");
    Label1->setText("00 %");
    Label2->setText("Finished Encoding");
  }
}

void Form1::MEnc1_TimeLeft(double seconds) {
  Label2->setText(encoder::timeLeftCaption(seconds, Label2->text()));
  if (prog->value() == 100) {
    Label2->setText("Finished Encoding");
    prog->setValue(0);
  }
}

void Form1::MEnc1_Failed(const QString& text) {
  prog->setValue(0);
  Label1->setText("00 %");
  Label2->setText(text);
}

// Closing the window only hides it; the window and a running encoding live on.
void Form1::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}
