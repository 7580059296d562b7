// Capture files: the cost of record() on the socket's thread (it only queues), and
// of writing a saved log of records at once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "capture/CaptureFile.h"

using namespace tessaly;

namespace {
TrafficRecord datagram(std::size_t size) {
  TrafficRecord r;
  r.direction = TrafficDirection::Received;
  r.localAddress = 0x7F000001;
  r.localPort = 56789;
  r.peerAddress = 0x7F000001;
  r.peerPort = 56790;
  r.wireLength = static_cast<std::uint32_t>(size);
  r.data.assign(size, 0x5A);
  return r;
}
std::string scratch() { return (std::filesystem::temp_directory_path() / "tessaly_bench_capture.pcap").string(); }
}  // namespace

static void BM_CaptureRecord(benchmark::State& state) {
  CaptureFile f;
  std::string error;
  if (!f.open(scratch(), &error)) state.SkipWithError(error.c_str());
  TrafficRecord r = datagram(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    r.monotonicNs = trafficNow();
    f.record(r);
  }
  f.close();
  state.counters["lost"] = static_cast<double>(f.lost());
  std::remove(scratch().c_str());
}
BENCHMARK(BM_CaptureRecord)->Arg(44)->Arg(1060);

static void BM_WriteCaptureFile(benchmark::State& state) {
  std::vector<TrafficRecord> records(10000, datagram(1060));
  for (std::size_t i = 0; i < records.size(); ++i) records[i].monotonicNs = static_cast<std::int64_t>(i) * 1000;
  std::string error;
  for (auto _ : state)
    if (!writeCaptureFile(scratch(), records, &error)) state.SkipWithError(error.c_str());
  std::remove(scratch().c_str());
}
BENCHMARK(BM_WriteCaptureFile)->Unit(benchmark::kMillisecond);
