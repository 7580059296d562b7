// The Qt timer and UDP adapters on the real event loop. Loopback only.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtTest>

#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

using namespace tessaly;

namespace {
// A resolver that answers only when the test says so (no name server is ever asked).
struct ScriptedResolver : Resolver {
  QStringList asked;
  std::vector<Done> waiting;  // one per lookup, in the order asked
  void lookup(const QString& name, Done done) override {
    asked << name;
    waiting.push_back(std::move(done));
  }
  // Lookup n (counted from 0) answers.
  void answer(std::size_t n, const QHostAddress& address) {
    Done d = std::move(waiting.at(n));
    waiting.at(n) = nullptr;
    if (d) d(address);
  }
};

QByteArray take(QUdpSocket& s) {
  QByteArray got(64, 0);
  got.resize(int(s.readDatagram(got.data(), got.size())));
  return got;
}

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
  void datagramsUpTo8192AreDeliveredInOrder();
  void everyDatagramIsShownToTheTap_data();
  void everyDatagramIsShownToTheTap();
  void nothingIsDeliveredAfterDeactivate();
  void unresolvableHostIsASendFailure();
  void onlyTheAddressedDeviceIsHeard();
  void broadcastDestinations_data();
  void broadcastDestinations();
  void hostNamesAreLookedUpInTheBackground();
  void lookupAnswersWithTheFirstIPv4Address();
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

void QtAdapterTest::datagramsUpTo8192AreDeliveredInOrder() {
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
  // Answers are taken only from the address the endpoint sent to.
  QVERIFY(endpoint.send("127.0.0.1", peer.localPort(), Bytes{0x00}));
  QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), 3000);
  take(peer);
  // A longer datagram is no answer: it is dropped whole, not cut. More than one read
  // batch of datagrams: the rest come on the next turns.
  const int sizes[] = {30, 8192, 9000, 30};
  for (int i = 0; i < 4; ++i) {
    QByteArray d(sizes[i], char(i + 1));
    QCOMPARE(peer.writeDatagram(d, QHostAddress::LocalHost, quint16(port)), qint64(d.size()));
  }
  for (int i = 0; i < 2 * QtUdpEndpoint::kReadBatch; ++i)
    peer.writeDatagram(QByteArray(26, char(0x40 + i % 64)), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(lengths.size(), std::size_t(3 + 2 * QtUdpEndpoint::kReadBatch), 3000);
  QCOMPARE(lengths[1], std::size_t(8192));
  firstBytes.resize(4);
  QCOMPARE(firstBytes, (std::vector<std::uint8_t>{1, 2, 4, 0x40}));

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

// Sent, received and dropped datagrams reach the tap with the real local address
// and port; a dropped one never reaches the receiver. Answers are told by their
// sender's address, not by the local one: with the device on a second loopback
// address the two differ. A datagram the screen gives a reason against is dropped
// with that reason.
void QtAdapterTest::everyDatagramIsShownToTheTap_data() {
  QTest::addColumn<QString>("deviceAt");
  QTest::addColumn<QString>("forgerAt");
  QTest::newRow("device 127.0.0.1") << "127.0.0.1" << "127.0.0.2";
  QTest::newRow("device 127.0.0.2") << "127.0.0.2" << "127.0.0.1";
}
void QtAdapterTest::everyDatagramIsShownToTheTap() {
  QFETCH(QString, deviceAt);
  QFETCH(QString, forgerAt);
  struct Recorder : TrafficTap {
    std::vector<TrafficRecord> records;
    void record(const TrafficRecord& r) override { records.push_back(r); }
  } tap;
  const int port = freePort();
  QtUdpEndpoint endpoint;
  endpoint.setLocalPort(port);
  endpoint.setTap(&tap);
  endpoint.setScreen([](const std::uint8_t* d, std::size_t n) {
    return n && d[0] == 's' ? DropReason::OtherBoard : DropReason::None;
  });
  std::vector<std::size_t> delivered;
  endpoint.setReceiver([&](const std::uint8_t*, std::size_t n) { delivered.push_back(n); });
  QUdpSocket device, forger;
  QVERIFY(device.bind(QHostAddress(deviceAt), 0));
  QVERIFY(forger.bind(QHostAddress(forgerAt), 0));
  QVERIFY(endpoint.send(deviceAt.toStdString(), device.localPort(), Bytes{1, 2}));
  QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingDatagrams(), 3000);
  take(device);
  const auto to = QHostAddress::LocalHost;
  device.writeDatagram(QByteArray(30, 'r'), to, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(tap.records.size(), std::size_t(2), 3000);
  forger.writeDatagram(QByteArray(27, 'f'), to, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(tap.records.size(), std::size_t(3), 3000);
  device.writeDatagram(QByteArray(9000, 'l'), to, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(tap.records.size(), std::size_t(4), 3000);
  device.writeDatagram(QByteArray(27, 's'), to, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(tap.records.size(), std::size_t(5), 3000);

  const quint32 loopback = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
  const quint32 deviceIp = QHostAddress(deviceAt).toIPv4Address(), forgerIp = QHostAddress(forgerAt).toIPv4Address();
  const struct {
    TrafficDirection direction;
    DropReason why;
    quint32 peer;
    quint16 peerPort;
    std::size_t kept;
    std::uint32_t wire;
    std::uint8_t first;
  } expected[] = {
      {TrafficDirection::Sent, DropReason::None, deviceIp, device.localPort(), 2, 2, 1},
      {TrafficDirection::Received, DropReason::None, deviceIp, device.localPort(), 30, 30, 'r'},
      {TrafficDirection::Dropped, DropReason::OtherSender, forgerIp, forger.localPort(), 27, 27, 'f'},
      {TrafficDirection::Dropped, DropReason::TooLong, deviceIp, device.localPort(), 8192, 9000, 'l'},
      {TrafficDirection::Dropped, DropReason::OtherBoard, deviceIp, device.localPort(), 27, 27, 's'},
  };
  for (std::size_t i = 0; i < 5; ++i) {
    const TrafficRecord& r = tap.records[i];
    const auto& e = expected[i];
    QCOMPARE(r.direction, e.direction);
    QCOMPARE(r.dropReason, e.why);
    QCOMPARE(r.localAddress, loopback);
    QCOMPARE(int(r.localPort), port);
    QCOMPARE(r.peerAddress, e.peer);
    QCOMPARE(r.peerPort, e.peerPort);
    QCOMPARE(r.data.size(), e.kept);
    QCOMPARE(r.wireLength, e.wire);
    QCOMPARE(r.data.front(), e.first);
    if (i > 0) QVERIFY(r.monotonicNs >= tap.records[i - 1].monotonicNs);
  }
  QCOMPARE(delivered, std::vector<std::size_t>{30});
  QCOMPARE(endpoint.droppedCount(), std::size_t(2));
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

void QtAdapterTest::onlyTheAddressedDeviceIsHeard() {
  const int port = freePort();
  QtUdpEndpoint endpoint;
  endpoint.setLocalPort(port);
  QByteArray firstBytes;
  endpoint.setReceiver([&](const std::uint8_t* d, std::size_t n) { firstBytes.append(n ? char(d[0]) : '?'); });
  QUdpSocket device, forger;
  QVERIFY(device.bind(QHostAddress::LocalHost, 0));
  QVERIFY(forger.bind(QHostAddress("127.0.0.2"), 0));
  QVERIFY(endpoint.activate());
  // Before anything went out nobody is the device.
  device.writeDatagram(QByteArray(30, 'e'), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(endpoint.droppedCount(), std::size_t(1), 3000);
  QVERIFY(endpoint.send("127.0.0.1", device.localPort(), Bytes{1}));
  for (char c : {'f', 'g'}) forger.writeDatagram(QByteArray(27, c), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(endpoint.droppedCount(), std::size_t(3), 3000);
  // Any source port of the device's address counts.
  QUdpSocket deviceOtherPort;
  QVERIFY(deviceOtherPort.bind(QHostAddress::LocalHost, 0));
  deviceOtherPort.writeDatagram(QByteArray(26, 'd'), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(firstBytes, QByteArray("d"), 3000);
  QCOMPARE(endpoint.droppedCount(), std::size_t(3));
}

// Answers to a broadcast or a multicast may come from anyone; to any other
// address only from it. Decided on the address alone: nothing is sent.
void QtAdapterTest::broadcastDestinations_data() {
  QTest::addColumn<QString>("destination");
  QTest::addColumn<bool>("broadcast");
  QTest::addColumn<bool>("anySender");
  QTest::newRow("limited broadcast") << "255.255.255.255" << true << true;
  QTest::newRow("loopback") << "127.0.0.1" << false << false;
  QTest::newRow("device default") << "10.123.13.101" << false << false;
  QTest::newRow("first multicast") << "224.0.0.0" << false << true;
  QTest::newRow("last multicast") << "239.255.255.255" << false << true;
  QTest::newRow("below multicast") << "223.255.255.255" << false << false;
  QTest::newRow("above multicast") << "240.0.0.0" << false << false;
}
void QtAdapterTest::broadcastDestinations() {
  QFETCH(QString, destination);
  QFETCH(bool, broadcast);
  QFETCH(bool, anySender);
  QCOMPARE(QtUdpEndpoint::isBroadcastDestination(QHostAddress(destination)), broadcast);
  QCOMPARE(QtUdpEndpoint::anySenderAnswers(QHostAddress(destination)), anySender);
  for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
    for (const QNetworkAddressEntry& e : i.addressEntries())
      if (!e.broadcast().isNull()) {
        QVERIFY(QtUdpEndpoint::isBroadcastDestination(e.broadcast()));
        QVERIFY(QtUdpEndpoint::anySenderAnswers(e.broadcast()));
      }
}

void QtAdapterTest::hostNamesAreLookedUpInTheBackground() {
  const int port = freePort();
  ScriptedResolver resolver;
  QtUdpEndpoint endpoint(resolver);
  endpoint.setLocalPort(port);
  QByteArray outcomes;  // L: the datagram left, F: it could not go out
  QByteArray delivered;
  endpoint.setSendOutcomeHandler([&](bool left) { outcomes.append(left ? 'L' : 'F'); });
  endpoint.setReceiver([&](const std::uint8_t* d, std::size_t n) { delivered.append(n ? char(d[0]) : '?'); });
  // The device at 127.0.0.1 and, for a device IP that was changed, an old one at 127.0.0.2.
  QUdpSocket device, oldDevice;
  QVERIFY(device.bind(QHostAddress::LocalHost, 0));
  QVERIFY(oldDevice.bind(QHostAddress("127.0.0.2"), 0));
  const int to = device.localPort();
  auto nothingArrives = [](QUdpSocket& s) {
    QTest::qWait(50);
    return !s.hasPendingDatagrams();
  };

  // A resolver that has not answered: nothing goes out, and nothing is taken in.
  QVERIFY(endpoint.send("board.lab", to, Bytes{0x11}));
  QCOMPARE(resolver.asked, QStringList{"board.lab"});
  QVERIFY(endpoint.sendPending());
  QVERIFY(nothingArrives(device));
  device.writeDatagram(QByteArray(27, 'x'), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(endpoint.droppedCount(), std::size_t(1), 3000);

  // It answers: the datagram leaves, the outcome says so, and the device is heard.
  resolver.answer(0, QHostAddress::LocalHost);
  QTRY_COMPARE_WITH_TIMEOUT(outcomes, QByteArray("L"), 3000);
  QVERIFY(!endpoint.sendPending());
  QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingDatagrams(), 3000);
  QCOMPARE(take(device), QByteArray("\x11"));
  device.writeDatagram(QByteArray(27, 'a'), QHostAddress::LocalHost, quint16(port));
  QTRY_COMPARE_WITH_TIMEOUT(delivered, QByteArray("a"), 3000);

  // Every send asks again: nothing is kept from the last one.
  QVERIFY(endpoint.send("board.lab", to, Bytes{0x12}));
  QCOMPARE(resolver.asked.size(), 2);
  QVERIFY(nothingArrives(device));
  resolver.answer(1, QHostAddress::LocalHost);
  QTRY_COMPARE_WITH_TIMEOUT(outcomes, QByteArray("LL"), 3000);
  QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingDatagrams(), 3000);
  QCOMPARE(take(device), QByteArray("\x12"));

  // A lookup that finds no address: the datagram could not go out.
  QVERIFY(endpoint.send("board.lab", to, Bytes{0x13}));
  resolver.answer(2, QHostAddress());
  QTRY_COMPARE_WITH_TIMEOUT(outcomes, QByteArray("LLF"), 3000);
  QVERIFY(!endpoint.sendPending());
  QVERIFY(nothingArrives(device));

  // The device IP changes while the old name's lookup runs: when the old lookup
  // answers during the new one, nothing goes to the old address.
  QVERIFY(endpoint.send("old.lab", oldDevice.localPort(), Bytes{0x14}));
  QVERIFY(endpoint.send("new.lab", to, Bytes{0x15}));
  QCOMPARE(resolver.asked.mid(3), (QStringList{"old.lab", "new.lab"}));
  resolver.answer(3, QHostAddress("127.0.0.2"));
  QVERIFY(nothingArrives(oldDevice));
  QVERIFY(endpoint.sendPending());
  QCOMPARE(outcomes, QByteArray("LLF"));
  resolver.answer(4, QHostAddress::LocalHost);
  QTRY_COMPARE_WITH_TIMEOUT(outcomes, QByteArray("LLFL"), 3000);
  QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingDatagrams(), 3000);
  QCOMPARE(take(device), QByteArray("\x15"));
  QVERIFY(nothingArrives(oldDevice));

  // A dropped send never goes out, and its lookup's answer reports nothing.
  QVERIFY(endpoint.send("board.lab", to, Bytes{0x16}));
  endpoint.dropPendingSend();
  resolver.answer(5, QHostAddress::LocalHost);
  QVERIFY(nothingArrives(device));
  QCOMPARE(outcomes, QByteArray("LLFL"));

  // A dotted address is sent at once and replaces the send still waiting.
  QVERIFY(endpoint.send("board.lab", to, Bytes{0x17}));
  QVERIFY(endpoint.send("127.0.0.1", to, Bytes{0x18}));
  QVERIFY(!endpoint.sendPending());
  resolver.answer(6, QHostAddress::LocalHost);
  QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingDatagrams(), 3000);
  QCOMPARE(take(device), QByteArray("\x18"));
  QVERIFY(nothingArrives(device));
  QCOMPARE(outcomes, QByteArray("LLFL"));
}

void QtAdapterTest::lookupAnswersWithTheFirstIPv4Address() {
  const QHostAddress v6("2001:db8::1"), mapped("::ffff:10.0.0.9"), a("10.0.0.1"), b("10.0.0.2");
  const struct {
    QList<QHostAddress> found;
    QHostAddress expected;
  } rows[] = {
      {{}, QHostAddress()},
      {{v6}, QHostAddress()},
      {{v6, a, b}, a},
      {{b, a}, b},
      {{mapped, v6, QHostAddress::LocalHost}, QHostAddress(QHostAddress::LocalHost)},
  };
  for (const auto& r : rows) QCOMPARE(firstIPv4(r.found), r.expected);
}

QTEST_MAIN(QtAdapterTest)
#include "test_qt_adapters.moc"
