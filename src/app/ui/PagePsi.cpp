#include "app/ui/PagePsi.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/PageEdits.h"
#include "instructions/PageInstructions.h"
#include "status/StatusReport.h"
#include "text/Hex.h"

PagePsi::PagePsi(PageHost& host, QWidget* parent) : TPage(host, "PagePsi", parent) {
  auto* page = new QVBoxLayout(this);
  page->setSpacing(4);
  page->addWidget(makeHeading("LabelMpxPID", "SDRAM And PSI Inserter", this));
  auto* root = new QHBoxLayout;
  root->setSpacing(6);
  page->addLayout(root, 1);

  // Left: the sector table.
  auto* sectors = makeGroup(" PSI Inserter Sectors ", this, "GroupSectors");
  auto* sg = new QGridLayout(sectors);
  sg->setContentsMargins(4, 2, 4, 4);
  sg->setVerticalSpacing(2);
  sg->setHorizontalSpacing(4);
  for (int k = 1; k <= 12; ++k) {
    const QString d = QString::number(k);
    CheckBoxS[k] = makeCheck("CheckBoxS" + d, "Enable", false, sectors);
    EditSS[k] = makeEdit("EditSS" + d, "0", 0, sectors);
    EditSE[k] = makeEdit("EditSE" + d, "0", 0, sectors);
    EditSS[k]->setFixedWidth(52);
    EditSE[k]->setFixedWidth(52);
    ButtonS[k] = makeButton("ButtonS" + d, "Set", sectors, k <= 4);
    ButtonS[k]->setFixedWidth(34);
    const int r = k - 1;
    sg->addWidget(makeLabel("", "Sector " + d + ":", sectors), r, 0);
    sg->addWidget(CheckBoxS[k], r, 1);
    sg->addWidget(makeLabel("", "Start:", sectors), r, 2);
    sg->addWidget(EditSS[k], r, 3);
    sg->addWidget(makeLabel("", "End:", sectors), r, 4);
    sg->addWidget(EditSE[k], r, 5);
    sg->addWidget(ButtonS[k], r, 6);
  }
  sg->setRowStretch(12, 1);
  root->addWidget(sectors, 0);

  // Right: SDRAM figures, flash instructions, status and memo.
  auto* right = new QVBoxLayout;
  auto* top = new QHBoxLayout;
  auto* sdram = makeGroup(" SDRAM ", this, "GroupSDRAM");
  auto* dg = new QGridLayout(sdram);
  dg->setContentsMargins(4, 2, 4, 2);
  dg->setVerticalSpacing(1);
  dg->setHorizontalSpacing(6);
  GaugeSDRAM = new TGauge("GaugeSDRAM", 65535, Qt::Vertical, sdram);
  GaugeSDRAM->setFixedWidth(18);
  auto* max = new QHBoxLayout;
  max->setSpacing(4);
  max->addWidget(makeLabel("", "Max:", sdram));
  max->addWidget(makeLabel("", "65535 packets", sdram));
  max->addStretch(1);
  dg->addLayout(max, 0, 1, 1, 2);
  dg->addWidget(GaugeSDRAM, 0, 0, 6, 1);
  Label13 = makeLabel("Label13", "0 packet/sec", sdram);
  LabelNP = makeLabel("LabelNP", "0 packet/sec", sdram);
  LabelIns = makeLabel("LabelIns", "0 packet/sec", sdram);
  Label15 = makeLabel("Label15", "0 packets", sdram);
  dg->addWidget(makeLabel("", "SDRAM Input:", sdram), 1, 1);
  dg->addWidget(Label13, 1, 2);
  dg->addWidget(makeLabel("", "Output Null Packets:", sdram), 2, 1);
  dg->addWidget(LabelNP, 2, 2);
  dg->addWidget(makeLabel("", "Inserted Packets:", sdram), 3, 1);
  dg->addWidget(LabelIns, 3, 2);
  dg->addWidget(makeLabel("", "Usage:", sdram), 4, 1);
  dg->addWidget(Label15, 4, 2);
  LabelPSIState = makeLabel("LabelPSIState", "PSI Inserter State: h00", sdram);
  PanelPSIState = new TPanel("PanelPSIState", "", sdram);
  PanelPSIState->setFixedWidth(60);
  dg->addWidget(LabelPSIState, 5, 1);
  dg->addWidget(PanelPSIState, 5, 2, Qt::AlignLeft);
  dg->setColumnStretch(2, 1);
  top->addWidget(sdram, 1);
  right->addLayout(top);

  auto* flash = makeGroup(" PSI Inserter Flash ", this, "GroupFlash");
  auto* fg = new QGridLayout(flash);
  fg->setContentsMargins(4, 2, 4, 4);
  fg->setVerticalSpacing(2);
  RadioGroupPT = new TRadioGroup("RadioGroupPT", " Packet Type ", {"1..188", "188..1", "Fix"}, 1, flash);
  RadioGroupPT->setItemIndex(0);
  fg->addWidget(RadioGroupPT, 0, 0, 3, 1);
  EditFix = makeEdit("EditFix", "15", 3, flash);
  EditPIDPSI = makeEdit("EditPIDPSI", "1000", 4, flash);
  EditAddress = makeEdit("EditAddress", "0", 6, flash);
  EditTimer = makeEdit("EditTimer", "10", 8, flash);
  fg->addWidget(makeLabel("", "Fix:", flash), 0, 1);
  fg->addWidget(EditFix, 0, 2);
  fg->addWidget(makeLabel("", "PID:", flash), 1, 1);
  fg->addWidget(EditPIDPSI, 1, 2);
  fg->addWidget(makeLabel("", "Address:", flash), 0, 3);
  fg->addWidget(EditAddress, 0, 4);
  fg->addWidget(makeLabel("", "Timer:", flash), 1, 3);
  fg->addWidget(EditTimer, 1, 4);
  fg->addWidget(makeLabel("", "ms", flash), 1, 5);
  CheckBoxACC = makeCheck("CheckBoxACC", "Auto CC", false, flash);
  fg->addWidget(CheckBoxACC, 2, 1, 1, 2);
  ButtonErasePSI = makeButton("ButtonErasePSI", "ERASEPSI", flash);
  ButtonWritePSI = makeButton("ButtonWritePSI", "WRITEPSI", flash);
  ButtonReadPSI = makeButton("ButtonReadPSI", "READPSI", flash);
  auto* fb = new QHBoxLayout;
  fb->setSpacing(3);
  fb->addWidget(ButtonErasePSI);
  fb->addWidget(ButtonWritePSI);
  fb->addWidget(ButtonReadPSI);
  fg->addLayout(fb, 3, 0, 1, 6);
  fg->setColumnStretch(2, 1);
  fg->setColumnStretch(4, 1);
  right->addWidget(flash);

  auto* status = new QHBoxLayout;
  PanelPSI = new TPanel("PanelPSI", "Status", this);
  Button1 = makeButton("Button1", "Query", this);
  Button1->setMinimumWidth(70);
  status->addWidget(PanelPSI, 1);
  status->addWidget(Button1);
  right->addLayout(status);
  MemoPSI = new TMemo("MemoPSI", {}, this);
  right->addWidget(MemoPSI, 1);
  root->addLayout(right, 1);

  connect(Button1, &QPushButton::clicked, this, [this] { host_.query(); });
  followQuery({PanelPSI, false, true, true});
  host_.registerNoticeWait(tessaly::state::PsiWait, tessaly::state::PsiGot, PanelPSI);
  for (int k = 1; k <= 4; ++k)
    connect(ButtonS[static_cast<std::size_t>(k)], &QPushButton::clicked, this, [this, k] { ButtonSClick(k); });
  connect(ButtonErasePSI, &QPushButton::clicked, this, &PagePsi::ButtonErasePSIClick);
  connect(ButtonWritePSI, &QPushButton::clicked, this, &PagePsi::ButtonWritePSIClick);
  connect(ButtonReadPSI, &QPushButton::clicked, this, &PagePsi::ButtonReadPSIClick);
}

bool PagePsi::send(const tessaly::LabelledInstruction& instruction, TMemo* readMemo) {
  const auto& error = tessaly::kCommErrorCheckText;
  return host_.sendPageInstruction(instruction.label, instruction.opcode, instruction.data, PanelPSI,
                                   tessaly::state::PsiWait,
                                   QString::fromLatin1(error.data(), static_cast<qsizetype>(error.size())),
                                   readMemo);
}

void PagePsi::ButtonSClick(int row) {
  if (row < 1 || row > 4) return;
  const auto i = static_cast<std::size_t>(row);
  const std::int32_t start = tessaly::edits::bufferAddress(EditSS[i]->text().toStdString());
  const std::int32_t end = tessaly::edits::bufferAddress(EditSE[i]->text().toStdString());
  const auto s = tessaly::setSectorInstruction(row, CheckBoxS[i]->isChecked(), start, end);
  if (!s) return;
  EditSS[i]->setText(QString::number(start));
  EditSE[i]->setText(QString::number(end));
  send(*s);
}

void PagePsi::ButtonErasePSIClick() { send(tessaly::erasePsiInstruction()); }

void PagePsi::ButtonWritePSIClick() {
  tessaly::PsiWrite w;
  w.pid = tessaly::edits::pid(EditPIDPSI->text().toStdString(), 1000);
  w.address = tessaly::edits::bufferAddress(EditAddress->text().toStdString());
  w.timer = tessaly::edits::psiTimer(EditTimer->text().toStdString());
  w.fix = tessaly::edits::fixByte(EditFix->text().toStdString());
  w.packetType = tessaly::edits::psiPacketType(RadioGroupPT->itemIndex());
  w.autoCc = CheckBoxACC->isChecked();
  EditPIDPSI->setText(QString::number(w.pid));
  EditAddress->setText(QString::number(w.address));
  EditTimer->setText(QString::number(w.timer));
  EditFix->setText(QString::number(w.fix));
  send(tessaly::writePsiInstruction(w));
}

void PagePsi::ButtonReadPSIClick() {
  const std::int32_t address = tessaly::edits::bufferAddress(EditAddress->text().toStdString());
  EditAddress->setText(QString::number(address));
  send(tessaly::readPsiInstruction(address), MemoPSI);
}

void PagePsi::presentStatus(const tessaly::tZODADevice& d) {
  using namespace tessaly;
  PanelPSI->setCaption("Data refreshed.");
  PanelPSI->setColor(colour::LightGreen);
  GaugeSDRAM->setProgress(d.SdramUsage);
  GaugeSDRAM->setColor(sdramGaugeColour(d.SdramUsage));
  Label13->setText(QString::number(d.SdramInputRate) + " packet/sec");
  LabelNP->setText(QString::number(d.NullPacketRate) + " packet/sec");
  LabelIns->setText(QString::number(d.InsertedPacketRate) + " packet/sec");
  Label15->setText(QString::number(d.SdramUsage) + " packets");
  LabelPSIState->setText(QString::fromStdString("PSI Inserter State: h" + upperHex(d.PsiInserterState)));
  const bool busy = d.PsiInserterState & 1;
  PanelPSIState->setColor(busy ? colour::Red : colour::LightGreen);
  PanelPSIState->setCaption(busy ? "Busy" : "Free");
  for (int k = 1; k <= 12; ++k) {
    const auto i = static_cast<std::size_t>(k);
    CheckBoxS[i]->setChecked(d.SectorEnable[i]);
    EditSS[i]->setText(QString::number(d.SectorStart[i]));
    EditSE[i]->setText(QString::number(d.SectorEnd[i]));
  }
  const auto readback = psiReadbackLines(d);
  if (!readback.empty()) {
    MemoPSI->clearLines();
    MemoPSI->addLines(readback);
  }
}
