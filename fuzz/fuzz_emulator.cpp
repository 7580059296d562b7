// The board emulator on any sequence of datagrams: no crash, and every answer is
// one of the forms the panel knows (an interrupt notice, a status answer in either
// framing, or a test-device answer).
#include "FuzzInput.h"
#include "model/Emulator.h"

using namespace tessaly;
using namespace tessaly::emu;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  EmulatorOptions options;
  options.seed = in.byte();
  options.eraseMs = in.byte() * 10;
  Emulator emulator(options);
  std::int64_t now = 0;
  while (!in.empty()) {
    now += in.byte();
    const auto datagram = in.chunk(1600);
    for (const auto& answer : emulator.receive(datagram, now)) {
      const std::size_t n = answer.data.size();
      const bool known = n <= 26 || n == 1032 || n == 1049 || n == 1046 || n == 297;
      if (!known || answer.delayMs < 0) __builtin_trap();
    }
  }
  return 0;
}
