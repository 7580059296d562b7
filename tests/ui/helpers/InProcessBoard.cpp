#include "InProcessBoard.h"

namespace uitest {

InProcessBoard::InProcessBoard(Harness& h, const tessaly::emu::EmulatorOptions& options) : h_(h), emulator_(options) {
  h_.endpoint.onSend = [this](const tessaly::testing::SentDatagram& s) {
    for (const auto& answer : emulator_.receive(s.data, h_.clock.now())) {
      ++answers_;
      h_.injectAfter(answer.delayMs, answer.data);
    }
  };
}

InProcessBoard::~InProcessBoard() { h_.endpoint.onSend = nullptr; }

}  // namespace uitest
