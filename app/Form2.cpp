#include "Form2.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Services.h"
#include "frmMain.h"

const char* const kDisclaimer =
    "AVVERTENZA\n\n"
    "Questo programma viene fornito così com'è, senza alcuna garanzia.\n\n"
    "L'uso del software è a totale rischio dell'utente: l'autore non è responsabile di alcun "
    "danno a persone, computer, software o attività commerciali derivante dall'uso, o "
    "dall'impossibilità di usare, questo software.\n\n"
    "Se non accetti queste condizioni, non usare questo software.";

Form2::Form2(QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("                           AVVERTENZA - WARNING");
  Text2 = new QPlainTextEdit(this);
  Text2->setObjectName("Text2");
  Text2->setReadOnly(true);
  Text2->setPlainText(QString::fromUtf8(kDisclaimer));
  Command1 = new QPushButton("Accetto", this);
  Command1->setObjectName("Command1");
  Command2 = new QPushButton("Non Accetto", this);
  Command2->setObjectName("Command2");
  Command1->setDefault(true);  // Return accepts
  Command2->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Command1);
  buttons->addWidget(Command2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text2);
  layout->addLayout(buttons);
  resize(480, 300);
  connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
  Command1->setFocus();
}

void Form2::Command1_Click() {
  hide();
  // Creating the main window runs its initialise handler, showing it its load handler.
  main_ = new frmMain;
  if (!main_->initialised()) return;
  if (!main_->Form_Load()) return;
  main_->show();
}

void Form2::Command2_Click() {
  app::services().exit->end(0);
}

// Escape and the close box decline, as "Non Accetto" does.
void Form2::reject() {
  Command2_Click();
}
