// The Query round trip over loopback against the tessaly-emulator program: the
// status request goes out through the panel's own UDP endpoint and the 1,049-byte
// answer comes back. The panel then hands the answer over to its timer handler
// 5 ms later, so the network part is compared with that 5 ms.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "helpers/Emulator.h"
#include "link/Framing.h"
#include "link/qt/QtUdpEndpoint.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  uitest::EmulatorProcess emulator;
  if (!uitest::EmulatorProcess::available() || !emulator.start()) {
    std::printf("query round trip: emulator not available\n");
    return 1;
  }
  tessaly::QtUdpEndpoint endpoint;
  endpoint.setLocalPort(0);
  std::size_t got = 0;
  endpoint.setReceiver([&](const std::uint8_t*, std::size_t n) { got = n; });
  const tessaly::Bytes request = tessaly::encodeReadDatagram(tessaly::Framing::DDToIP, 1);
  std::vector<double> ms;
  for (int i = 0; i < 200; ++i) {  // bounded: 200 requests to 127.0.0.1
    got = 0;
    QElapsedTimer t;
    t.start();
    if (!endpoint.send("127.0.0.1", emulator.port(), request)) return 1;
    while (got == 0 && t.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (got != tessaly::kDDToIPStatusAnswer) continue;
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  endpoint.deactivate();
  if (ms.empty()) return 1;
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2], p95 = ms[ms.size() * 95 / 100];
  std::printf("query round trip over loopback (%zu answers): median %.3f ms, p95 %.3f ms\n", ms.size(), median, p95);
  std::printf("against the 5 ms hand-over: median is %.1f %% of it; the panel shows the answer after about %.1f ms\n",
              100.0 * median / 5.0, median + 5.0);
  return 0;
}
