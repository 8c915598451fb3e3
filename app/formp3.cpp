#include "formp3.h"

#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

QString manualText() {
  Q_INIT_RESOURCE(help);  // the manual lives in the app library's resources
  QFile f(":/help/manuale.txt");
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

formp3::formp3(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("formp3");
  setWindowTitle("Help");
  setAttribute(Qt::WA_DeleteOnClose);  // unloaded when closed
  Text2 = new QPlainTextEdit(this);
  Text2->setObjectName("Text2");
  Text2->setReadOnly(true);
  Text2->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Text2->setPlainText(manualText());
  Text2->hide();
  Command1 = new QPushButton("OK", this);
  Command1->setObjectName("Command1");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text2);
  layout->addWidget(Command1);
  // Wide enough for the manual's longest line, so that none of them wraps.
  int longest = 0;
  for (const QString& line : Text2->toPlainText().split('\n'))
    longest = std::max(longest, Text2->fontMetrics().horizontalAdvance(line));
  resize(longest + 80, 600);
  connect(Command1, &QPushButton::clicked, this, &formp3::Command1_Click);
  Form_Load();
}

void formp3::Form_Load() {
  Text2->show();
}

void formp3::Command1_Click() {
  Text2->hide();
  close();
}
