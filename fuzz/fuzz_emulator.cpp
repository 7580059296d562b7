// libFuzzer target for the board emulator's model. Build with clang:
//   CXX=clang++ cmake -S . -B build-fuzz -DTESSALY_FUZZ=ON -DTESSALY_BUILD_UI=OFF -DTESSALY_BUILD_TESTS=OFF
//   bash scripts/fuzz.sh fuzz_emulator
// One emulator lives across inputs, so that state built by earlier inputs (flash
// contents, erase timers, a moved SDI address) is exercised too. Every answer must
// be one of the emulator's answer forms.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/Emulator.h"

using namespace tessaly::emu;

namespace {

bool answerForm(const tessaly::Bytes& d) {
  auto magic = [&](const char* m) { return d.size() >= 6 && std::memcmp(d.data(), m, 6) == 0; };
  switch (d.size()) {
    case 18: return magic("CW-Net") && d[6] == 0x18;
    case 26: return magic("DDToIP") && d[22] == 0xF1;
    case 1032: return magic("CW-Net") && d[6] == 0x09 && (d[8] == 0x45 || d[8] == 0);
    case 1049: return magic("DDToIP") && d[22] == 0xF3 && d[23] == 0x04 && d[24] == 0x00;
    case 1046: return magic("DDToIP") && d[22] == 0xF0 && d[25] == 0x45;
    case 297: return magic("DDToIP") && d[22] == 0xFE && (d[25] == 1 || d[25] == 2);
    default: return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Emulator* emu = [] {
    EmulatorOptions o;
    o.seed = 1;
    o.eraseMs = 50;
    return new Emulator(o);
  }();
  static std::int64_t now = 0;
  // The first byte moves the clock on, the rest is the datagram.
  if (size > 0) {
    now += data[0];
    ++data;
    --size;
  }
  for (const Answer& a : emu->receive(data, size, now)) {
    if (!answerForm(a.data) || a.delayMs < 0) __builtin_trap();
  }
  return 0;
}
