#pragma once
// "Manufacturer Setup" (hidden unless the settings enable it): the device query
// step, the test configuration run and the PCR corrector switches.
#include <array>

#include "app/ui/PageHost.h"
#include "app/ui/Widgets.h"

class PageMfg : public TPage {
  Q_OBJECT
 public:
  explicit PageMfg(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // The page was hidden (another page shown): a running test stops here.
  void pageHidden();

  QPushButton* Button6;
  TPanel* PanelMS;
  std::array<TPanel*, 8> PanelXC{};  // [1..7]
  QLineEdit* EditTP;
  std::array<QCheckBox*, 4> CheckBoxAP{};  // [1..3]
  std::array<QLineEdit*, 4> EditAP{};
  QCheckBox* CheckBoxMIP;
  std::array<QLineEdit*, 5> EditMIP{};  // [1..4]
  QPushButton* ButtonMS;
  QPushButton* ButtonBreak;
  QLabel* LabelTest;
  TPanel* PanelTest;
  std::array<QLabel*, 5> LabelProcess{};  // Label94 .. Label98
  std::array<TPanel*, 5> PanelPID{}, PanelPSIUnit{}, PanelPCRUnit{};  // [1..4]
  QPushButton* ButtonPCRON;
  QPushButton* ButtonPCROFF;

  // The test run (states 90..103), Break, the additional-PID check boxes and the
  // PCR corrector switches (104/105) go here.
};
