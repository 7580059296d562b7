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

  // The device IP caption is always the IP base followed by the up-down position.
  void setIpBase(const std::string& base);
  const std::string& ipBase() const { return ipBase_; }
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
  std::string& ipBase_;
};
