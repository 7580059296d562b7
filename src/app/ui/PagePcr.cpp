#include "app/ui/PagePcr.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QVBoxLayout>

#include "app/PageEdits.h"
#include "instructions/PageInstructions.h"
#include "link/Framing.h"
#include "status/Decode.h"
#include "status/PcrChart.h"
#include "status/StatusReport.h"
#include "widgets/LineChart.h"

using namespace tessaly;

namespace {

QString latin1(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace


PagePcr::PagePcr(PageHost& host, QWidget* parent) : TPage(host, "PagePcr", parent) {
  auto* root = new QHBoxLayout(this);
  root->setSpacing(6);

  auto* left = new QVBoxLayout;
  auto* corr = makeGroup(" PCR Corrector ", this, "GroupPCRCorrector");
  auto* cg = new QGridLayout(corr);
  cg->setContentsMargins(6, 2, 6, 4);
  cg->setVerticalSpacing(2);
  CheckBoxPCR = makeCheck("CheckBoxPCR", "PCR Corrector On", false, corr);
  CheckBoxDP = makeCheck("CheckBoxDP", "Direct PCR ReStamping", false, corr);
  ButtonSetPCR = makeButton("ButtonSetPCR", "SETPCRCORRECTOR", corr);
  EditTestPID1 = makeEdit("EditTestPID1", "0", 4, corr);
  ButtonST1 = makeButton("ButtonST1", "SETTESTPCRPID", corr);
  cg->addWidget(CheckBoxPCR, 0, 0, 1, 2);
  cg->addWidget(CheckBoxDP, 1, 0, 1, 2);
  cg->addWidget(ButtonSetPCR, 2, 0, 1, 2);
  cg->addWidget(makeLabel("", "Test PCRPID:", corr), 3, 0);
  cg->addWidget(EditTestPID1, 3, 1);
  cg->addWidget(ButtonST1, 4, 0, 1, 2);
  left->addWidget(corr);

  auto* figs = makeGroup(" PCR Figures ", this, "GroupPCRFigures");
  auto* fg = new QGridLayout(figs);
  fg->setContentsMargins(6, 2, 6, 4);
  fg->setVerticalSpacing(1);
  LabelSDR = makeLabel("LabelSDR", "SDRAM Packets: 0", figs);
  LabelSlide = makeLabel("LabelSlide", "Slide: 0 (0 Hz)", figs);
  LabelCOR = makeLabel("LabelCOR", "COR @ 40 ms: 0", figs);
  LabelBR = makeLabel("LabelBR", "PCR Base Error: 0", figs);
  Label110 = makeLabel("Label110", "(0.000 ms)", figs);
  LabelPCRG = makeLabel("LabelPCRG", "Gradient: -", figs);
  fg->addWidget(LabelSDR, 0, 0, 1, 2);
  fg->addWidget(LabelSlide, 1, 0, 1, 2);
  fg->addWidget(LabelCOR, 2, 0, 1, 2);
  fg->addWidget(LabelBR, 3, 0);
  fg->addWidget(Label110, 3, 1);
  fg->addWidget(LabelPCRG, 4, 0, 1, 2);
  LabelPCR1 = makeLabel("LabelPCR1", "0", figs);
  LabelNPCR1 = makeLabel("LabelNPCR1", "0", figs);
  LabelPCRD1 = makeLabel("LabelPCRD1", "0", figs);
  LabelLPCR1 = makeLabel("LabelLPCR1", "0", figs);
  fg->addWidget(makeLabel("", "Number of  PCRPIDs:", figs), 5, 0);
  fg->addWidget(LabelPCR1, 5, 1);
  fg->addWidget(makeLabel("", "New PCRPID counter:", figs), 6, 0);
  fg->addWidget(LabelNPCR1, 6, 1);
  fg->addWidget(makeLabel("", "PCR Discontinuity:", figs), 7, 0);
  fg->addWidget(LabelPCRD1, 7, 1);
  fg->addWidget(makeLabel("", "Large PCR errors:", figs), 8, 0);
  fg->addWidget(LabelLPCR1, 8, 1);
  left->addWidget(figs);

  auto* status = new QHBoxLayout;
  PanelPCR = new TPanel("PanelPCR", "Status", this);
  ButtonPCRQuery = makeButton("ButtonPCRQuery", "Query", this);
  status->addWidget(PanelPCR, 1);
  status->addWidget(ButtonPCRQuery);
  left->addLayout(status);
  left->addStretch(1);
  root->addLayout(left, 0);

  // The chart and its buttons.
  auto* right = new QVBoxLayout;
  ChartPCR = new TLineChart("ChartPCR", this);
  ChartPCR->setTitle("PCR correction coefficient vs. time (of the Test PCRPID)");
  ChartPCR->setSeriesName("Channel1");
  ChartPCR->setLineColor(tColor(colour::ChartLine));
  ChartPCR->setBottomTitle("Second");
  ChartPCR->setBottomMax(chart::OpeningBottomMax);
  ChartPCR->setLeftTitle("COR @ 40 ms");
  ChartPCR->setLeftManual(-chart::LeftMax, chart::LeftMax);
  right->addWidget(ChartPCR, 1);

  auto* cb = new QHBoxLayout;
  Button2 = makeButton("Button2", "Start", this);
  Button5 = makeButton("Button5", "Continue", this);
  Button3 = makeButton("Button3", "Stop", this, false);
  Button4 = makeButton("Button4", "Clear", this, false);
  CheckBox9 = makeCheck("CheckBox9", "Auto Scale", false, this);
  for (auto* b : {Button2, Button5, Button3, Button4}) cb->addWidget(b);
  cb->addWidget(CheckBox9);
  cb->addStretch(1);
  right->addLayout(cb);
  root->addLayout(right, 1);

  connect(ButtonPCRQuery, &QPushButton::clicked, this, [this] { host_.query(); });
  followQuery({PanelPCR, false, false, true});
  host_.registerNoticeWait(state::PcrWait, state::PcrGot, PanelPCR);
  connect(ButtonSetPCR, &QPushButton::clicked, this, &PagePcr::ButtonSetPCRClick);
  connect(ButtonST1, &QPushButton::clicked, this, &PagePcr::ButtonST1Click);
  connect(Button2, &QPushButton::clicked, this, &PagePcr::Button2Click);
  connect(Button5, &QPushButton::clicked, this, &PagePcr::Button5Click);
  connect(Button3, &QPushButton::clicked, this, &PagePcr::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &PagePcr::Button4Click);
  connect(CheckBox9, &QCheckBox::clicked, this, &PagePcr::CheckBox9Click);

  registerChartTransactions(
      host_.engine(), [this](std::uint8_t code) { pollTimerFired(code); }, [this] { pollSendFailed(); },
      [this] { return polledAddress_; });
}

// ------------------------------------------------------------------ corrector instructions

void PagePcr::ButtonSetPCRClick() {
  const LabelledInstruction i = setPcrCorrectorInstruction(CheckBoxPCR->isChecked(), CheckBoxDP->isChecked());
  host_.sendPageInstruction(i.label, i.opcode, i.data, PanelPCR, state::PcrWait,
                            QString::fromLatin1(kCommErrorText.data(), static_cast<int>(kCommErrorText.size())));
}

void PagePcr::ButtonST1Click() {
  const std::int32_t pid = edits::pid(EditTestPID1->text().toLatin1().toStdString(), 1000);
  EditTestPID1->setText(QString::number(pid));
  const LabelledInstruction i = setTestPcrPidInstruction(pid);
  host_.sendPageInstruction(i.label, i.opcode, i.data, PanelPCR, state::PcrWait,
                            QString::fromLatin1(kCommErrorText.data(), static_cast<int>(kCommErrorText.size())));
}

// ------------------------------------------------------------------ chart

bool PagePcr::polling() const { return poller_.polling(); }

void PagePcr::setPollingButtons(bool on) {
  Button2->setEnabled(!on);
  Button5->setEnabled(!on);
  Button3->setEnabled(on);
  Button4->setEnabled(on);
  ButtonPCRQuery->setEnabled(!on);
  ButtonSetPCR->setEnabled(!on);
  ButtonST1->setEnabled(!on);
}

void PagePcr::applyLeftAxisRule() {
  if (CheckBox9->isChecked())
    ChartPCR->setLeftAutomatic();
  else
    ChartPCR->setLeftManual(-chart::LeftMax, chart::LeftMax);
}

void PagePcr::Button2Click() { carryOut(poller_.start()); }

void PagePcr::Button5Click() { carryOut(poller_.continueRun(host_.device().SampleCount)); }

void PagePcr::Button3Click() { carryOut(poller_.stop()); }

void PagePcr::Button4Click() {
  ChartPCR->clear();
  ChartPCR->setBottomMax(chart::StartBottomMax);
  host_.device().SampleCount = 0;
}

void PagePcr::CheckBox9Click() { applyLeftAxisRule(); }

void PagePcr::otherPageShown() { carryOut(poller_.otherPageShown()); }

void PagePcr::AddChartSample() {
  tZODADevice& d = host_.device();
  ++d.SampleCount;
  if (const int max = bottomAxisStepAt(d.SampleCount)) ChartPCR->setBottomMax(max);
  ChartPCR->addXY(d.SampleCount, chartValue(d.PcrSlide));
}

void PagePcr::pollTimerFired(std::uint8_t code) {
  const TransactionEngine& engine = host_.engine();
  const ReceiveBuffer& buffer = engine.buffer();
  ChartTimerEvent e;
  e.state = code;
  e.receivedLength = engine.receivedLength();
  e.at = [&buffer](std::size_t at) { return buffer.at(at); };
  e.sampleCount = host_.device().SampleCount;
  carryOut(poller_.timerFired(e));
}

void PagePcr::showPollMessage(std::string_view text, std::uint32_t colour) {
  PanelPCR->setCaption(latin1(text));
  PanelPCR->setColor(colour);
}

void PagePcr::pollSendFailed() { carryOut(poller_.sendFailed()); }

void PagePcr::carryOut(const ChartActions& actions) {
  TransactionEngine& engine = host_.engine();
  using K = ChartAction::Kind;
  for (const ChartAction& a : actions) {
    switch (a.kind) {
      case K::PollingStarted:
        setPollingButtons(true);
        if (a.flag) {
          ChartPCR->clear();
          ChartPCR->setBottomMax(chart::StartBottomMax);
        }
        applyLeftAxisRule();
        break;
      case K::PollingStopped:
        setPollingButtons(false);
        showPollMessage(kChartStoppedText, colour::ButtonFace);
        break;
      case K::RequestSent: PanelPCR->setCaption(latin1(kChartSentText)); break;
      case K::NoAnswer: showPollMessage(kChartNoAnswerText, colour::LightOrange); break;
      case K::AnswerRefused: showPollMessage(pollFaultText(a.fault), colour::LightOrange); break;
      case K::RequestNotSent:
        host_.clearInfo();
        showPollMessage(kCommErrorText, colour::LightOrange);
        break;
      case K::Sample: AddChartSample(); break;
      case K::SetState: engine.setState(static_cast<std::uint8_t>(a.value)); break;
      case K::SetInterval: engine.timer().setInterval(a.value); break;
      case K::EnableTimer: engine.timer().setEnabled(true); break;
      case K::ArmTimer: engine.armTimer(a.value); break;
      case K::SendStatusRequest: {
        // The rest of the list follows once the request has left; a failed send runs
        // the poll's send-failure handler instead.
        polledAddress_ = host_.sdiAddress();
        const Bytes request = encodeReadDatagram(host_.framing(), polledAddress_);
        ChartActions rest(actions.begin() + (&a - actions.data()) + 1, actions.end());
        host_.startTransaction(static_cast<std::uint8_t>(a.value), request, StartOptions{},
                               [this, rest = std::move(rest)] { carryOut(rest); });
        return;
      }
      case K::TakeStatus: host_.decodeAndPresent(a.value); break;
      case K::SetSampleCount: host_.device().SampleCount = a.value; break;
      case K::StopPolling: engine.abort(); break;
    }
  }
}

void PagePcr::presentStatus(const tessaly::tZODADevice& d) {
  using namespace tessaly;
  PanelPCR->setCaption("Data refreshed.");
  PanelPCR->setColor(colour::LightGreen);
  CheckBoxPCR->setChecked(d.PcrState & 0x01);
  CheckBoxDP->setChecked(d.PcrState & 0x10);
  LabelSDR->setText("SDRAM Packets: " + QString::number(d.SdramUsage));
  LabelSlide->setText(QString::fromStdString(slideText(d.PcrSlide)));
  LabelCOR->setText(QString::fromStdString(corText(d.PcrSlide)));
  LabelBR->setText(QString::fromStdString(baseErrorText(d.PcrBaseError)));
  Label110->setText(QString::fromStdString(baseErrorMsText(d.PcrBaseError, QLocale().decimalPoint().toStdString())));
  LabelPCRG->setText(QString::fromStdString(gradientText(d.PcrBaseError)));
  EditTestPID1->setText(QString::number(d.TestPid));
  LabelPCR1->setText(QString::number(d.PcrPidCount));
  LabelNPCR1->setText(QString::number(d.NewPcrPidCount));
  LabelPCRD1->setText(QString::number(d.PcrDiscontinuity));
  LabelLPCR1->setText(QString::number(d.LargePcrErrors));
  QPalette p = LabelSDR->palette();
  p.setColor(QPalette::WindowText, tColor(sdramLabelColour(d)));
  LabelSDR->setPalette(p);
}
