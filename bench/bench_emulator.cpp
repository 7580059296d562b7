// How long the emulator's model takes per datagram, by kind of datagram.
#include <benchmark/benchmark.h>

#include "link/Framing.h"
#include "instructions/GeneralInstructions.h"
#include "model/Emulator.h"

using namespace tessaly;
using namespace tessaly::emu;

namespace {

EmulatorOptions options() {
  EmulatorOptions o;
  o.seed = 1;
  return o;
}

void run(benchmark::State& state, const Bytes& datagram) {
  Emulator emu(options());
  std::int64_t now = 0;
  for (auto _ : state) {
    now += 3;
    auto answers = emu.receive(datagram, now);
    benchmark::DoNotOptimize(answers);
  }
}

void BM_ReadDDToIP(benchmark::State& s) { run(s, encodeReadDatagram(Framing::DDToIP, 1)); }
void BM_ReadCwNet(benchmark::State& s) { run(s, encodeReadDatagram(Framing::CwNet, 1)); }
void BM_LoadSerial(benchmark::State& s) { run(s, setSerialInstruction(56765).datagram(Framing::DDToIP, 1)); }
void BM_DeviceStatusRequest(benchmark::State& s) {
  run(s, encodeSdiMessage("Quillmarsh  ACK", encodeInstruction(0x03, {0x01})));
}
void BM_Garbage(benchmark::State& s) { run(s, Bytes(1400, 0xA5)); }

}  // namespace

BENCHMARK(BM_ReadDDToIP);
BENCHMARK(BM_ReadCwNet);
BENCHMARK(BM_LoadSerial);
BENCHMARK(BM_DeviceStatusRequest);
BENCHMARK(BM_Garbage);
