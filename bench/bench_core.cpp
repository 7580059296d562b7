// Core hot paths: the PLL divider search run in the click handler, and status decoding.
#include <benchmark/benchmark.h>

#include "clock/Pll.h"
#include "link/Framing.h"
#include "status/Decode.h"

using namespace tessaly;

static void BM_PllSearch(benchmark::State& state) {
  const auto f = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(searchPll(f));
}
BENCHMARK(BM_PllSearch)->Arg(97753)->Arg(3000000)->Arg(40500000)->Unit(benchmark::kMillisecond);

static void BM_DecodeStatus(benchmark::State& state) {
  Bytes answer = bytesOf("DDToIPQuillmarsh  SDI");
  answer.resize(kDDToIPStatusAnswer, 0);
  for (std::size_t i = 22; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i * 31);
  ReceiveBuffer buffer;
  buffer.store(answer.data(), answer.size());
  tZODADevice device;
  device.AnswerBase = kDDToIPAnswerBase;
  for (auto _ : state) {
    DecodeStatus(device, buffer);
    benchmark::DoNotOptimize(device);
  }
}
BENCHMARK(BM_DecodeStatus);
