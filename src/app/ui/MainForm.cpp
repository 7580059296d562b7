#include "app/ui/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QLinearGradient>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ui/FormAbout.h"
#include "app/ui/PageGeneral.h"
#include "app/ui/PageInstrTest.h"
#include "app/ui/PageMain.h"
#include "app/ui/PageMfg.h"
#include "app/ui/PageMpx.h"
#include "app/ui/PagePcr.h"
#include "app/ui/PagePsi.h"
#include "app/ui/SettingsForm.h"
#include "app/ui/Widgets.h"
#include "link/Framing.h"
#include "text/Numbers.h"
#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

using namespace tessaly;

namespace {

constexpr const char* kCaption = "ASI Remultiplexer Tessaly v1.00";
constexpr int kClientWidth = 744;
constexpr int kClientHeight = 536;
constexpr int kReplyTimeoutMs = 1000;

// The window's background: a dark blue-to-teal gradient crossed by thin diagonal
// lines, drawn here (no picture file).
class TBackground : public QWidget {
 public:
  explicit TBackground(QWidget* parent) : QWidget(parent) { setObjectName("Background"); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient g(0, 0, width(), height());
    g.setColorAt(0.0, QColor(22, 44, 78));
    g.setColorAt(1.0, QColor(18, 96, 104));
    p.fillRect(rect(), g);
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    for (int x = -height(); x < width(); x += 14) p.drawLine(x, height(), x + height(), 0);
  }
};

}  // namespace

TMainForm::OwnedPorts TMainForm::productionPorts() {
  OwnedPorts p;
  p.timer = std::make_unique<QtTimer>();
  p.endpoint = std::make_unique<QtUdpEndpoint>();
  return p;
}

TMainForm::TMainForm() : TMainForm(productionPorts(), nullptr, nullptr, nullptr) {
  if (const QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
}

TMainForm::TMainForm(Timer& timer, Endpoint& endpoint, QWidget* parent)
    : TMainForm(OwnedPorts{}, &timer, &endpoint, parent) {}

TMainForm::TMainForm(OwnedPorts ports, Timer* timer, Endpoint* endpoint, QWidget* parent)
    : QMainWindow(parent),
      owned_(std::move(ports)),
      timer_(timer ? *timer : *owned_.timer),
      endpoint_(endpoint ? *endpoint : *owned_.endpoint),
      engine_(timer_, endpoint_) {
  create();
}

TMainForm::~TMainForm() {
  // Pages are deleted after this body; removing them must not run the page-show handler.
  if (tabs_) disconnect(tabs_, nullptr, this, nullptr);
  // Nothing may reach the window once it is gone.
  timer_.setEnabled(false);
  endpoint_.deactivate();
  timer_.setHandler(nullptr);
  endpoint_.setReceiver(nullptr);
}

// The create handler: the device record, the receive buffer and state 0 come with
// the engine; then the caption, the pages (the manufacturer page hidden, "Main"
// selected) and the settings.
void TMainForm::create() {
  setObjectName("MainForm");
  messageBox_ = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
  buildWindow();
  setWindowTitle(kCaption);
  pageMain_->LabelECSetup->setText("Ethernet Controller Setup");
  tabs_->setTabVisible(TabMfg, false);
  tabs_->setCurrentIndex(TabMain);
  shownTab_ = TabMain;
  registerEngineHandlers();
  pagePcr_->setStatusHooks([this] { PresentStatus(); }, [this] { pageMain_->MemoInfo->clearLines(); });
  loadSettings();
  connect(tabs_, &QTabWidget::currentChanged, this, &TMainForm::pageShown);
}

void TMainForm::buildWindow() {
  QFont f = font();
  f.setPointSizeF(8);
  setFont(f);

  auto* bar = menuBar();
  bar->setObjectName("MainMenu");
  auto* file = bar->addMenu("File");
  file->setObjectName("File1");
  auto* exit = file->addAction("Exit");
  exit->setObjectName("Exit1");
  auto* settings = bar->addAction("Settings");
  settings->setObjectName("Settings1");
  auto* about = bar->addAction("About");
  about->setObjectName("About1");
  connect(exit, &QAction::triggered, this, &QWidget::close);
  connect(settings, &QAction::triggered, this, &TMainForm::Settings1Click);
  connect(about, &QAction::triggered, this, &TMainForm::About1Click);

  auto* background = new TBackground(this);
  auto* outer = new QVBoxLayout(background);
  outer->setContentsMargins(8, 6, 8, 8);
  auto* inset = new QFrame(background);
  inset->setObjectName("PanelInset");
  inset->setFrameShape(QFrame::Panel);
  inset->setFrameShadow(QFrame::Sunken);
  inset->setAutoFillBackground(true);
  auto* il = new QVBoxLayout(inset);
  il->setContentsMargins(2, 2, 2, 2);
  tabs_ = new QTabWidget(inset);
  tabs_->setObjectName("PageControl1");
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(false);
  // Seven captions must fit side by side in the fixed window.
  tabs_->tabBar()->setStyleSheet("QTabBar::tab { padding: 3px 6px; }");
  tabs_->setUsesScrollButtons(false);
  il->addWidget(tabs_);
  outer->addWidget(inset);
  setCentralWidget(background);

  auto addPage = [this](QWidget* page, const QString& sheet, const QString& caption) {
    auto* holder = new QWidget;
    holder->setObjectName(sheet);
    auto* l = new QVBoxLayout(holder);
    l->setContentsMargins(4, 4, 4, 2);
    l->addWidget(page);
    tabs_->addTab(holder, caption);
  };
  pageMain_ = new PageMain(*this, link_);
  pageInstrTest_ = new PageInstrTest(*this);
  pageGeneral_ = new PageGeneral(*this);
  pageMpx_ = new PageMpx(*this);
  pagePsi_ = new PagePsi(*this);
  pagePcr_ = new PagePcr(*this);
  pageMfg_ = new PageMfg(*this);
  addPage(pageMain_, "TabSheetMain", "Main");
  addPage(pageInstrTest_, "TabSheetInstrTest", "Instruction Test");
  addPage(pageGeneral_, "TabSheetNCO", "General");
  addPage(pageMpx_, "TabSheetIPRemux", "Mpx and PID Filter");
  addPage(pagePsi_, "TabSheetMpxPID", "SDRAM and PSI Inserter");
  addPage(pagePcr_, "TabSheetPCR", "PCR Corrector");
  addPage(pageMfg_, "TabSheetCW", "Manufacturer Setup");

  // The client area below the menu bar has the fixed size; the window adds the bar.
  background->setFixedSize(kClientWidth, kClientHeight);
  int barHeight = bar->heightForWidth(kClientWidth);
  if (barHeight < 0) barHeight = bar->sizeHint().height();
  setFixedSize(kClientWidth, kClientHeight + barHeight);

  settingsForm_ = new TSettingsForm(this);
  aboutForm_ = new TFormAbout(this);
}

// ------------------------------------------------------------------ link values

Framing TMainForm::framing() const { return link_.framing; }
std::uint8_t TMainForm::sdiAddress() const { return link_.sdiAddress; }
// Requests go to the device IP caption as it stands: what the user sees is what is
// sent, also when something other than the page wrote the caption.
std::string TMainForm::deviceIp() const { return pageMain_->LabelIPAddr->text().toStdString(); }

bool TMainForm::manufacturerPageVisible() const { return tabs_->isTabVisible(TabMfg); }

void TMainForm::message(const QString& text) {
  if (messageBox_) messageBox_(text);
}

void TMainForm::addChartSample() { pagePcr_->AddChartSample(); }

void TMainForm::setMessageBox(std::function<void(const QString&)> box) {
  messageBox_ = box;
  settingsForm_->setMessageBox(std::move(box));
}

// ------------------------------------------------------------------ the send path

bool TMainForm::sendPageTransaction(const PageTransaction& t) {
  const std::string ip = deviceIp();
  if (t.panel) t.panel->setColor(colour::ButtonFace);
  engine_.setState(t.waitingCode);
  const auto failed = [panel = t.panel, text = t.errorText] {
    if (!panel) return;
    panel->setCaption(text);
    panel->setColor(colour::Red);
  };
  // Also when the datagram cannot go out after all (its host name does not resolve).
  engine_.registerSendFailureHandler(t.waitingCode, failed);
  if (!engine_.activateAndSend(ip, link_.devicePort, t.datagram)) {
    failed();
    return false;
  }
  if (t.panel) t.panel->setCaption(t.sentText);
  if (t.readMemo) {
    t.readMemo->clearLines();
    t.readMemo->addLine("Press Query to show data!");
  }
  engine_.armTimer(t.timeoutMs);
  return true;
}

bool TMainForm::sendPageInstruction(std::string_view label, std::uint8_t opcode, const Bytes& data, TPanel* panel,
                                    std::uint8_t waitingCode, const QString& errorText, TMemo* readMemo) {
  PageTransaction t;
  t.datagram = encodeSingleInstructionDatagram(framing(), label, sdiAddress(), opcode, data);
  t.panel = panel;
  t.waitingCode = waitingCode;
  t.errorText = errorText;
  t.readMemo = readMemo;
  return sendPageTransaction(t);
}

// ------------------------------------------------------------------ engine codes

void TMainForm::interruptOutcome(TPanel* panel, bool received) {
  panel->setCaption(received ? "SDI IRQ received." : "No SDI IRQ received (in 1s).");
  panel->setColor(received ? colour::LightGreen : colour::Red);
}

void TMainForm::registerEngineHandlers() {
  const std::pair<std::uint8_t, TPanel*> waits[] = {{state::GeneralWait, pageGeneral_->PanelGS},
                                                     {state::MpxWait, pageMpx_->PanelMpx},
                                                     {state::PsiWait, pagePsi_->PanelPSI},
                                                     {state::PcrWait, pagePcr_->PanelPCR}};
  for (const auto& [code, panel] : waits) {
    TPanel* p = panel;
    engine_.registerHandler(code, [this, p] { interruptOutcome(p, false); });
    engine_.registerHandler(static_cast<std::uint8_t>(code + 1), [this, p] { interruptOutcome(p, true); });
  }
  engine_.registerHandler(state::QueryCwNetWait, [this] { queryTimedOut(); });
  engine_.registerHandler(state::QueryDDToIPWait, [this] { queryTimedOut(); });
  engine_.registerHandler(state::QueryCwNetGot, [this] { queryAnswered(Framing::CwNet); });
  engine_.registerHandler(state::QueryDDToIPGot, [this] { queryAnswered(Framing::DDToIP); });
  engine_.registerSendFailureHandler(state::QueryCwNetWait, [this] { querySendFailed(); });
  engine_.registerSendFailureHandler(state::QueryDDToIPWait, [this] { querySendFailed(); });
}

// ------------------------------------------------------------------ device query

void TMainForm::ButtonQueryClick() {
  const std::string ip = deviceIp();
  const Framing f = framing();
  const Bytes request = encodeReadDatagram(f, sdiAddress());
  engine_.setState(f == Framing::DDToIP ? state::QueryDDToIPWait : state::QueryCwNetWait);
  pageMfg_->PanelMS->setColor(colour::ButtonFace);
  TPanel* panels[] = {pageMfg_->PanelMS, pageMpx_->PanelMpx, pagePsi_->PanelPSI};
  TMemo* memo = pageMain_->MemoInfo;
  if (!engine_.activateAndSend(ip, link_.devicePort, request)) {
    querySendFailed();
    return;
  }
  memo->clearLines();
  memo->addLines(querySentLines(link_.hostPort, link_.devicePort, ip));
  for (auto* p : panels) p->setCaption("Message sent, waiting for reply...");
  engine_.armTimer(kReplyTimeoutMs);
}

void TMainForm::querySendFailed() {
  TMemo* memo = pageMain_->MemoInfo;
  memo->clearLines();
  memo->addLines(QStringList{"Communication Error!", "Check your network connection!"});
  for (auto* p : {pageMfg_->PanelMS, pageMpx_->PanelMpx, pagePsi_->PanelPSI}) p->setCaption("Communication Error!");
}

void TMainForm::queryTimedOut() {
  pageMain_->MemoInfo->addLine("No answer received (in 1s).");
  pageMain_->LabelD->setText("Device Code:");
  for (auto* p : {pageMfg_->PanelMS, pageMpx_->PanelMpx, pagePsi_->PanelPSI, pagePcr_->PanelPCR}) {
    p->setCaption("No answer received (in 1s).");
    p->setColor(colour::Red);
  }
}

void TMainForm::queryAnswered(Framing f) {
  QueryContext ctx;
  ctx.framing = f;
  ctx.deviceIp = deviceIp();
  ctx.devicePort = link_.devicePort;
  ctx.selectedSdiAddress = pageMain_->RadioGroup3->itemIndex() + 1;
  const ReceiveBuffer& buffer = engine_.buffer();
  const QueryOutcome o =
      evaluateQueryAnswer(ctx, engine_.receivedLength(), [&buffer](std::size_t at) { return buffer.at(at); });

  TMemo* memo = pageMain_->MemoInfo;
  memo->clearLines();
  memo->addLines(o.memoLines);
  for (auto* p : {pageMfg_->PanelMS, pageMpx_->PanelMpx, pagePsi_->PanelPSI, pagePcr_->PanelPCR}) {
    p->setCaption(QString::fromStdString(o.panelText));
    p->setColor(o.panelColour);
  }
  if (!o.otherPanelsText.empty())
    for (auto* p : {pageMpx_->PanelMpx, pagePsi_->PanelPSI, pagePcr_->PanelPCR})
      p->setCaption(QString::fromStdString(o.otherPanelsText));
  if (o.labelDChanged) pageMain_->LabelD->setText(QString::fromStdString(o.labelD));
  if (o.decode) {
    device_.AnswerBase = o.answerBase;
    DecodeStatus(device_, engine_.buffer());
    PresentStatus();
  }
}

void TMainForm::PresentStatus() {
  pageMain_->presentStatus(device_);
  pageGeneral_->presentStatus(device_);
  pageMpx_->presentStatus(device_);
  pagePsi_->presentStatus(device_);
  pagePcr_->presentStatus(device_);
  pageMfg_->presentStatus(device_);
}

// ------------------------------------------------------------------ pages

void TMainForm::pageShown(int index) {
  const int previous = shownTab_;
  shownTab_ = index;
  if (previous == TabMfg && index != TabMfg) pageMfg_->pageHidden();
  if (index != TabPcr) pagePcr_->otherPageShown();
}

// ------------------------------------------------------------------ settings dialog and about

void TMainForm::Settings1Click() {
  settingsForm_->load(saveOnExit_, link_.hostPort, link_.devicePort);
  if (settingsForm_->exec() == QDialog::Accepted) applySettingsDialog();
}

void TMainForm::About1Click() {
  aboutForm_->setTexts("ASI Remultiplexer", "Tessaly v1.00");
  aboutForm_->exec();
}

// ------------------------------------------------------------------ shutdown

void TMainForm::shutdown() {
  if (closed_) return;
  closed_ = true;
  saveSettings();
  endpoint_.deactivate();
  timer_.setEnabled(false);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  shutdown();
  e->accept();
}
