#pragma once
// "Instruction Test": up to five hand-written instructions, viewed byte by byte and
// sent, with the raw answer dumped into MemoIns.
#include <array>

#include "app/ui/PageHost.h"
#include "widgets/Widgets.h"
#include "instructions/InstructionTest.h"

class PageInstrTest : public TPage {
  Q_OBJECT
 public:
  explicit PageInstrTest(PageHost& host, QWidget* parent = nullptr);

  std::array<QCheckBox*, 6> CheckBoxI{};  // [1..5]
  std::array<QLineEdit*, 6> EditOC{};
  std::array<QLineEdit*, 6> EditL{};
  std::array<QLineEdit*, 6> EditData{};
  QLineEdit* Edit1;
  QPushButton* ButtonICompute;
  QPushButton* ButtonISend;
  TMemo* MemoIns;

  // A ticked row takes part in the message; its opcode and data edits follow the box.
  void CheckBoxIClick(int row);
  // "View message": the message dump, nothing sent.
  void ButtonIComputeClick();
  // "Send": the send dump, the send, and the report; on success waits in 120.
  void ButtonISendClick();

 protected:
  // Key presses in the opcode and data edits: Enter confirms (cleans the text and
  // restores the edit's colour), any other key marks the edit as not confirmed.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Reads the rows and the user text, builds the message and writes the cleaned
  // texts, the counts and the label back into the controls.
  tessaly::InstructionMessage buildMessage();
  void answerTimedOut();
  void sendFailed();  // the communication-error lines, endpoint closed
  void answerReceived();
};
