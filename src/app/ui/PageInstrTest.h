#pragma once
// "Instruction Test": up to five hand-written instructions, viewed byte by byte and
// sent, with the raw answer dumped into MemoIns.
#include <array>

#include "app/ui/PageHost.h"
#include "app/ui/Widgets.h"

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

  // Behaviour of the page's own buttons, row check boxes and key presses
  // (state codes 120/121) goes here.
};
