#pragma once
// "General": the board's housekeeping instructions, the output clock and stream
// format, and the page memo with the frequencies.
#include "app/ui/PageHost.h"
#include "widgets/Widgets.h"
#include "instructions/GeneralInstructions.h"
#include "text/Bytes.h"

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

  // The page's instructions. Each reads and normalises its inputs, writes the
  // normalised values back into the edits (and, for the PLL clock, the report into
  // MemoGS), then sends one SDI message to the board at the selected SDI address:
  // waiting code 2, outcome on PanelGS / LabelGS.
  void ButtonSerialClick();
  void ButtonTypeClick();
  void ButtonResetClick();
  void ButtonUTClick();
  void ButtonSetAddressClick();
  void ButtonSetOutputFormatClick();

 private:
  // The page's one send path: anything that frames itself for a framing and an
  // SDI address (a labelled instruction, the stream-format message) goes out
  // through the host in the framing and to the address the Main page selects now.
  template <typename Message>
  bool send(const Message& message) {
    return sendDatagram(message.datagram(host_.framing(), host_.sdiAddress()));
  }
  bool sendDatagram(tessaly::Bytes datagram);
};
