#pragma once
// "Main": Ethernet controller set-up (device IP, framing, SDI address), the device
// query and the device information memo.
#include "app/ui/PageHost.h"
#include "app/ui/Widgets.h"

class PageMain : public TPage {
  Q_OBJECT
 public:
  // ipBase: the main window's IP base field, which this page shows and changes.
  PageMain(PageHost& host, std::string& ipBase, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;
  void querySent(const std::vector<std::string>& memoLines) override;
  void querySendFailed() override;
  void queryTimedOut() override;
  void presentQueryOutcome(const tessaly::QueryOutcome& o) override;
  // The chart's polling could not send: the information memo is emptied.
  void clearInfo() { MemoInfo->clearLines(); }

  // The device IP caption is always the IP base followed by the up-down position.
  void setIpBase(const std::string& base);
  const std::string& ipBase() const { return ipBase_; }
  void refreshDeviceIp();
  // The link settings as the page shows them.
  tessaly::Framing framing() const {
    return RadioGroupAP->itemIndex() == 1 ? tessaly::Framing::DDToIP : tessaly::Framing::CwNet;
  }
  // No selection (an index of -1 from the settings file) addresses nothing valid;
  // the request then goes to address 0, as the radio group index + 1 says.
  std::uint8_t sdiAddress() const { return static_cast<std::uint8_t>(RadioGroup3->itemIndex() + 1); }
  std::string deviceIp() const { return LabelIPAddr->text().toStdString(); }

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
  std::string& ipBase_;
};
