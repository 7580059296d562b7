// The shell's costs: one status presentation with an empty information memo and
// with 360,000 lines already in it (their ratio is printed at the end), start-up
// to the first shown frame, and resident memory after start and after 3,600
// presentations (the chart's longest run). Runs offscreen with a virtual timer and
// a fake endpoint: nothing is sent anywhere.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "FakeEndpoint.h"
#include "LoopbackSettings.h"
#include "VirtualClock.h"
#include "app/MainForm.h"
#include "app/ui/PageMain.h"
#include "widgets/Widgets.h"

namespace {

using tessaly::testing::FakeEndpoint;
using tessaly::testing::VirtualClock;
using tessaly::testing::VirtualTimer;

double residentMB() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      in >> kb;
      return kb / 1024.0;
    }
    std::getline(in, key);
  }
  return 0;
}

// A main window over test doubles with a filled-in device record.
struct Fixture {
  VirtualClock clock;
  VirtualTimer timer{clock};
  FakeEndpoint endpoint{&clock};
  std::unique_ptr<TMainForm> form;
  Fixture() {
    form = std::make_unique<TMainForm>(timer, endpoint);
    auto& d = form->device();
    d.VersionText = "2.07";
    d.Model = 1;
    d.LedFlags = 0x8F;
    d.ChannelEnable = 0x3F;
    for (int i = 1; i <= 6; ++i) {
      d.InputStatus[static_cast<std::size_t>(i)] = (1u << 23) | static_cast<std::uint32_t>(1000 * i);
      d.InputRate[static_cast<std::size_t>(i)] = 1504 * i;
    }
    d.SdramUsage = 1234;
    d.ReadbackKind = 2;
  }
  TMemo* memo() const { return form->pageMain()->MemoInfo; }
};

// Made on first use, released before the application object goes.
std::unique_ptr<Fixture> sharedFixture;
Fixture* shared() {
  if (!sharedFixture) sharedFixture = std::make_unique<Fixture>();
  return sharedFixture.get();
}

void fillMemo(TMemo* memo, int lines) {
  QStringList block;
  for (int i = 0; i < 1000; ++i) block << QString(" Input Packets: %1 / sec").arg(i);
  memo->clearLines();
  for (int done = 0; done < lines; done += 1000) memo->addLines(block);
}

void BM_Present_EmptyMemo(benchmark::State& state) {
  Fixture* f = shared();
  for (auto _ : state) {
    state.PauseTiming();
    f->memo()->clearLines();
    state.ResumeTiming();
    f->form->PresentStatus();
  }
}
BENCHMARK(BM_Present_EmptyMemo)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_Present_Memo360k(benchmark::State& state) {
  Fixture* f = shared();
  fillMemo(f->memo(), 360000);
  for (auto _ : state) f->form->PresentStatus();
  state.counters["memo_lines"] = f->memo()->lineCount();
}
BENCHMARK(BM_Present_Memo360k)->Unit(benchmark::kMillisecond)->Iterations(200);

// For comparison: the same report added one line at a time.
void BM_LineByLine_Memo360k(benchmark::State& state) {
  Fixture* f = shared();
  fillMemo(f->memo(), 360000);
  const QStringList lines = [] {
    QStringList l;
    for (int i = 0; i < 111; ++i) l << QString(" line %1").arg(i);
    return l;
  }();
  for (auto _ : state)
    for (const QString& line : lines) f->memo()->addLine(line);
}
BENCHMARK(BM_LineByLine_Memo360k)->Unit(benchmark::kMillisecond)->Iterations(50);

// Construction (settings loaded), show, and the first frame painted.
void BM_StartupToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    VirtualClock clock;
    VirtualTimer timer(clock);
    FakeEndpoint endpoint(&clock);
    TMainForm form(timer, endpoint);
    form.show();
    // Offscreen, the first expose paints on the next pass of the event loop.
    QApplication::processEvents();
    form.grab();  // forces a full paint of the window if it has not happened yet
    state.PauseTiming();
    form.hide();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartupToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(10);

// Keeps the per-run times so that the ratio can be printed.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  RecordingReporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::string, double> realTime;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) realTime[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!bench::useLoopbackSettings(dir, 47001, 47002)) return 1;

  // Resident memory: after start (window shown), then after 3,600 presentations
  // appended to the information memo without clearing it.
  {
    const double before = residentMB();
    Fixture f;
    f.form->show();
    QApplication::processEvents();
    const double started = residentMB();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 3600; ++i) f.form->PresentStatus();
    const qint64 ms = t.elapsed();
    QApplication::processEvents();
    const double after = residentMB();
    std::printf("resident memory: %.1f MB before the window, %.1f MB after start, %.1f MB after 3600 presentations "
                "(%d memo lines, %lld ms for the 3600)\n",
                before, started, after, f.memo()->lineCount(), static_cast<long long>(ms));
    std::fflush(stdout);
  }

  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double empty = 0, full = 0;
  for (const auto& [name, t] : reporter.realTime) {
    if (name.rfind("BM_Present_EmptyMemo", 0) == 0) empty = t;
    if (name.rfind("BM_Present_Memo360k", 0) == 0) full = t;
  }
  if (empty > 0 && full > 0)
    std::printf("presentation with 360,000 memo lines / with an empty memo: %.2f\n", full / empty);
  std::fflush(stdout);
  sharedFixture.reset();
  benchmark::Shutdown();
  return 0;
}
