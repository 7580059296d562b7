#pragma once
// "Manufacturer Setup" (hidden unless the settings enable it): the device query
// step, the test configuration run and the PCR corrector switches.
#include <array>

#include "app/ui/PageHost.h"
#include "widgets/Widgets.h"
#include "mfgtest/MfgSequence.h"

class PageMfg : public TPage {
  Q_OBJECT
 public:
  explicit PageMfg(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // The page was hidden (another page shown): a running test stops here, as by Break.
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

  void ButtonMSClick();
  void ButtonBreakClick();
  void ButtonPCRONClick() { carryOut(sequence_.pcrSwitch(true)); }
  void ButtonPCROFFClick() { carryOut(sequence_.pcrSwitch(false)); }

  const tessaly::MfgSequence& sequence() const { return sequence_; }

 protected:
  void hideEvent(QHideEvent* e) override;

 private:
  // The engine calls this for the states 90..105 when the timer fires.
  void timerFired();
  // Carries out the sequence's actions in order; a failed send drops the rest of
  // the list and carries out what the sequence says about the failure instead.
  void carryOut(const tessaly::MfgActions& actions);
  // Label94..Label98: the running step blue, the others black; -1 all black.
  void highlightStep(int step);
  // Program Test Configuration disabled and Break enabled while running; the reverse otherwise.
  void setRunning(bool running);
  // The result panel's colour and caption, and the buttons, for how a run ended.
  void showOutcome(tessaly::MfgOutcome outcome);
  TPanel* unitPanel(tessaly::UnitGroup group, int unit) const;
  QLineEdit* edit(tessaly::MfgField field) const;

  tessaly::MfgSequence sequence_;
};
