#include "app/ui/SettingsForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/Widgets.h"

namespace {
constexpr int kRestoredPort = 56781;
}

TSettingsForm::TSettingsForm(QWidget* parent) : QDialog(parent) {
  setObjectName("SettingsForm");
  setWindowTitle("Settings");
  setModal(true);

  auto* root = new QVBoxLayout(this);
  auto* platform = makeGroup("Platform Settings", this, "GroupPlatform");
  auto* pl = new QVBoxLayout(platform);
  CheckBoxSSOE = makeCheck("CheckBoxSSOE", "Save Settings On Exit", true, platform);
  pl->addWidget(CheckBoxSSOE);
  root->addWidget(platform);

  auto* network = makeGroup("Network Settings", this, "GroupNetwork");
  auto* nl = new QGridLayout(network);
  LabelHP = makeLabel("LabelHP", "56789", network);
  LabelDP = makeLabel("LabelDP", "56789", network);
  LabelHP->setMinimumWidth(50);
  ButtonCh1 = makeButton("ButtonCh1", "Change", network);
  ButtonCh2 = makeButton("ButtonCh2", "Change", network);
  nl->addWidget(makeLabel("", "Host Computer Port:", network), 0, 0);
  nl->addWidget(LabelHP, 0, 1);
  nl->addWidget(ButtonCh1, 0, 2);
  nl->addWidget(makeLabel("", "Device Port:", network), 1, 0);
  nl->addWidget(LabelDP, 1, 1);
  nl->addWidget(ButtonCh2, 1, 2);
  root->addWidget(network);

  auto* buttons = new QHBoxLayout;
  ButtonRD = makeButton("ButtonRD", "Restore Default", this);
  BitBtnSaveS = makeButton("BitBtnSaveS", "Save", this);
  BitBtnCancel = makeButton("BitBtnCancel", "Cancel", this);
  buttons->addWidget(ButtonRD);
  buttons->addStretch(1);
  buttons->addWidget(BitBtnSaveS);
  buttons->addWidget(BitBtnCancel);
  root->addLayout(buttons);
  setFixedSize(sizeHint());

  inputBox_ = [this](const QString& caption, const QString& prompt, QString& text) {
    bool ok = false;
    text = QInputDialog::getText(this, caption, prompt, QLineEdit::Normal, QString(), &ok);
    return ok;
  };
  messageBox_ = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };

  connect(ButtonCh1, &QPushButton::clicked, this, [this] { change(LabelHP, "Host Comuter Port"); });
  connect(ButtonCh2, &QPushButton::clicked, this, [this] { change(LabelDP, "Device Port"); });
  connect(ButtonRD, &QPushButton::clicked, this, &TSettingsForm::restoreDefault);
  connect(BitBtnSaveS, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TSettingsForm::load(bool saveOnExit, int hostPort, int devicePort) {
  CheckBoxSSOE->setChecked(saveOnExit);
  LabelHP->setText(QString::number(hostPort));
  LabelDP->setText(QString::number(devicePort));
}

bool TSettingsForm::saveOnExit() const { return CheckBoxSSOE->isChecked(); }
int TSettingsForm::hostPort() const { return LabelHP->text().toInt(); }
int TSettingsForm::devicePort() const { return LabelDP->text().toInt(); }

bool TSettingsForm::parsePort(const QString& text, int& port) {
  // Decimal digits only: no blanks, no sign (a minus sign would read as a number
  // below 1 and is refused all the same), no digits of other scripts.
  if (text.isEmpty()) return false;
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  bool ok = false;
  const int v = text.toInt(&ok, 10);
  if (!ok || v < 1 || v > 65534) return false;
  port = v;
  return true;
}

void TSettingsForm::change(QLabel* target, const QString& caption) {
  QString text;
  if (!inputBox_(caption, "Enter new port number (1..65534)!", text)) return;
  int port = 0;
  if (!parsePort(text, port)) {
    messageBox_("Invalid port number!");
    return;
  }
  target->setText(QString::number(port));
}

void TSettingsForm::restoreDefault() {
  CheckBoxSSOE->setChecked(true);
  LabelHP->setText(QString::number(kRestoredPort));
  LabelDP->setText(QString::number(kRestoredPort));
}
