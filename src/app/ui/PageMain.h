#pragma once
// "Main": Ethernet controller set-up (device IP, framing, SDI address), the device
// query and the device information memo.
#include "app/ui/PageHost.h"
#include "widgets/Widgets.h"
#include "link/LinkSettings.h"

class PageMain : public TPage {
  Q_OBJECT
 public:
  // link: the main window's link settings, which this page's controls show and change.
  PageMain(PageHost& host, tessaly::LinkSettings& link, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;
  void querySent(const std::vector<std::string>& memoLines) override;
  void querySendFailed() override;
  void queryTimedOut() override;
  void presentQueryOutcome(const tessaly::QueryOutcome& o) override;
  // The chart's polling could not send: the information memo is emptied.
  void clearInfo() { MemoInfo->clearLines(); }

  // The device IP caption is always the IP base followed by the up-down position.
  void setIpBase(const std::string& base);
  const std::string& ipBase() const { return link_.ipBase; }
  void refreshDeviceIp();

  TRadioGroup* RadioGroupAP;
  TRadioGroup* RadioGroup3;
  TUpDown* UpDownIP;
  QLabel* LabelIPAddr;
  QLabel* LabelECSetup;
  QLineEdit* EditIP;
  QPushButton* ButtonIPBase;
  QPushButton* ButtonQuery;
  QLabel* LabelD;
  TMemo* MemoInfo;

 private:
  void UpDownIPClick();
  void ButtonIPBaseClick();
  void radioGroupsChanged();
  tessaly::LinkSettings& link_;
};
