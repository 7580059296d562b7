#include "app/ui/PageMfg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QVBoxLayout>

#include "link/Engine.h"
#include "status/Palette.h"
#include "status/StatusReport.h"

using tessaly::MfgAction;
using tessaly::MfgActions;
using tessaly::MfgField;
using tessaly::MfgOutcome;
using tessaly::UnitGroup;
using tessaly::UnitState;

namespace {

// The unit panels: button face, light yellow while erasing, light green, red.
std::uint32_t unitPanelColour(UnitState s) {
  switch (s) {
    case UnitState::NotSeen: return tessaly::colour::ButtonFace;
    case UnitState::InProgress: return tessaly::colour::LightYellow;
    case UnitState::Done: return tessaly::colour::LightGreen;
    case UnitState::Failed: return tessaly::colour::Red;
  }
  return tessaly::colour::ButtonFace;
}

void setTextColour(QLabel* label, std::uint32_t bgr) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, tColor(bgr));
  label->setPalette(p);
}

}  // namespace

PageMfg::PageMfg(PageHost& host, QWidget* parent) : TPage(host, "PageMfg", parent) {
  auto* root = new QVBoxLayout(this);
  root->setSpacing(4);

  // Step 1.
  auto* s1 = makeGroup(" Step 1. - Communication and SelfTest ", this, "GroupMfgStep1");
  auto* l1 = new QHBoxLayout(s1);
  l1->setContentsMargins(6, 2, 6, 4);
  Button6 = makeButton("Button6", "Query", s1);
  Button6->setMinimumWidth(80);
  PanelMS = new TPanel("PanelMS", "Press Query!", s1);
  PanelMS->setMinimumWidth(230);
  l1->addWidget(Button6);
  l1->addWidget(PanelMS, 1);
  for (int i = 1; i <= 7; ++i) {
    PanelXC[i] = new TPanel("PanelXC" + QString::number(i), "", s1);
    PanelXC[i]->setFixedWidth(34);
    l1->addWidget(PanelXC[i]);
  }
  root->addWidget(s1);

  // Step 2.
  auto* s2 = makeGroup(" Step 2. - Program Test Configuration", this, "GroupMfgStep2");
  auto* l2 = new QHBoxLayout(s2);
  l2->setContentsMargins(6, 2, 6, 4);
  auto* inputs = new QGridLayout;
  inputs->setVerticalSpacing(2);
  EditTP = makeEdit("EditTP", "58100", 5, s2);
  inputs->addWidget(makeLabel("", "Test Input Stream Port:", s2), 0, 0);
  inputs->addWidget(EditTP, 0, 1);
  const char* apDefaults[] = {"", "150", "151", "160"};
  const char* apNotes[] = {"", "(PMT PID)", "(Video PID)", "(Audio PID)"};
  for (int i = 1; i <= 3; ++i) {
    const QString d = QString::number(i);
    CheckBoxAP[i] = makeCheck("CheckBoxAP" + d, "Enable additional PID:", true, s2);
    EditAP[i] = makeEdit("EditAP" + d, apDefaults[i], 0, s2);
    inputs->addWidget(CheckBoxAP[i], i, 0);
    inputs->addWidget(EditAP[i], i, 1);
    inputs->addWidget(makeLabel("", apNotes[i], s2), i, 2);
  }
  CheckBoxMIP = makeCheck("CheckBoxMIP", "Multicast IP:", true, s2);
  inputs->addWidget(CheckBoxMIP, 4, 0);
  auto* mip = new QHBoxLayout;
  mip->setSpacing(2);
  const char* mipDefaults[] = {"", "239", "123", "13", "100"};
  for (int i = 1; i <= 4; ++i) {
    EditMIP[i] = makeEdit("EditMIP" + QString::number(i), mipDefaults[i], 3, s2);
    EditMIP[i]->setFixedWidth(36);
    mip->addWidget(EditMIP[i]);
  }
  mip->addStretch(1);
  inputs->addLayout(mip, 4, 1, 1, 2);
  auto* runButtons = new QHBoxLayout;
  ButtonMS = makeButton("ButtonMS", "Program Test Configuration", s2);
  ButtonBreak = makeButton("ButtonBreak", "Break", s2, false);
  runButtons->addWidget(ButtonMS);
  runButtons->addWidget(ButtonBreak);
  inputs->addLayout(runButtons, 5, 0, 1, 3);
  LabelTest = makeLabel("LabelTest", "Press 'Program Test Configuration' !", s2);
  inputs->addWidget(LabelTest, 6, 0, 1, 3);
  PanelTest = new TPanel("PanelTest", "", s2);
  inputs->addWidget(PanelTest, 7, 0, 1, 3);
  l2->addLayout(inputs, 1);

  auto* procs = makeGroup(" Processes ", s2, "GroupProcesses");
  auto* pl = new QGridLayout(procs);
  pl->setContentsMargins(6, 2, 6, 4);
  pl->setVerticalSpacing(2);
  for (int i = 0; i < 5; ++i) {
    const std::string_view step = tessaly::kMfgStepTexts[static_cast<std::size_t>(i)];
    LabelProcess[i] = makeLabel("Label" + QString::number(94 + i),
                                QString::fromLatin1(step.data(), static_cast<qsizetype>(step.size())), procs);
    pl->addWidget(LabelProcess[i], i, 0, 1, 5);
  }
  pl->addWidget(makeLabel("", "PID Filters:", procs), 5, 0);
  pl->addWidget(makeLabel("", "PSI Inserters:", procs), 6, 0);
  for (int u = 1; u <= 4; ++u) {
    const QString d = QString::number(u);
    PanelPID[u] = new TPanel("PanelPID" + d, d, procs);
    PanelPSIUnit[u] = new TPanel("PanelPSI" + d, d, procs);
    pl->addWidget(PanelPID[u], 5, u);
    pl->addWidget(PanelPSIUnit[u], 6, u);
  }
  l2->addWidget(procs, 1);
  root->addWidget(s2);

  // Step 3.
  auto* s3 = makeGroup(" Step 3. - Visual Test with PCR Correction ", this, "GroupMfgStep3");
  auto* l3 = new QHBoxLayout(s3);
  l3->setContentsMargins(6, 2, 6, 4);
  ButtonPCRON = makeButton("ButtonPCRON", "Enable PCR Correctors", s3);
  ButtonPCROFF = makeButton("ButtonPCROFF", "Disable PCR Correctors", s3);
  l3->addWidget(ButtonPCRON);
  l3->addWidget(ButtonPCROFF);
  l3->addSpacing(12);
  l3->addWidget(makeLabel("", "PCR Correctors:", s3));
  for (int u = 1; u <= 4; ++u) {
    PanelPCRUnit[u] = new TPanel("PanelPCR" + QString::number(u), QString::number(u), s3);
    PanelPCRUnit[u]->setFixedWidth(40);
    l3->addWidget(PanelPCRUnit[u]);
  }
  l3->addStretch(1);
  root->addWidget(s3);
  root->addStretch(1);

  connect(Button6, &QPushButton::clicked, this, [this] { host_.query(); });
  connect(ButtonMS, &QPushButton::clicked, this, &PageMfg::ButtonMSClick);
  connect(ButtonBreak, &QPushButton::clicked, this, &PageMfg::ButtonBreakClick);
  connect(ButtonPCRON, &QPushButton::clicked, this, &PageMfg::ButtonPCRONClick);
  connect(ButtonPCROFF, &QPushButton::clicked, this, &PageMfg::ButtonPCROFFClick);
  // Each additional-PID edit is usable exactly while its box is ticked; toggled also
  // follows the settings file ticking the boxes at start-up.
  for (int i = 1; i <= 3; ++i) {
    QLineEdit* e = EditAP[i];
    e->setEnabled(CheckBoxAP[i]->isChecked());
    connect(CheckBoxAP[i], &QCheckBox::toggled, e, &QLineEdit::setEnabled);
  }

  followQuery({PanelMS, true, true, false});
  tessaly::registerMfgTransactions(
      host_.engine(), [this] { timerFired(); },
      [this](std::uint8_t code, bool) { carryOut(sequence_.sendFailed(code)); });
}

void PageMfg::ButtonMSClick() {
  host_.engine().endPendingSend();
  tessaly::MfgInputTexts in;
  in.testPort = EditTP->text().toStdString();
  for (std::size_t i = 0; i < 3; ++i) {
    in.additionalPidOn[i] = CheckBoxAP[i + 1]->isChecked();
    in.additionalPid[i] = EditAP[i + 1]->text().toStdString();
  }
  in.multicastOn = CheckBoxMIP->isChecked();
  for (std::size_t i = 0; i < 4; ++i) in.multicast[i] = EditMIP[i + 1]->text().toStdString();
  carryOut(sequence_.start(in));
}

void PageMfg::ButtonBreakClick() { carryOut(sequence_.breakRun()); }

void PageMfg::pageHidden() { carryOut(sequence_.pageHidden()); }

void PageMfg::hideEvent(QHideEvent* e) {
  // Another page shown ends a run. Minimising the window does not (a spontaneous
  // event), nor does the window going away (it is no longer visible then, and the
  // main window may be half destroyed).
  if (!e->spontaneous() && window()->isVisible()) pageHidden();
  TPage::hideEvent(e);
}

void PageMfg::timerFired() {
  tessaly::TransactionEngine& engine = host_.engine();
  const auto& buffer = engine.buffer().bytes();
  tessaly::MfgTimerEvent event;
  event.state = engine.state();
  event.buffer = buffer.data();
  event.bufferSize = buffer.size();
  event.receivedLength = engine.receivedLength();
  event.testPort = tessaly::normaliseTestPort(EditTP->text().toStdString());
  carryOut(sequence_.timerFired(event));
}

void PageMfg::carryOut(const MfgActions& actions) {
  if (actions.empty()) return;
  tessaly::TransactionEngine& engine = host_.engine();
  for (const MfgAction& a : actions) {
    switch (a.kind) {
      case MfgAction::Kind::Progress: LabelTest->setText(QString::fromStdString(a.text)); break;
      case MfgAction::Kind::StepStarted: highlightStep(a.step); break;
      case MfgAction::Kind::UnitResult:
        if (TPanel* p = unitPanel(a.group, a.unit)) p->setColor(unitPanelColour(a.unitState));
        break;
      case MfgAction::Kind::RunStarted: PanelTest->setColor(tessaly::colour::ButtonFace); break;
      case MfgAction::Kind::RunUnderway: setRunning(true); break;
      case MfgAction::Kind::RunFinished: showOutcome(a.outcome); break;
      case MfgAction::Kind::WriteBack:
        if (QLineEdit* e = edit(a.field)) e->setText(QString::fromStdString(a.text));
        break;
      case MfgAction::Kind::Send: {
        // Always a plain message to the device itself, whatever the Main page's framing.
        // The rest of the list follows once the datagram has left; a failed send has
        // carried out the sequence's answer to it instead.
        MfgActions rest(actions.begin() + (&a - actions.data()) + 1, actions.end());
        host_.startTransaction(a.waitState, a.datagram, a.startOptions(),
                               [this, rest = std::move(rest)] { carryOut(rest); });
        return;
      }
      case MfgAction::Kind::Schedule:
      case MfgAction::Kind::Deactivate:
      case MfgAction::Kind::Abort: tessaly::applyEngineAction(engine, a); break;
      case MfgAction::Kind::AddChartSample: host_.addChartSample(); break;
      case MfgAction::Kind::StoreNcoFrequency: host_.device().NcoFrequency = a.value; break;
    }
  }
}

void PageMfg::highlightStep(int step) {
  for (int i = 0; i < 5; ++i)
    setTextColour(LabelProcess[static_cast<std::size_t>(i)], i == step ? tessaly::colour::Blue : tessaly::colour::Black);
}

void PageMfg::setRunning(bool running) {
  ButtonMS->setEnabled(!running);
  ButtonBreak->setEnabled(running);
}

void PageMfg::showOutcome(MfgOutcome outcome) {
  const std::string_view caption = tessaly::mfgOutcomeCaption(outcome);
  switch (outcome) {
    case MfgOutcome::Passed:
      highlightStep(-1);
      PanelTest->setColor(tessaly::colour::LightGreen);
      break;
    case MfgOutcome::Failed:
    case MfgOutcome::NotStarted: PanelTest->setColor(tessaly::colour::Red); break;
    case MfgOutcome::Stopped: break;
  }
  if (!caption.empty())
    PanelTest->setCaption(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
  // A run whose first message never left never switched the buttons.
  if (outcome != MfgOutcome::NotStarted) setRunning(false);
}

TPanel* PageMfg::unitPanel(UnitGroup group, int unit) const {
  if (unit < 1 || unit > 4) return nullptr;
  const auto u = static_cast<std::size_t>(unit);
  switch (group) {
    case UnitGroup::Pid: return PanelPID[u];
    case UnitGroup::Psi: return PanelPSIUnit[u];
    case UnitGroup::Pcr: return PanelPCRUnit[u];
  }
  return nullptr;
}

QLineEdit* PageMfg::edit(MfgField field) const {
  switch (field) {
    case MfgField::TestPort: return EditTP;
    case MfgField::AdditionalPid1: return EditAP[1];
    case MfgField::AdditionalPid2: return EditAP[2];
    case MfgField::AdditionalPid3: return EditAP[3];
    case MfgField::Multicast1: return EditMIP[1];
    case MfgField::Multicast2: return EditMIP[2];
    case MfgField::Multicast3: return EditMIP[3];
    case MfgField::Multicast4: return EditMIP[4];
  }
  return nullptr;
}

void PageMfg::presentStatus(const tessaly::tZODADevice& d) {
  PanelPCRUnit[1]->setColor((d.PcrState & 1) ? tessaly::colour::LightGreen : tessaly::colour::ButtonFace);
}
