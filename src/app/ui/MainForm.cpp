#include "app/ui/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ui/ConfigTransfer.h"
#include "app/ui/FormAbout.h"
#include "app/ui/PageGeneral.h"
#include "app/ui/PageInstrTest.h"
#include "app/ui/PageMain.h"
#include "app/ui/PageMfg.h"
#include "app/ui/PageMpx.h"
#include "app/ui/PagePcr.h"
#include "app/ui/PagePsi.h"
#include "app/ui/Query.h"
#include "app/ui/SettingsForm.h"
#include "app/ui/TrafficWindow.h"
#include "widgets/Widgets.h"
#include "capture/CaptureFile.h"
#include "link/Framing.h"
#include "text/Numbers.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"
#include "status/Decode.h"

using namespace tessaly;

namespace {

constexpr const char* kCaption = "ASI Remultiplexer Tessaly v1.00";
constexpr int kClientWidth = 744;
constexpr int kClientHeight = 536;

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
      session_(timer_, endpoint_) {
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
  endpoint_.setTap(nullptr);
  // The writer thread ends before the window it reports to.
  if (capture_) capture_->close();
}

// The create handler: the device record, the receive buffer and state 0 come with
// the engine; then the caption, the pages (the manufacturer page hidden, "Main"
// selected) and the settings.
void TMainForm::create() {
  setObjectName("MainForm");
  messageBox_ = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
  session_.traffic().add(&trafficLog_);
  buildWindow();
  setWindowTitle(kCaption);
  tabs_->setTabVisible(TabMfg, false);
  tabs_->setCurrentIndex(TabMain);
  shownTab_ = TabMain;
  pages_ = {pageMain_, pageGeneral_, pageMpx_, pagePsi_, pagePcr_, pageMfg_};
  query_ = std::make_unique<DeviceQuery>(session_, pages_);
  config_ = std::make_unique<ConfigTransfer>(*this);
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
  exportConfig_ = file->addAction("Export configuration\u2026");
  exportConfig_->setObjectName("ExportConfig1");
  applyConfig_ = file->addAction("Apply configuration\u2026");
  applyConfig_->setObjectName("ApplyConfig1");
  connect(exportConfig_, &QAction::triggered, this, &TMainForm::ExportConfig1Click);
  connect(applyConfig_, &QAction::triggered, this, &TMainForm::ApplyConfig1Click);
  file->addSeparator();
  auto* exit = file->addAction("Exit");
  exit->setObjectName("Exit1");
  auto* settings = bar->addAction("Settings");
  settings->setObjectName("Settings1");
  settingsAction_ = settings;
  auto* about = bar->addAction("About");
  about->setObjectName("About1");
  connect(exit, &QAction::triggered, this, &QWidget::close);
  connect(settings, &QAction::triggered, this, &TMainForm::Settings1Click);
  connect(about, &QAction::triggered, this, &TMainForm::About1Click);
  // After the menu's own entries: the traffic view.
  auto* traffic = bar->addAction("Traffic");
  traffic->setObjectName("Traffic1");
  connect(traffic, &QAction::triggered, this, &TMainForm::Traffic1Click);

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
  pageMain_ = new PageMain(*this, session_.link());
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

Framing TMainForm::framing() const { return session_.link().framing; }
std::uint8_t TMainForm::sdiAddress() const { return session_.link().sdiAddress; }
// The IP base and extension that the device IP caption shows.
std::string TMainForm::deviceIp() const { return session_.link().deviceIp(); }

bool TMainForm::manufacturerPageVisible() const { return tabs_->isTabVisible(TabMfg); }

void TMainForm::message(const QString& text) {
  if (messageBox_) messageBox_(text);
}

bool TMainForm::startCapture(const QString& path, QString* error) {
  stopCapture();
  auto file = std::make_unique<CaptureFile>();
  std::string why;
  // Never over the settings file, whatever name or link leads to it.
  const std::string settings = settingsPath(QDir::currentPath().toStdString());
  if (!file->open(QFile::encodeName(path).toStdString(), &why, settings)) {
    const QString text = "Cannot write the capture file " + path + ": " + QString::fromStdString(why);
    if (error) *error = text;
    message(text);
    return false;
  }
  // A write error is reported once, in the window's thread, whether it is seen while
  // the capture runs or when it ends.
  auto reported = std::make_shared<bool>(false);
  file->setFailureHandler([this, path, reported](const std::string& failure) {
    QMetaObject::invokeMethod(
        this, [this, path, reported, failure] { reportCaptureFailure(path, failure, *reported); }, Qt::QueuedConnection);
  });
  capture_ = std::move(file);
  capturePath_ = path;
  captureReported_ = std::move(reported);
  session_.traffic().add(capture_.get());
  return true;
}

void TMainForm::stopCapture() {
  if (!capture_) return;
  session_.traffic().remove(capture_.get());
  // A reader that takes nothing holds the window up no longer than the limit.
  if (!capture_->close()) reportCaptureFailure(capturePath_, capture_->failure(), *captureReported_);
  capture_.reset();
  captureReported_.reset();
}

void TMainForm::reportCaptureFailure(const QString& path, const std::string& failure, bool& reported) {
  if (reported) return;
  reported = true;
  message("The capture file " + path + " stopped: " + QString::fromStdString(failure) +
          ". It holds the packets written before.");
}

void TMainForm::addChartSample() { pagePcr_->AddChartSample(); }

void TMainForm::setMessageBox(std::function<void(const QString&)> box) {
  messageBox_ = box;
  settingsForm_->setMessageBox(std::move(box));
}

// ------------------------------------------------------------------ pages and the query

bool TMainForm::sendPageTransaction(const PageTransaction& t) { return sender_.send(t); }

bool TMainForm::sendPageInstruction(std::string_view label, std::uint8_t opcode, const Bytes& data, TPanel* panel,
                                    std::uint8_t waitingCode, const QString& errorText, TMemo* readMemo) {
  return sender_.sendInstruction(label, opcode, data, panel, waitingCode, errorText, readMemo);
}

void TMainForm::registerNoticeWait(std::uint8_t waiting, std::uint8_t received, TPanel* panel) {
  sender_.registerNoticeWait(waiting, received, panel);
}

void TMainForm::ButtonQueryClick() { query_->start(); }

void TMainForm::clearInfo() { pageMain_->clearInfo(); }

void TMainForm::decodeAndPresent(int answerBase) {
  session_.decodeStatus(answerBase);
  PresentStatus();
}

void TMainForm::PresentStatus() {
  for (TPage* p : pages_) p->presentStatus(session_.device());
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
  settingsForm_->load(saveOnExit_, session_.link().hostPort, session_.link().devicePort);
  if (settingsForm_->exec() == QDialog::Accepted) applySettingsDialog();
}

void TMainForm::About1Click() {
  aboutForm_->setTexts("ASI Remultiplexer", "Tessaly v1.00");
  aboutForm_->exec();
}

void TMainForm::Traffic1Click() {
  if (!trafficWindow_) trafficWindow_ = new TrafficWindow(trafficLog_, this);
  trafficWindow_->show();
  trafficWindow_->raise();
  trafficWindow_->activateWindow();
}

// ------------------------------------------------------------------ board configurations

void TMainForm::ExportConfig1Click() { config_->exportConfiguration(); }
void TMainForm::ApplyConfig1Click() { config_->applyConfiguration(); }

void TMainForm::setConfigRunning(bool running) {
  if (running) {
    pagePcr_->otherPageShown();
    pageMfg_->pageHidden();
    session_.engine().endPendingSend();
  } else {
    // An applied identity may have moved the board: the Main page follows it.
    const int sdi = session_.link().sdiAddress;
    if (sdi >= 1 && sdi <= 15 && pageMain_->RadioGroup3->itemIndex() != sdi - 1)
      pageMain_->RadioGroup3->setItemIndex(sdi - 1);
  }
  // The pages' controls; the tabs stay, so the pages can still be looked at.
  for (int i = 0; i < tabs_->count(); ++i) tabs_->widget(i)->setEnabled(!running);
  for (QAction* a : {exportConfig_, applyConfig_, settingsAction_}) a->setEnabled(!running);
}

// ------------------------------------------------------------------ shutdown

void TMainForm::shutdown() {
  if (closed_) return;
  closed_ = true;
  saveSettings();
  endpoint_.deactivate();
  timer_.setEnabled(false);
  stopCapture();
}

void TMainForm::closeEvent(QCloseEvent* e) {
  shutdown();
  e->accept();
}
