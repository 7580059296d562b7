// A full 3,600-sample run of the PCR correction chart on virtual time, offscreen:
// the main window polls a board played in-process (every request answered 50 ms
// later with a 1032-byte status answer whose slide moves), and every decoded
// answer is decoded, presented on every page (a whole report appended to the
// Main page's memo) and plotted. Events are processed after every timer event, so
// the chart's repaints are counted too.
//
// Prints: the mean and the median cost of handling one poll answer (the tick that
// handles it plus the events it caused) over samples 1-100 and 3,501-3,600 and
// their ratios (the median is not moved by a few polls that another program on
// the machine delayed),
// the longest single stall (one timer event or one round of event processing),
// and the growth of resident memory over the run.
//
// Diagnostics: BENCH_HIDDEN=1 runs without showing the window (no painting at all);
// BENCH_NOCHART=1 hides the chart, to tell its share from the rest of the page.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "FakeEndpoint.h"
#include "LoopbackSettings.h"
#include "VirtualClock.h"
#include "app/ui/MainForm.h"
#include "app/ui/PageMain.h"
#include "app/ui/PagePcr.h"
#include "link/Engine.h"
#include "status/Decode.h"
#include "widgets/LineChart.h"

using namespace tessaly;
using Clock = std::chrono::steady_clock;

namespace {

double residentMb() {
  QFile f("/proc/self/statm");
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> parts = f.readAll().split(' ');
  return parts.size() > 1 ? parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

Bytes cwNetStatusAnswer(std::int32_t slide, int n) {
  Bytes d(1032, 0);
  const char head[] = "CW-Net";
  std::copy(head, head + 6, d.begin());
  d[6] = 0x09;
  d[7] = 1;
  Bytes::iterator b = d.begin() + 8;
  b[block::Presence] = 0x45;
  b[block::DeviceCode] = 0x1A;
  b[block::VersionMajor] = 2;
  b[block::VersionMinor] = 7;
  b[block::ChannelEnable] = 0x3F;
  const std::uint32_t s = static_cast<std::uint32_t>(slide + 32768);
  b[block::PcrSlide] = static_cast<std::uint8_t>(s >> 8);
  b[block::PcrSlide + 1] = static_cast<std::uint8_t>(s);
  b[block::InputStatus + 3] = static_cast<std::uint8_t>(n);  // a packet count that moves
  return d;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!bench::useLoopbackSettings(dir, 50001, 50002)) return 1;

  testing::VirtualClock clock;
  testing::VirtualTimer timer(clock);
  testing::FakeEndpoint endpoint(&clock);
  int answered = 0;
  int foreign = 0;
  endpoint.onSend = [&](const testing::SentDatagram& s) {
    if (s.host.rfind("127.", 0) != 0) ++foreign;
    ++answered;
    const auto slide = static_cast<std::int32_t>(std::lround(20000 * std::sin(answered / 300.0)));
    endpoint.injectAfter(50, cwNetStatusAnswer(slide, answered));
  };

  TMainForm form(timer, endpoint);
  if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) form.show();
  form.tabs()->setCurrentIndex(TMainForm::TabPcr);
  app.processEvents();
  PagePcr* page = form.pagePcr();
  if (qEnvironmentVariableIsSet("BENCH_NOCHART")) page->ChartPCR->hide();

  const double rssBefore = residentMb();
  std::vector<double> pollCost, pollTick, pollEvents;
  pollCost.reserve(3600);
  double longestStall = 0;
  const auto runStart = Clock::now();
  page->Button2Click();
  while (page->Button3->isEnabled() && clock.nextEventTime() >= 0) {
    const bool answerDue = form.engine().state() == state::ChartPollGot && timer.dueAt() == clock.nextEventTime();
    const auto t0 = Clock::now();
    clock.runNext();
    const auto t1 = Clock::now();
    app.processEvents();
    const auto t2 = Clock::now();
    longestStall = std::max({longestStall, ms(t1 - t0), ms(t2 - t1)});
    if (answerDue) {
      pollCost.push_back(ms(t2 - t0));
      pollTick.push_back(ms(t1 - t0));
      pollEvents.push_back(ms(t2 - t1));
    }
  }
  const double runSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
  const double rssAfter = residentMb();

  if (pollCost.size() < 3600) {
    std::printf("run ended after %zu samples\n", pollCost.size());
    return 1;
  }
  auto mean = [](const std::vector<double>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += v[i];
    return sum / double(to - from);
  };
  auto median = [](const std::vector<double>& v, std::size_t from, std::size_t to) {
    std::vector<double> w(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
    std::sort(w.begin(), w.end());
    return (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
  };
  const double first = mean(pollCost, 0, 100), last = mean(pollCost, 3500, 3600);
  const double firstMedian = median(pollCost, 0, 100), lastMedian = median(pollCost, 3500, 3600);
  std::printf("samples plotted:                    %d\n", page->ChartPCR->count());
  std::printf("Main page memo lines:               %d\n", form.pageMain()->MemoInfo->lineCount());
  std::printf("per-poll cost, samples 1-100:       %.3f ms\n", first);
  std::printf("per-poll cost, samples 3501-3600:   %.3f ms\n", last);
  std::printf("ratio (3501-3600 / 1-100):          %.2f\n", last / first);
  std::printf("median per-poll cost, 1-100 / 3501-3600: %.3f ms / %.3f ms, median ratio %.2f\n", firstMedian,
              lastMedian, lastMedian / firstMedian);
  std::printf("  of which the tick (decode, present, point): %.3f ms -> %.3f ms\n", mean(pollTick, 0, 100),
              mean(pollTick, 3500, 3600));
  std::printf("  of which the events (layout, repaint):     %.3f ms -> %.3f ms\n", mean(pollEvents, 0, 100),
              mean(pollEvents, 3500, 3600));
  std::printf("longest stall:                      %.2f ms\n", longestStall);
  std::printf("resident memory growth:             %.1f MB (%.1f -> %.1f)\n", rssAfter - rssBefore, rssBefore,
              rssAfter);
  std::printf("chart line redraws / paints / full paints: %d / %d / %d\n", page->ChartPCR->fullRedraws(),
              page->ChartPCR->paints(), page->ChartPCR->fullPaints());
  std::printf("real time of the run:               %.1f s\n", runSeconds);
  std::printf("sends not to 127.0.0.0/8:           %d\n", foreign);
  return foreign == 0 ? 0 : 1;
}
