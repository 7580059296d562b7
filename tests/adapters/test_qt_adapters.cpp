// The Qt timer and UDP adapters on the real event loop. Loopback only.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>
#include <QtTest>

#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"

using namespace tessaly;

namespace {
// A port nobody holds right now.
int freePort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}
}  // namespace

class QtAdapterTest : public QObject {
  Q_OBJECT
 private slots:
  void sameIntervalDoesNotRestartTheCountdown();
  void newIntervalRestartsTheCountdown();
  void secondActivationOnATakenPortFails();
  void datagramsAreDeliveredInOrderAndCutAt8192();
  void nothingIsDeliveredAfterDeactivate();
  void unresolvableHostIsASendFailure();
};

void QtAdapterTest::sameIntervalDoesNotRestartTheCountdown() {
  QtTimer timer;
  QElapsedTimer clock;
  qint64 firedAt = -1;
  timer.setHandler([&] {
    firedAt = clock.elapsed();
    timer.setEnabled(false);
  });
  timer.setInterval(600);
  clock.start();
  timer.setEnabled(true);
  QTest::qWait(300);
  timer.setInterval(600);  // the same value: the countdown goes on
  timer.setEnabled(true);  // already enabled: nothing changes
  QTRY_VERIFY_WITH_TIMEOUT(firedAt >= 0, 3000);
  // Near 600 ms; a restart would have ended near 900 ms.
  QVERIFY2(firedAt >= 590 && firedAt < 850, qPrintable(QString::number(firedAt)));
}

void QtAdapterTest::newIntervalRestartsTheCountdown() {
  QtTimer timer;
  QElapsedTimer clock;
  qint64 firedAt = -1;
  timer.setHandler([&] {
    firedAt = clock.elapsed();
    timer.setEnabled(false);
  });
  timer.setInterval(2000);
  clock.start();
  timer.setEnabled(true);
  QTest::qWait(100);
  timer.setInterval(5);  // an answer arrived: run the handler at once
  QTRY_VERIFY_WITH_TIMEOUT(firedAt >= 0, 3000);
  QVERIFY2(firedAt < 1000, qPrintable(QString::number(firedAt)));
  // A disabled timer is not started by setting an interval.
  firedAt = -1;
  timer.setInterval(10);
  QTest::qWait(100);
  QCOMPARE(firedAt, qint64(-1));
}

void QtAdapterTest::secondActivationOnATakenPortFails() {
  const int port = freePort();
  QtUdpEndpoint first, second;
  first.setLocalPort(port);
  second.setLocalPort(port);
  QVERIFY(first.activate());
  QVERIFY(first.activate());  // activating an open endpoint does nothing
  QVERIFY(!second.activate());
  QVERIFY(!second.send("127.0.0.1", port, Bytes{1}));  // a send opens first, and fails with it
  first.deactivate();
  QVERIFY(second.activate());
}

void QtAdapterTest::datagramsAreDeliveredInOrderAndCutAt8192() {
  const int port = freePort();
  QtUdpEndpoint endpoint;
  endpoint.setLocalPort(port);
  std::vector<std::size_t> lengths;
  std::vector<std::uint8_t> firstBytes;
  endpoint.setReceiver([&](const std::uint8_t* d, std::size_t n) {
    lengths.push_back(n);
    firstBytes.push_back(n ? d[0] : 0);
  });
  QVERIFY(endpoint.activate());
  QUdpSocket peer;
  QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
  for (int i = 0; i < 3; ++i) {
    QByteArray d(i == 1 ? 9000 : 30, char(i + 1));
    QCOMPARE(peer.writeDatagram(d, QHostAddress::LocalHost, quint16(port)), qint64(d.size()));
  }
  QTRY_COMPARE_WITH_TIMEOUT(lengths.size(), std::size_t(3), 3000);
  QCOMPARE(lengths[1], std::size_t(8192));
  QCOMPARE(firstBytes, (std::vector<std::uint8_t>{1, 2, 3}));

  // And the endpoint's own sends come from its bound port.
  QVERIFY(endpoint.send("127.0.0.1", peer.localPort(), Bytes{0xAB, 0xCD}));
  QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), 3000);
  QHostAddress from;
  quint16 fromPort = 0;
  QByteArray got(16, 0);
  got.resize(int(peer.readDatagram(got.data(), got.size(), &from, &fromPort)));
  QCOMPARE(got, QByteArray("\xAB\xCD", 2));
  QCOMPARE(int(fromPort), port);
}

void QtAdapterTest::nothingIsDeliveredAfterDeactivate() {
  const int port = freePort();
  QtUdpEndpoint endpoint;
  endpoint.setLocalPort(port);
  int delivered = 0;
  endpoint.setReceiver([&](const std::uint8_t*, std::size_t) { ++delivered; });
  QVERIFY(endpoint.activate());
  QUdpSocket peer;
  peer.writeDatagram(QByteArray(10, 'x'), QHostAddress::LocalHost, quint16(port));
  endpoint.deactivate();
  QVERIFY(!endpoint.isActive());
  QTest::qWait(100);
  QCOMPARE(delivered, 0);
}

void QtAdapterTest::unresolvableHostIsASendFailure() {
  const int port = freePort();
  QtUdpEndpoint endpoint;
  endpoint.setLocalPort(port);
  // Texts that cannot be host names fail at once, with no lookup and nothing sent.
  for (const char* host : {"a..b", "bad host", "", "-.-.-.", "10.123.13.$1F!"}) {
    QVERIFY2(!endpoint.send(host, 9, Bytes{1}), host);
  }
  QVERIFY(!endpoint.isActive() || endpoint.send("127.0.0.1", freePort(), Bytes{1}));
}

QTEST_MAIN(QtAdapterTest)
#include "test_qt_adapters.moc"
