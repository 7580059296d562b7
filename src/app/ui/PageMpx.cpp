#include "app/ui/PageMpx.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/PageEdits.h"
#include "instructions/PageInstructions.h"
#include "status/StatusReport.h"
#include "text/Hex.h"

namespace {
constexpr int kRateGaugeMax = 216000;  // kbps

QWidget* legendSwatch(std::uint32_t bgr, const QString& text, QWidget* parent) {
  auto* w = new QWidget(parent);
  auto* l = new QHBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(3);
  l->addSpacing(4);
  auto* sw = new QFrame(w);
  sw->setFixedSize(10, 10);
  sw->setAutoFillBackground(true);
  QPalette p = sw->palette();
  p.setColor(QPalette::Window, tColor(bgr));
  sw->setPalette(p);
  l->addWidget(sw);
  l->addWidget(makeLabel("", text, w));
  return w;
}
}  // namespace

PageMpx::PageMpx(PageHost& host, QWidget* parent) : TPage(host, "PageMpx", parent) {
  auto* page = new QVBoxLayout(this);
  page->setSpacing(4);
  page->addWidget(makeHeading("LabelIPRemux", "6 to 1 Multiplexer and PID Filter", this));
  auto* root = new QHBoxLayout;
  root->setSpacing(6);
  page->addLayout(root, 1);

  // Left column: inputs and PID filter.
  auto* left = new QVBoxLayout;
  auto* inputs = makeGroup(" Transport Stream Inputs ", this, "GroupTSInputs");
  auto* ig = new QGridLayout(inputs);
  ig->setContentsMargins(4, 4, 4, 4);
  ig->setSpacing(3);
  for (int i = 1; i <= 6; ++i) {
    const QString d = QString::number(i);
    auto* box = makeGroup(" TS Input #" + d + " ", inputs, "GroupTSInput" + d);
    auto* bl = new QVBoxLayout(box);
    bl->setContentsMargins(3, 0, 1, 1);
    bl->setSpacing(0);
    CheckBoxEN[i] = makeCheck("CheckBoxEN" + d, "Enable", false, box);
    CheckBoxDV[i] = makeCheck("CheckBoxDV" + d, "DV Pin", false, box);
    CheckBoxNP[i] = makeCheck("CheckBoxNP" + d, "Null Packet Filter", false, box);
    CheckBoxTSP[i] = makeCheck("CheckBoxTSP" + d, "TSP Error Filter", false, box);
    for (auto* c : {CheckBoxEN[i], CheckBoxDV[i], CheckBoxNP[i], CheckBoxTSP[i]}) bl->addWidget(c);
    ig->addWidget(box, (i - 1) / 3, (i - 1) % 3);
  }
  ButtonSetGeneralFilter = makeButton("ButtonSetGeneralFilter", "SETGENERALFILTER", inputs);
  ig->addWidget(ButtonSetGeneralFilter, 2, 1, 1, 2);
  left->addWidget(inputs);

  auto* pid = makeGroup(" PID Filter ", this, "GroupPIDFilter");
  auto* pg = new QGridLayout(pid);
  pg->setContentsMargins(4, 2, 4, 4);
  pg->setVerticalSpacing(3);
  RadioGroupTS = new TRadioGroup("RadioGroupTS", " TS Input", {"TS1", "TS2", "TS3", "TS4", "TS5", "TS6"}, 2, pid);
  RadioGroupTS->setItemIndex(0);
  pg->addWidget(RadioGroupTS, 0, 0, 3, 1);
  EditPID = makeEdit("EditPID", "500", 0, pid);
  CheckBoxREMAP = makeCheck("CheckBoxREMAP", "", false, pid);
  EditREMAP = makeEdit("EditREMAP", "500", 0, pid, false);
  {
    // White whether enabled or not; only its text greys while the box is clear.
    QPalette p = EditREMAP->palette();
    p.setColor(QPalette::Disabled, QPalette::Base, Qt::white);
    EditREMAP->setPalette(p);
  }
  pg->addWidget(makeLabel("", "PID:", pid), 0, 1);
  pg->addWidget(EditPID, 0, 3);
  pg->addWidget(makeLabel("", "Remap PID:", pid), 1, 1);
  pg->addWidget(CheckBoxREMAP, 1, 2);
  pg->addWidget(EditREMAP, 1, 3);
  ButtonEPF = makeButton("ButtonEPF", "ERASEPIDFILTER", pid);
  ButtonPPF = makeButton("ButtonPPF", "WRITEPIDFILTER", pid);
  ButtonRPF = makeButton("ButtonRPF", "READPIDFILTER", pid);
  auto* pb = new QHBoxLayout;
  pb->setSpacing(3);
  pb->addWidget(ButtonEPF);
  pb->addWidget(ButtonPPF);
  pb->addWidget(ButtonRPF);
  pg->addLayout(pb, 3, 0, 1, 4);
  pg->setColumnStretch(3, 1);
  left->addWidget(pid);
  left->addStretch(1);
  root->addLayout(left, 0);

  // Right column: rates, flags, status and memo.
  auto* right = new QVBoxLayout;
  auto* rates = makeGroup("Input Data Rate (Max. 216 Mbps)", this, "GroupRates");
  auto* rg = new QGridLayout(rates);
  rg->setContentsMargins(4, 2, 4, 2);
  rg->setVerticalSpacing(1);
  rg->setHorizontalSpacing(4);
  for (int i = 1; i <= 6; ++i) {
    const QString d = QString::number(i);
    GaugeCh[i] = new TGauge("GaugeCh" + d, kRateGaugeMax, Qt::Horizontal, rates);
    GaugeCh[i]->setFixedHeight(13);
    GaugeCh[i]->setMinimumWidth(40);
    GaugeCh[i]->setColor(tessaly::colour::ButtonFace);
    LabelChS[i] = makeLabel("LabelCh" + d + "S", "0 kbps", rates);
    LabelChF[i] = makeLabel("LabelCh" + d + "F", " - ", rates);
    rg->addWidget(makeLabel("", "TS" + d, rates), i - 1, 0);
    rg->addWidget(GaugeCh[i], i - 1, 1);
    rg->addWidget(LabelChS[i], i - 1, 2, Qt::AlignRight);
    rg->addWidget(LabelChF[i], i - 1, 3);
  }
  GaugePFOut = new TGauge("GaugePFOut", kRateGaugeMax, Qt::Horizontal, rates);
  GaugePFOut->setFixedHeight(13);
  GaugePFOut->setMinimumWidth(40);
  LabelPFOut = makeLabel("LabelPFOut", "0 kbps", rates);
  Label29 = makeLabel("Label29", "204", rates);
  rg->addWidget(makeLabel("", "PID Filter Out", rates), 6, 0);
  rg->addWidget(GaugePFOut, 6, 1);
  rg->addWidget(LabelPFOut, 6, 2, Qt::AlignRight);
  rg->addWidget(Label29, 6, 3);
  auto* legend = new QHBoxLayout;
  legend->addWidget(legendSwatch(tessaly::colour::Green, "OK", rates));
  legend->addWidget(legendSwatch(tessaly::colour::Orange, "Sync Error", rates));
  legend->addWidget(legendSwatch(tessaly::colour::Red, "Overflow", rates));
  legend->addStretch(1);
  rg->addLayout(legend, 7, 0, 1, 4);
  rg->setColumnStretch(1, 1);
  rg->setColumnMinimumWidth(2, 62);
  rg->setColumnMinimumWidth(3, 24);
  right->addWidget(rates);

  auto* flags = new QGridLayout;
  flags->setVerticalSpacing(2);
  LabelIICError = makeLabel("LabelIICError", "IIC Error: h00", this);
  LabelIRE = makeLabel("LabelIRE", "Int. R. Er.: 0", this);
  LabelPFState = makeLabel("LabelPFState", "PID Filter State: h00", this);
  PanelPFState = new TPanel("PanelPFState", "", this);
  PanelPFState->setFixedWidth(60);
  flags->addWidget(LabelIICError, 0, 0);
  flags->addWidget(LabelIRE, 0, 1);
  flags->addWidget(LabelPFState, 1, 0);
  flags->addWidget(PanelPFState, 1, 1, Qt::AlignLeft);
  right->addLayout(flags);

  auto* status = new QHBoxLayout;
  PanelMpx = new TPanel("PanelMpx", "Status", this);
  ButtonRQ = makeButton("ButtonRQ", "Query", this);
  ButtonRQ->setMinimumWidth(70);
  status->addWidget(PanelMpx, 1);
  status->addWidget(ButtonRQ);
  right->addLayout(status);

  MemoMpx = new TMemo("MemoMpx",
                      {"To erase the PID Filter press the ", "ERASEPIDFILTER button. Use the ",
                       "Query button to check the state of ", "the PID Filter.", "",
                       "To enable/remap a PID, set the TS ", "Input, the PID and the Remap PID ",
                       "properties and press the ", "WRITEPIDFILTER button.", "",
                       "To read the PID Filter set the TS ", "Input and the PID properties ",
                       "(where PID mod 8 = 0). Press the ", "READPIDFILTER button and after ",
                       "that the Query button. "},
                      this);
  right->addWidget(MemoMpx, 1);
  // The inputs need their full width; the rates and the memo take what is left.
  auto* rightHolder = new QWidget(this);
  rightHolder->setLayout(right);
  right->setContentsMargins(0, 0, 0, 0);
  rightHolder->setMaximumWidth(268);
  root->addWidget(rightHolder, 1);

  connect(ButtonRQ, &QPushButton::clicked, this, [this] { host_.query(); });
  followQuery({PanelMpx, false, true, true});
  host_.registerNoticeWait(tessaly::state::MpxWait, tessaly::state::MpxGot, PanelMpx);
  connect(ButtonSetGeneralFilter, &QPushButton::clicked, this, &PageMpx::ButtonSetGeneralFilterClick);
  connect(ButtonEPF, &QPushButton::clicked, this, &PageMpx::ButtonEPFClick);
  connect(ButtonPPF, &QPushButton::clicked, this, &PageMpx::ButtonPPFClick);
  connect(ButtonRPF, &QPushButton::clicked, this, &PageMpx::ButtonRPFClick);
  connect(CheckBoxREMAP, &QCheckBox::toggled, this, &PageMpx::CheckBoxREMAPClick);
}

bool PageMpx::send(const tessaly::LabelledInstruction& instruction, TMemo* readMemo) {
  const auto& error = tessaly::kCommErrorCheckText;
  return host_.sendPageInstruction(instruction.label, instruction.opcode, instruction.data, PanelMpx,
                                   tessaly::state::MpxWait,
                                   QString::fromLatin1(error.data(), static_cast<qsizetype>(error.size())),
                                   readMemo);
}

void PageMpx::ButtonSetGeneralFilterClick() {
  tessaly::GeneralFilterBoxes boxes;
  for (std::size_t i = 0; i < 6; ++i) {
    boxes.enable[i] = CheckBoxEN[i + 1]->isChecked();
    boxes.dataValid[i] = CheckBoxDV[i + 1]->isChecked();
    boxes.nullPacket[i] = CheckBoxNP[i + 1]->isChecked();
    boxes.tspError[i] = CheckBoxTSP[i + 1]->isChecked();
  }
  send(tessaly::setGeneralFilterInstruction(boxes));
}

void PageMpx::ButtonEPFClick() { send(tessaly::erasePidFilterInstruction()); }

void PageMpx::ButtonPPFClick() {
  const std::int32_t pid = tessaly::edits::pid(EditPID->text().toStdString(), 0);
  EditPID->setText(QString::number(pid));
  std::int32_t outputPid = pid;
  // The remap edit is read (and written back) only while its box is ticked.
  if (CheckBoxREMAP->isChecked()) {
    outputPid = tessaly::edits::pid(EditREMAP->text().toStdString(), 0);
    EditREMAP->setText(QString::number(outputPid));
  }
  // Item 0 is TS1.
  send(tessaly::writePidFilterInstruction(RadioGroupTS->itemIndex() + 1, pid, outputPid));
}

void PageMpx::ButtonRPFClick() {
  const std::int32_t start = tessaly::pidFilterReadStart(tessaly::edits::pid(EditPID->text().toStdString(), 0));
  EditPID->setText(QString::number(start));
  send(tessaly::readPidFilterInstruction(RadioGroupTS->itemIndex() + 1, start), MemoMpx);
}

void PageMpx::CheckBoxREMAPClick() { EditREMAP->setEnabled(CheckBoxREMAP->isChecked()); }

void PageMpx::presentStatus(const tessaly::tZODADevice& d) {
  using namespace tessaly;
  PanelMpx->setCaption("Data refreshed.");
  PanelMpx->setColor(colour::LightGreen);
  LabelIICError->setText(QString::fromStdString("IIC Error: h" + upperHex(d.IicError)));
  LabelIRE->setText("Int. R. Er.: " + QString::number(d.IntRError));
  LabelPFState->setText(QString::fromStdString("PID Filter State: h" + upperHex(d.PidFilterState)));
  const bool busy = d.PidFilterState & 1;
  PanelPFState->setColor(busy ? colour::Red : colour::LightGreen);
  PanelPFState->setCaption(busy ? "Busy" : "Free");
  for (int n = 1; n <= 6; ++n) {
    const auto i = static_cast<std::size_t>(n);
    GaugeCh[i]->setProgress(d.InputRate[i]);
    LabelChS[i]->setText(QString::number(d.InputRate[i]) + " kbps");
    GaugeCh[i]->setColor(inputGaugeColour(d, n));
    LabelChF[i]->setText(QString::fromStdString(inputFormatText(d, n)));
    const int b = n - 1;
    CheckBoxEN[i]->setChecked((d.ChannelEnable >> b) & 1);
    CheckBoxDV[i]->setChecked((d.DataValidEnable >> b) & 1);
    CheckBoxNP[i]->setChecked((d.NullFilterEnable >> b) & 1);
    CheckBoxTSP[i]->setChecked((d.TspFilterEnable >> b) & 1);
  }
  const std::int32_t out = pidFilterOutRate(d);
  GaugePFOut->setProgress(out);
  LabelPFOut->setText(QString::number(out) + " kbps");
  const auto readback = pidReadbackLines(d);
  if (!readback.empty()) {
    MemoMpx->clearLines();
    MemoMpx->addLines(readback);
  }
}
