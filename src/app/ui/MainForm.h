#pragma once
// The main window: owns the endpoint, the timer, the transaction engine, the device
// record and the settings file for the whole run, holds the seven pages, the menu
// and the two dialogs, runs the device query and presents every decoded status.
//
// TMainForm() is the production window (Qt timer and UDP endpoint, Settings.ini
// from the working directory). The second constructor takes a timer and an
// endpoint from outside (tests: virtual timer and fake endpoint); it reads
// Settings.ini from the working directory too.
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "app/ui/PageHost.h"
#include "app/ui/PageSend.h"
#include "device/DeviceSession.h"
#include "link/Engine.h"
#include "link/LinkSettings.h"
#include "link/Ports.h"
#include "status/DeviceStatus.h"
#include "wire/TrafficLog.h"

class QTabWidget;
class PageMain;
class PageInstrTest;
class PageGeneral;
class PageMpx;
class PagePsi;
class PagePcr;
class PageMfg;
class TSettingsForm;
class DeviceQuery;
class TFormAbout;
class TrafficWindow;
class ConfigTransfer;
class QAction;
namespace tessaly {
class CaptureFile;
}

class TMainForm : public QMainWindow, public PageHost {
  Q_OBJECT
 public:
  TMainForm();
  TMainForm(tessaly::Timer& timer, tessaly::Endpoint& endpoint, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Tab indexes, in tab order.
  enum Tab { TabMain, TabInstrTest, TabGeneral, TabMpx, TabPsi, TabPcr, TabMfg };

  // PageHost.
  tessaly::TransactionEngine& engine() override { return session_.engine(); }
  tessaly::tZODADevice& device() override { return session_.device(); }
  tessaly::Framing framing() const override;
  std::uint8_t sdiAddress() const override;
  std::string deviceIp() const override;
  int devicePort() const override { return session_.link().devicePort; }
  int hostPort() const override { return session_.link().hostPort; }
  bool sendPageTransaction(const PageTransaction& t) override;
  bool sendPageInstruction(std::string_view label, std::uint8_t opcode, const tessaly::Bytes& data, TPanel* panel,
                           std::uint8_t waitingCode, const QString& errorText, TMemo* readMemo = nullptr) override;
  void registerNoticeWait(std::uint8_t waiting, std::uint8_t received, TPanel* panel) override;
  void query() override { ButtonQueryClick(); }
  void decodeAndPresent(int answerBase) override;
  tessaly::DeviceSession& session() { return session_; }
  void clearInfo() override;
  void message(const QString& text) override;
  void addChartSample() override;

  // Shows the decoded status on every page.
  void PresentStatus();
  // The device query (every "Query" button).
  void ButtonQueryClick();
  // Menu actions.
  void Settings1Click();
  void About1Click();
  // "Traffic": opens (or raises) the traffic view.
  void Traffic1Click();
  // File > "Export configuration…" / "Apply configuration…" (src/app/ui/ConfigTransfer.h).
  void ExportConfig1Click();
  void ApplyConfig1Click();
  // A configuration run starts or ends. It keeps the engine to itself: what a page
  // change stops (the chart's polling, the manufacturer test) stops, and the pages' controls,
  // the Settings dialog and the configuration entries are disabled until it ends.
  // Then the Main page shows the SDI address the board is at (an applied identity
  // may have moved it) and the requests follow the Main page again.
  void setConfigRunning(bool running);
  // Takes over what the Settings dialog holds after "Save": the save-on-exit flag,
  // then its three keys are stored, then the ports change. A store that fails (an
  // unreadable file too) is reported and leaves the ports and the endpoint as they were.
  void applySettingsDialog();

  // Fields and parts, for the pages' later behaviour and for tests.
  bool saveOnExit() const { return saveOnExit_; }
  const std::string& ipBase() const { return session_.link().ipBase; }
  const tessaly::LinkSettings& linkSettings() const { return session_.link(); }
  tessaly::IniFile& settingsFile() { return *ini_; }
  tessaly::Timer& timer() { return timer_; }
  tessaly::Endpoint& endpoint() { return endpoint_; }
  QTabWidget* tabs() const { return tabs_; }
  PageMain* pageMain() const { return pageMain_; }
  PageInstrTest* pageInstrTest() const { return pageInstrTest_; }
  PageGeneral* pageGeneral() const { return pageGeneral_; }
  PageMpx* pageMpx() const { return pageMpx_; }
  PagePsi* pagePsi() const { return pagePsi_; }
  PagePcr* pagePcr() const { return pagePcr_; }
  PageMfg* pageMfg() const { return pageMfg_; }
  TSettingsForm* settingsForm() const { return settingsForm_; }
  TFormAbout* aboutForm() const { return aboutForm_; }
  // Every datagram the endpoint sends, receives or drops goes to this fanout for the
  // whole run: the traffic log is one of its taps, a capture file another.
  tessaly::TrafficFanout& trafficTap() { return session_.traffic(); }
  tessaly::TrafficLog& trafficLog() { return trafficLog_; }
  TrafficWindow* trafficWindow() const { return trafficWindow_; }
  ConfigTransfer* configTransfer() const { return config_.get(); }
  bool manufacturerPageVisible() const;
  // Writes every datagram from now on to a capture file at `path` (replacing one
  // being written). A file that cannot be written (or is the settings file) is
  // reported in the message box, and the window runs on without a capture; so is a
  // write error later, once. Exit ends the capture (abandoned after 0.8 s when its
  // reader takes nothing).
  bool startCapture(const QString& path, QString* error = nullptr);
  // Replaces the modal information box (tests).
  void setMessageBox(std::function<void(const QString&)> box);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  struct OwnedPorts {
    std::unique_ptr<tessaly::Timer> timer;
    std::unique_ptr<tessaly::Endpoint> endpoint;
  };
  static OwnedPorts productionPorts();
  // Uses the given timer and endpoint, or the owned ones when they are null.
  TMainForm(OwnedPorts ports, tessaly::Timer* timer, tessaly::Endpoint* endpoint, QWidget* parent);

  void create();
  void buildWindow();
  void loadSettings();
  void applySetting(const tessaly::SettingKey& key);
  void saveSettings();
  void writeSetting(const tessaly::SettingKey& key);
  void shutdown();
  void stopCapture();
  void reportCaptureFailure(const QString& path, const std::string& failure, bool& reported);
  void pageShown(int index);

  OwnedPorts owned_;
  tessaly::TrafficLog trafficLog_;
  tessaly::Timer& timer_;
  tessaly::Endpoint& endpoint_;
  tessaly::DeviceSession session_;  // engine, link settings, status record, query, traffic tap
  PageSender sender_{*this};
  std::unique_ptr<tessaly::IniFile> ini_;
  bool saveOnExit_ = true;
  bool closed_ = false;
  int shownTab_ = 0;

  QTabWidget* tabs_ = nullptr;
  PageMain* pageMain_ = nullptr;
  PageInstrTest* pageInstrTest_ = nullptr;
  PageGeneral* pageGeneral_ = nullptr;
  PageMpx* pageMpx_ = nullptr;
  PagePsi* pagePsi_ = nullptr;
  PagePcr* pagePcr_ = nullptr;
  PageMfg* pageMfg_ = nullptr;
  TSettingsForm* settingsForm_ = nullptr;
  TFormAbout* aboutForm_ = nullptr;
  TrafficWindow* trafficWindow_ = nullptr;  // made on first use
  std::vector<TPage*> pages_;  // the pages that present a status, in presentation order
  std::unique_ptr<DeviceQuery> query_;
  QAction* exportConfig_ = nullptr;
  QAction* applyConfig_ = nullptr;
  QAction* settingsAction_ = nullptr;
  std::unique_ptr<ConfigTransfer> config_;  // after query_: a run ends before the query it borrowed from
  std::function<void(const QString&)> messageBox_;
  std::unique_ptr<tessaly::CaptureFile> capture_;
  QString capturePath_;
  std::shared_ptr<bool> captureReported_;  // the capture's failure was shown (window thread only)
};
