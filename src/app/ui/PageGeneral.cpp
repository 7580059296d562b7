#include "app/ui/PageGeneral.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/PageEdits.h"
#include "instructions/PageInstructions.h"
#include "link/Engine.h"
#include "instructions/GeneralInstructions.h"
#include "status/StatusReport.h"

namespace {
// A titled group holding an optional edit and a button in one row.
QGroupBox* instructionGroup(const QString& title, QLineEdit* edit, QPushButton* button, QWidget* parent) {
  auto* g = makeGroup(title, parent);
  auto* l = new QHBoxLayout(g);
  l->setContentsMargins(6, 2, 6, 4);
  if (edit) {
    edit->setParent(g);
    l->addWidget(edit, 1);
  } else {
    l->addStretch(1);
  }
  button->setParent(g);
  button->setMinimumWidth(110);
  l->addWidget(button);
  return g;
}
}  // namespace

PageGeneral::PageGeneral(PageHost& host, QWidget* parent) : TPage(host, "PageGeneral", parent) {
  auto* root = new QHBoxLayout(this);

  // Left column: housekeeping instructions.
  auto* left = new QVBoxLayout;
  EditSerial = makeEdit("EditSerial", "56765", 0, this);
  ButtonSerial = makeButton("ButtonSerial", "SETSERIAL", this);
  left->addWidget(instructionGroup(" Set Serial Number ", EditSerial, ButtonSerial, this));
  EditType = makeEdit("EditType", "4852", 0, this);
  ButtonType = makeButton("ButtonType", "SETTYPE", this);
  left->addWidget(instructionGroup(" Set Type ", EditType, ButtonType, this));
  ButtonReset = makeButton("ButtonReset", "RESET", this);
  left->addWidget(instructionGroup(" Reset ", nullptr, ButtonReset, this));
  EditUT = makeEdit("EditUT", "My UserText", 15, this);
  ButtonUT = makeButton("ButtonUT", "SETUSERTEXT", this);
  left->addWidget(instructionGroup(" Set User Text ", EditUT, ButtonUT, this));

  auto* addr = new QHBoxLayout;
  RadioGroupAddress = new TRadioGroup("RadioGroupAddress", " Set SDI Address", numberItems(1, 15), 5, this);
  RadioGroupAddress->setItemIndex(0);
  addr->addWidget(RadioGroupAddress, 1);
  ButtonSetAddress = makeButton("ButtonSetAddress", " SETADDRESS", this);
  addr->addWidget(ButtonSetAddress, 0, Qt::AlignBottom);
  left->addLayout(addr);

  PanelGS = new TPanel("PanelGS", "Status", this, "LabelGS");
  PanelGS->setMinimumHeight(30);
  auto* status = new QHBoxLayout;
  status->addWidget(PanelGS, 1);
  Button7 = makeButton("Button7", "Query", this);
  Button7->setMinimumWidth(80);
  status->addWidget(Button7);
  left->addLayout(status);
  left->addStretch(1);
  root->addLayout(left, 1);

  // Right column: output format and the page memo.
  auto* right = new QVBoxLayout;
  auto* fmt = makeGroup(" Set TS Output Format ", this, "GroupOutputFormat");
  auto* fl = new QGridLayout(fmt);
  fl->setVerticalSpacing(3);
  EditNCO = makeEdit("EditNCO", "3000000", 8, fmt);
  EditNCO->setToolTip("120 Hz - 40.5 MHz");
  EditPLL = makeEdit("EditPLL", "3000000", 8, fmt);
  EditPLL->setToolTip("97753 Hz - 40.5 MHz");
  fl->addWidget(makeLabel("", "NCO Frequency:", fmt), 0, 0);
  fl->addWidget(EditNCO, 0, 1);
  fl->addWidget(makeLabel("", "Hz", fmt), 0, 2);
  fl->addWidget(makeLabel("", "PLL Frequency:", fmt), 1, 0);
  fl->addWidget(EditPLL, 1, 1);
  fl->addWidget(makeLabel("", "Hz", fmt), 1, 2);
  RadioGroupClkSource = new TRadioGroup("RadioGroupClkSource", " Clock Source ",
                                        {"NCO", "PLL", "TS Input 1", "TS Input 2", "TS Input 3", "TS Input 4",
                                         "TS Input 5", "TS Input 6", "External Clock"},
                                        3, fmt);
  RadioGroupClkSource->setItemIndex(0);
  fl->addWidget(RadioGroupClkSource, 2, 0, 1, 4);
  RadioGroupStrFormat = new TRadioGroup("RadioGroupStrFormat", " Stream Format ", {"188", "204"}, 2, fmt);
  RadioGroupStrFormat->setItemIndex(0);
  RadioGroupPP = new TRadioGroup("RadioGroupPP", " PSI Inserter Priority ", {"Low", "High"}, 2, fmt);
  RadioGroupPP->setItemIndex(0);
  auto* two = new QHBoxLayout;
  two->addWidget(RadioGroupStrFormat);
  two->addWidget(RadioGroupPP);
  fl->addLayout(two, 3, 0, 1, 4);
  ButtonSetOutputFormat = makeButton("ButtonSetOutputFormat", "SETSTREAMFORMAT", fmt);
  fl->addWidget(ButtonSetOutputFormat, 0, 3, 2, 1);
  fl->setColumnStretch(1, 1);
  right->addWidget(fmt);

  MemoGS = new TMemo("MemoGS",
                     {"NCO frequency range: 120 Hz - 40.5 MHz", "", "PLL frequency range: 97753 Hz - 40.5 MHz"}, this);
  right->addWidget(MemoGS, 1);
  root->addLayout(right, 1);

  connect(Button7, &QPushButton::clicked, this, [this] { host_.query(); });
  host_.registerNoticeWait(tessaly::state::GeneralWait, tessaly::state::GeneralGot, PanelGS);
  connect(ButtonSerial, &QPushButton::clicked, this, &PageGeneral::ButtonSerialClick);
  connect(ButtonType, &QPushButton::clicked, this, &PageGeneral::ButtonTypeClick);
  connect(ButtonReset, &QPushButton::clicked, this, &PageGeneral::ButtonResetClick);
  connect(ButtonUT, &QPushButton::clicked, this, &PageGeneral::ButtonUTClick);
  connect(ButtonSetAddress, &QPushButton::clicked, this, &PageGeneral::ButtonSetAddressClick);
  connect(ButtonSetOutputFormat, &QPushButton::clicked, this, &PageGeneral::ButtonSetOutputFormatClick);
}

bool PageGeneral::sendDatagram(tessaly::Bytes datagram) {
  const auto& error = tessaly::kCommErrorCheckText;
  PageTransaction t;
  t.datagram = std::move(datagram);
  t.panel = PanelGS;
  t.waitingCode = tessaly::state::GeneralWait;
  t.errorText = QString::fromLatin1(error.data(), static_cast<qsizetype>(error.size()));
  return host_.sendPageTransaction(t);
}

void PageGeneral::ButtonSerialClick() {
  const std::uint32_t serial = tessaly::edits::serial(EditSerial->text().toStdString());
  EditSerial->setText(QString::number(serial));
  send(tessaly::setSerialInstruction(serial));
}

void PageGeneral::ButtonTypeClick() {
  const std::uint16_t type = tessaly::edits::type(EditType->text().toStdString());
  EditType->setText(QString::number(type));
  send(tessaly::setTypeInstruction(type));
}

void PageGeneral::ButtonResetClick() { send(tessaly::resetInstruction()); }

void PageGeneral::ButtonUTClick() {
  // The text goes out as 8-bit characters, one byte each.
  send(tessaly::setUserTextInstruction(EditUT->text().toLatin1().toStdString()));
}

void PageGeneral::ButtonSetAddressClick() {
  // Item 0 is address 1.
  send(tessaly::setAddressInstruction(static_cast<std::uint8_t>(RadioGroupAddress->itemIndex() + 1)));
}

void PageGeneral::ButtonSetOutputFormatClick() {
  tessaly::StreamFormat f;
  f.clockSource = RadioGroupClkSource->itemIndex();  // items in clock-source order
  f.packetSize = tessaly::edits::packetSize(RadioGroupStrFormat->itemIndex());
  f.highPriority = RadioGroupPP->itemIndex() == 1;
  // Both edits are read and written back, whichever the source uses.
  f.ncoHz = tessaly::edits::ncoHz(EditNCO->text().toStdString());
  f.pllHz = tessaly::edits::pllHz(EditPLL->text().toStdString());
  EditNCO->setText(QString::number(f.ncoHz));
  EditPLL->setText(QString::number(f.pllHz));
  const auto m = tessaly::streamFormatMessage(f);
  if (m.pllReport) {
    MemoGS->clearLines();
    MemoGS->addLines(*m.pllReport);
  }
  send(m);
}

void PageGeneral::presentStatus(const tessaly::tZODADevice& d) {
  RadioGroupAddress->setItemIndex(tessaly::addressItemIndex(d));
  MemoGS->clearLines();
  MemoGS->addLines(tessaly::generalMemoLines(d));
}
