#pragma once
// Plays the controller and the board in-process: every datagram the panel sends
// through the harness's fake endpoint goes to the emulator's model, and the model's
// answers come back on the virtual clock after their delays. With the model's fault
// options (drop, duplicate, corrupt, delay) it is a hostile network, repeatably.
#include <memory>

#include "helpers/UiHarness.h"
#include "model/Emulator.h"

namespace uitest {

class InProcessBoard {
 public:
  InProcessBoard(Harness& h, const tessaly::emu::EmulatorOptions& options);
  ~InProcessBoard();
  tessaly::emu::Emulator& emulator() { return emulator_; }
  int answersSent() const { return answers_; }

 private:
  Harness& h_;
  tessaly::emu::Emulator emulator_;
  int answers_ = 0;
};

}  // namespace uitest
