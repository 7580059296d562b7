#include "link/qt/QtUdpEndpoint.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkInterface>
#include <QTimer>
#include <algorithm>

namespace tessaly {

namespace {
// A host name worth asking the resolver about: dot-separated labels of letters,
// digits and hyphens, none empty or longer than 63, 253 characters at most.
// Anything else fails at once, without a lookup.
bool plausibleHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok || ++label > 63) return false;
  }
  return label > 0;
}
}  // namespace

QtUdpEndpoint::QtUdpEndpoint(QObject* parent)
    : QObject(parent), ownResolver_(std::make_unique<QtResolver>()), resolver_(*ownResolver_) {}

QtUdpEndpoint::QtUdpEndpoint(Resolver& resolver, QObject* parent) : QObject(parent), resolver_(resolver) {}

QtUdpEndpoint::~QtUdpEndpoint() {
  alive_.reset();
  deactivate();
}

bool QtUdpEndpoint::activate() {
  if (socket_) return true;
  if (localPort_ < 0 || localPort_ > 65535) return false;
  auto socket = std::make_unique<QUdpSocket>();
  // The datagrams go straight to the controller: without this, every bind asks for
  // the system's proxy configuration, which costs more than the exchange itself.
  socket->setProxy(QNetworkProxy::NoProxy);
  // No address sharing: a second program on the same port must fail to bind.
  if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), static_cast<quint16>(localPort_),
                    QAbstractSocket::DontShareAddress)) {
    return false;
  }
  connect(socket.get(), &QUdpSocket::readyRead, this, &QtUdpEndpoint::readPending);
  socket_ = std::move(socket);
  return true;
}

void QtUdpEndpoint::deactivate() {
  if (!socket_) return;
  // Delivery happens on readyRead, on this thread, so nothing is ever held back:
  // whatever still waits in the socket is discarded with it.
  auto socket = std::move(socket_);
  socket->disconnect(this);
  socket->close();
}

bool QtUdpEndpoint::anySenderAnswers(const QHostAddress& destination) {
  bool ipv4 = false;
  const quint32 a = destination.toIPv4Address(&ipv4);
  if (ipv4 && (a >> 28) == 0xE) return true;  // multicast, 224.0.0.0/4
  return isBroadcastDestination(destination);
}

bool QtUdpEndpoint::isBroadcastDestination(const QHostAddress& address) {
  if (address == QHostAddress(QHostAddress::Broadcast)) return true;
  for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
    for (const QNetworkAddressEntry& e : i.addressEntries())
      if (!e.broadcast().isNull() && e.broadcast().isEqual(address, QHostAddress::TolerantConversion)) return true;
  return false;
}

// One batch per readyRead. Reading re-enables the socket's read notifier, so while
// datagrams remain it fires again on the next turn of the event loop, after the
// timers and the user's input. Reads stay on this path: a readyRead that finds the
// socket drained by someone else reads nothing and leaves the notifier off for good.
void QtUdpEndpoint::readPending() {
  for (int i = 0; i < kReadBatch && socket_ && socket_->hasPendingDatagrams(); ++i) {
    const qint64 size = socket_->pendingDatagramSize();
    const QNetworkDatagram d = socket_->receiveDatagram(kMaxDatagram);
    if (!d.isValid()) break;
    const QByteArray data = d.data();
    // Only the device answers; a datagram from anywhere else never reaches the engine.
    const QHostAddress from = d.senderAddress();
    if (!anySender_ && (expectedSource_.isNull() || !from.isEqual(expectedSource_, QHostAddress::TolerantConversion))) {
      countDropped();
      if (tap()) tapArrival(d, DropReason::OtherSender, std::max<qint64>(size, data.size()));
      continue;
    }
    // Longer than the endpoint takes: its head alone is no answer.
    if (size > kMaxDatagram) {
      if (tap()) tapArrival(d, DropReason::TooLong, size);
      continue;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    if (const DropReason why = screen(bytes, static_cast<std::size_t>(data.size())); why != DropReason::None) {
      countDropped();
      if (tap()) tapArrival(d, why, data.size());
      continue;
    }
    if (tap()) tapArrival(d, DropReason::None, data.size());
    deliver(bytes, static_cast<std::size_t>(data.size()));
  }
}

void QtUdpEndpoint::tapArrival(const QNetworkDatagram& d, DropReason why, qint64 wireLength) {
  TrafficRecord r;
  r.monotonicNs = trafficNow();
  r.direction = why == DropReason::None ? TrafficDirection::Received : TrafficDirection::Dropped;
  r.dropReason = why;
  r.localAddress = d.destinationAddress().toIPv4Address();
  r.localPort = socket_ ? socket_->localPort() : static_cast<quint16>(d.destinationPort());
  r.peerAddress = d.senderAddress().toIPv4Address();
  r.peerPort = static_cast<std::uint16_t>(d.senderPort());
  r.wireLength = static_cast<std::uint32_t>(wireLength);
  const QByteArray data = d.data();
  r.data.assign(data.constBegin(), data.constEnd());
  tapRecord(r);
}

bool QtUdpEndpoint::writeTo(const QHostAddress& address, int port, const QByteArray& data) {
  if (!activate()) return false;
  expectedSource_ = address;
  anySender_ = anySenderAnswers(address);
  if (socket_->writeDatagram(data, address, static_cast<quint16>(port)) != data.size()) return false;
  if (tap()) {
    TrafficRecord r;
    r.monotonicNs = trafficNow();
    r.direction = TrafficDirection::Sent;
    r.localAddress = sources_.forDestination(address);
    r.localPort = socket_->localPort();
    r.peerAddress = address.toIPv4Address();
    r.peerPort = static_cast<std::uint16_t>(port);
    r.wireLength = static_cast<std::uint32_t>(data.size());
    r.data.assign(data.constBegin(), data.constEnd());
    tapRecord(r);
  }
  return true;
}

bool QtUdpEndpoint::send(const std::string& host, int port, const Bytes& datagram) {
  // A newer send replaces one still waiting: its lookup's answer is stale from now on.
  dropPendingSend();
  if (port < 0 || port > 65535) return false;
  const QString text = QString::fromStdString(host);
  const QByteArray data(reinterpret_cast<const char*>(datagram.data()), static_cast<qsizetype>(datagram.size()));
  QHostAddress address;
  if (address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol)
    return writeTo(address, port, data);
  // Texts that cannot be host names fail at once, without a lookup.
  if (!plausibleHostName(host)) return false;

  // The datagram waits for the lookup; nothing is taken in until it has gone out.
  if (!activate()) return false;
  expectedSource_ = QHostAddress();
  anySender_ = false;
  pending_ = Waiting{port, data};
  const std::uint64_t id = lookupId_;
  const std::weak_ptr<char> alive = alive_;
  resolver_.lookup(text, [this, alive, id](const QHostAddress& found) {
    if (alive.expired()) return;
    // Never from within send, even when a resolver answers at once.
    QTimer::singleShot(0, this, [this, id, found] { lookupEnded(id, found); });
  });
  return true;
}

void QtUdpEndpoint::dropPendingSend() {
  pending_.reset();
  ++lookupId_;
}

void QtUdpEndpoint::lookupEnded(std::uint64_t id, const QHostAddress& address) {
  // An answer for a send that was replaced or dropped sends nothing.
  if (id != lookupId_ || !pending_) return;
  const Waiting w = std::move(*pending_);
  pending_.reset();
  ++lookupId_;
  if (address.protocol() != QAbstractSocket::IPv4Protocol) {
    reportSendOutcome(false);
    return;
  }
  reportSendOutcome(writeTo(address, w.port, w.data));
}

}  // namespace tessaly
