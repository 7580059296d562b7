#pragma once
// "General": the board's housekeeping instructions, the output clock and stream
// format, and the page memo with the frequencies.
#include "app/ui/PageHost.h"
#include "app/ui/Widgets.h"

class PageGeneral : public TPage {
  Q_OBJECT
 public:
  explicit PageGeneral(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  QLineEdit* EditSerial;
  QPushButton* ButtonSerial;
  QLineEdit* EditType;
  QPushButton* ButtonType;
  QPushButton* ButtonReset;
  QLineEdit* EditUT;
  QPushButton* ButtonUT;
  TRadioGroup* RadioGroupAddress;
  QPushButton* ButtonSetAddress;
  QLineEdit* EditNCO;
  QLineEdit* EditPLL;
  TRadioGroup* RadioGroupClkSource;
  TRadioGroup* RadioGroupStrFormat;
  TRadioGroup* RadioGroupPP;
  QPushButton* ButtonSetOutputFormat;
  TMemo* MemoGS;
  TPanel* PanelGS;  // its caption is the label LabelGS
  QPushButton* Button7;

  // The housekeeping buttons (SETSERIAL .. SETADDRESS) and SETSTREAMFORMAT are
  // connected here; they send through host_.sendPageInstruction with PanelGS and
  // waiting code 2.
};
