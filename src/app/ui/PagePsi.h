#pragma once
// "SDRAM and PSI Inserter": the sectors of the packet buffer, the PSI inserter's
// flash instructions, the SDRAM figures and the PSI read-back.
#include <array>

#include "app/ui/PageHost.h"
#include "instructions/PageInstructions.h"
#include "widgets/Widgets.h"
#include "instructions/GeneralInstructions.h"

class PagePsi : public TPage {
  Q_OBJECT
 public:
  explicit PagePsi(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // Index 1..12 are sectors 1..12.
  std::array<QCheckBox*, 13> CheckBoxS{};
  std::array<QLineEdit*, 13> EditSS{}, EditSE{};
  std::array<QPushButton*, 13> ButtonS{};
  TGauge* GaugeSDRAM;
  QLabel* Label13;
  QLabel* LabelNP;
  QLabel* LabelIns;
  QLabel* Label15;
  QLabel* LabelPSIState;
  TPanel* PanelPSIState;
  QPushButton* ButtonErasePSI;
  TRadioGroup* RadioGroupPT;
  QLineEdit* EditFix;
  QLineEdit* EditPIDPSI;
  QLineEdit* EditAddress;
  QLineEdit* EditTimer;
  QCheckBox* CheckBoxACC;
  QPushButton* ButtonWritePSI;
  QPushButton* ButtonReadPSI;
  TPanel* PanelPSI;
  TMemo* MemoPSI;
  QPushButton* Button1;

  // The page's instructions (waiting code 6, PanelPSI). Each reads and normalises
  // its controls and writes the values it sends back into the edits. Only rows
  // 1..4 can be set: ButtonS5 .. ButtonS12 stay disabled and send nothing.
  void ButtonSClick(int row);
  void ButtonErasePSIClick();
  void ButtonWritePSIClick();
  void ButtonReadPSIClick();

 private:
  bool send(const tessaly::LabelledInstruction& instruction, TMemo* readMemo = nullptr);
};
