#pragma once
// "Mpx and PID Filter": the inputs' filters, the PID filter instructions, the input
// data rates and the PID filter read-back.
#include <array>

#include "app/ui/PageHost.h"
#include "instructions/PageInstructions.h"
#include "widgets/Widgets.h"
#include "instructions/GeneralInstructions.h"

class PageMpx : public TPage {
  Q_OBJECT
 public:
  explicit PageMpx(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // Index 1..6 are inputs 1..6.
  std::array<QCheckBox*, 7> CheckBoxEN{}, CheckBoxDV{}, CheckBoxNP{}, CheckBoxTSP{};
  std::array<TGauge*, 7> GaugeCh{};
  std::array<QLabel*, 7> LabelChS{}, LabelChF{};
  QPushButton* ButtonSetGeneralFilter;
  TGauge* GaugePFOut;
  QLabel* LabelPFOut;
  QLabel* Label29;
  QLabel* LabelIICError;
  QLabel* LabelIRE;
  QLabel* LabelPFState;
  TPanel* PanelPFState;
  TRadioGroup* RadioGroupTS;
  QLineEdit* EditPID;
  QCheckBox* CheckBoxREMAP;
  QLineEdit* EditREMAP;
  QPushButton* ButtonEPF;
  QPushButton* ButtonPPF;
  QPushButton* ButtonRPF;
  TPanel* PanelMpx;
  TMemo* MemoMpx;
  QPushButton* ButtonRQ;

  // The page's instructions: each reads and normalises its controls, writes the
  // values it sends back into the edits and sends through the host (waiting code
  // 4, PanelMpx).
  void ButtonSetGeneralFilterClick();
  void ButtonEPFClick();
  void ButtonPPFClick();
  void ButtonRPFClick();
  // The remap edit is usable only while its box is ticked (also when the box is
  // set from the settings file).
  void CheckBoxREMAPClick();

 private:
  bool send(const tessaly::LabelledInstruction& instruction, TMemo* readMemo = nullptr);
};
