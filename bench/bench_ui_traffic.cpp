// The traffic view under a flood, offscreen: the production main window (its own
// Qt UDP endpoint on 127.0.0.1) with the traffic window open, and a sender thread
// that sends exactly 1,000,000 datagrams to the panel's port, 100 every
// millisecond (100,000 a second for 10 s; the loop also stops after 20 s). The
// panel first sends one Query to the sender's port, so the flood comes from the
// device address and counts as received; the endpoint is kept open for the run as
// a waiting transaction would.
//
// Prints: the user-interface thread's longest stall and 99th percentile (gaps
// between the beats of a 1 ms timer), resident memory once 100,000 datagrams are
// in the log and at the end, and how many datagrams the log saw.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "LoopbackSettings.h"
#include "app/ui/MainForm.h"
#include "app/ui/TrafficWindow.h"
#include "link/Framing.h"

using namespace tessaly;

namespace {

constexpr int kTotal = 1000000;
constexpr int kPerMs = 100;

double residentMb() {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return 0;
}

// A UDP socket bound to 127.0.0.1 on a port the system picks; gives the port.
int loopbackSocket(int* port) {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return -1;
  *port = ntohs(a.sin_port);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  int senderPort = 0, panelPort = 0;
  const int sender = loopbackSocket(&senderPort);
  const int probe = loopbackSocket(&panelPort);  // a free port for the panel
  if (sender < 0 || probe < 0) return 1;
  ::close(probe);
  if (!bench::useLoopbackSettings(dir, panelPort, senderPort, "ACKProt=1\n")) return 1;

  TMainForm form;
  form.show();
  const bool window = !qEnvironmentVariableIsSet("BENCH_NOWINDOW");  // diagnostics: the log alone
  if (window) form.Traffic1Click();
  app.processEvents();
  form.ButtonQueryClick();  // to 127.0.0.1: from now on the flood is the device speaking

  // The flood: interrupt notices, every 100th a status answer.
  const Bytes notice = encodeSdiMessage("Set Type       ", encodeInstruction(kNoticeCode, Bytes{1}));
  Bytes answer = encodeSdiMessage(kReadLabel, encodeInstruction(kStatusAnswerCode, Bytes(kStatusBlockSize + 2, 0)));
  answer.resize(kDDToIPStatusAnswer);
  answer[kDDToIPAnswerBase] = kDevicePresent;
  answer[kDDToIPAnswerBase + 1] = kRemuxDeviceCode;
  std::atomic<int> sent{0};
  std::atomic<bool> done{false};
  std::thread flood([&] {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never anywhere else
    to.sin_port = htons(static_cast<std::uint16_t>(panelPort));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kTotal;) {
      const auto now = std::chrono::steady_clock::now();
      if (now - start > std::chrono::seconds(20)) break;
      const auto due = static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(now - start).count() *
                                        kPerMs / 1000);
      for (; i < kTotal && i < due; ++i) {
        const Bytes& d = (i % 100 == 99) ? answer : notice;
        ::sendto(sender, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sent.store(i + 1, std::memory_order_relaxed);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    done = true;
  });

  // The beat: gaps between 1 ms timer events are the user-interface thread's stalls.
  std::vector<double> gaps;
  gaps.reserve(20000);
  double rssAt100k = 0;
  QElapsedTimer beat;
  beat.start();
  QTimer heart;
  heart.setTimerType(Qt::PreciseTimer);
  heart.setInterval(1);
  QObject::connect(&heart, &QTimer::timeout, [&] {
    gaps.push_back(static_cast<double>(beat.nsecsElapsed()) / 1e6);
    beat.restart();
    // Stay open as a transaction waiting for its answer would.
    if (!form.endpoint().isActive()) form.endpoint().activate();
    if (rssAt100k == 0 && form.trafficLog().endSeq() > 100000) rssAt100k = residentMb();
    if (done) app.quit();
  });
  heart.start();
  const double rssBefore = residentMb();
  app.exec();
  flood.join();
  // Let the last datagrams in and the view take them.
  for (int i = 0; i < 30; ++i) {
    app.processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (window) form.trafficWindow()->refresh();
  const double rssEnd = residentMb();
  const TrafficLog& log = form.trafficLog();
  const unsigned long long seen = log.endSeq() - 1;
  const std::size_t dropped = log.droppedCount();

  // The view's own share, apart from the socket and the machine's other load: one
  // tick taking in a tick's worth of a flood (10,000 records) into a full view,
  // with the repaint it causes.
  std::vector<double> ticks;
  if (window) {
    TrafficRecord r;
    r.direction = TrafficDirection::Received;
    r.data = notice;
    r.wireLength = static_cast<std::uint32_t>(notice.size());
    r.peerAddress = 0x7F000001;
    for (int t = 0; t < 20; ++t) {
      for (int i = 0; i < 10000; ++i) form.trafficLog().record(r);
      QElapsedTimer tick;
      tick.start();
      form.trafficWindow()->refresh();
      app.processEvents();
      ticks.push_back(static_cast<double>(tick.nsecsElapsed()) / 1e6);
    }
    std::sort(ticks.begin(), ticks.end());
  }
  ::close(sender);

  std::vector<double> sorted(gaps.begin() + (gaps.size() > 10 ? 10 : 0), gaps.end());  // past the start-up
  std::sort(sorted.begin(), sorted.end());
  const double longest = sorted.empty() ? 0 : sorted.back();
  const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
  std::printf("traffic flood: %d datagrams sent to 127.0.0.1, %llu records seen by the log (the rest lost in the "
              "socket's receive buffer), %zu of them dropped by the endpoint\n",
              sent.load(), seen, dropped);
  std::printf("traffic flood longest stall: %.1f ms (99th percentile %.2f ms, %zu beats of 1 ms)\n", longest, p99,
              gaps.size());
  std::printf("traffic flood memory: %.1f MB before, %.1f MB after 100,000 datagrams, %.1f MB at the end\n", rssBefore,
              rssAt100k, rssEnd);
  if (window) {
    std::printf("traffic view rows: %d\n", form.trafficWindow()->model()->rowCount());
    std::printf("traffic view tick taking in 10,000 records: median %.2f ms, longest %.2f ms\n",
                ticks[ticks.size() / 2], ticks.back());
  }
  form.close();
  return 0;
}
