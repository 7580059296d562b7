#include "EmulatorServer.h"

#include <QNetworkDatagram>

#include "model/Describe.h"

namespace tessaly::emu {

EmulatorServer::EmulatorServer(const EmulatorOptions& options, bool verbose, std::FILE* log)
    : emu_(options), delayed_(static_cast<std::size_t>(options.delayQueueCap)), verbose_(verbose), log_(log) {
  clock_.start();
  sendTimer_.setSingleShot(true);
  sendTimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&sendTimer_, &QTimer::timeout, &socket_, [this] { sendDue(); });
  QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { readPending(); });
}

bool EmulatorServer::listen(const QHostAddress& address, quint16 port, QString* error) {
  if (socket_.bind(address, port)) return true;
  if (error) *error = socket_.errorString();
  return false;
}

// One batch per readyRead. Reading re-enables the socket's read notifier, so while
// datagrams remain it fires again on the next turn of the event loop, after the
// signal pipe, the timers and everything else that is ready. Reads must stay on
// this path: a readyRead that finds the socket drained by someone else and reads
// nothing leaves the socket's notifier off for good.
void EmulatorServer::readPending() {
  for (int i = 0; i < kReadBatch && socket_.hasPendingDatagrams(); ++i) {
    const QNetworkDatagram d = socket_.receiveDatagram();
    if (d.isValid()) handle(d);
  }
}

void EmulatorServer::handle(const QNetworkDatagram& d) {
  const QByteArray payload = d.data();
  const QHostAddress from = d.senderAddress();
  const quint16 fromPort = static_cast<quint16>(d.senderPort());
  if (tap_) {
    TrafficRecord r;
    r.monotonicNs = trafficNow();
    r.direction = TrafficDirection::Received;
    r.localAddress = d.destinationAddress().toIPv4Address();
    r.localPort = socket_.localPort();
    r.peerAddress = from.toIPv4Address();
    r.peerPort = fromPort;
    r.wireLength = static_cast<std::uint32_t>(payload.size());
    r.data.assign(payload.constBegin(), payload.constEnd());
    tap_->record(r);
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.constData());
  const std::string peer = verbose_ ? from.toString().toStdString() + ":" + std::to_string(fromPort) : std::string();
  if (verbose_)
    std::fprintf(log_, "in  %s %s\n", peer.c_str(),
                 describeDatagram(bytes, static_cast<std::size_t>(payload.size())).c_str());
  const std::uint64_t droppedBefore = emu_.stats().dropped;
  const std::int64_t now = clock_.elapsed();
  const auto answers = emu_.receive(bytes, static_cast<std::size_t>(payload.size()), now);
  const std::uint64_t dropped = emu_.stats().dropped - droppedBefore;
  std::uint64_t pushedOut = 0;
  for (const Answer& a : answers) {
    if (verbose_)
      std::fprintf(log_, "out %s +%lld ms %s%s%s\n", peer.c_str(), static_cast<long long>(a.delayMs),
                   describeDatagram(a.data).c_str(), a.corrupted ? " (corrupted)" : "",
                   a.copy ? " (duplicate)" : "");
    if (a.delayMs <= 0) {
      send(a.data, from, fromPort);
    } else {
      if (delayed_.push(now + a.delayMs, Pending{a.data, from, fromPort})) ++pushedOut;
      armTimer();
    }
  }
  if (verbose_ && dropped > 0)
    std::fprintf(log_, "    (%llu answer%s dropped)\n", static_cast<unsigned long long>(dropped), dropped > 1 ? "s" : "");
  else if (verbose_ && answers.empty())
    std::fprintf(log_, "    (no answer)\n");
  if (verbose_ && pushedOut > 0)
    std::fprintf(log_, "    (delay queue full at %zu: oldest delayed answer dropped, %llu so far)\n", delayed_.cap(),
                 static_cast<unsigned long long>(delayed_.dropped()));
  if (verbose_) std::fflush(log_);
}

// Sends what is due, a batch per turn; the timer comes back at once for the rest.
void EmulatorServer::sendDue() {
  armedFor_ = -1;
  for (Pending& p : delayed_.takeDue(clock_.elapsed(), kSendBatch)) send(p.data, p.to, p.port);
  armTimer();
}

void EmulatorServer::armTimer() {
  const auto due = delayed_.nextDue();
  if (!due) {
    sendTimer_.stop();
    armedFor_ = -1;
    return;
  }
  if (armedFor_ >= 0 && armedFor_ <= *due) return;  // already armed for this one or earlier
  const std::int64_t wait = *due - clock_.elapsed();
  sendTimer_.start(static_cast<int>(wait < 0 ? 0 : wait));
  armedFor_ = *due;
}

void EmulatorServer::send(const Bytes& data, const QHostAddress& to, quint16 port) {
  const qint64 n = socket_.writeDatagram(reinterpret_cast<const char*>(data.data()),
                                         static_cast<qint64>(data.size()), to, port);
  if (n != static_cast<qint64>(data.size())) return;
  ++sent_;
  if (tap_) {
    TrafficRecord r;
    r.monotonicNs = trafficNow();
    r.direction = TrafficDirection::Sent;
    // Bound to one address, it sends from it; on the wildcard, the route decides.
    const QHostAddress bound = socket_.localAddress();
    r.localAddress = bound.isNull() || bound == QHostAddress(QHostAddress::AnyIPv4) || bound == QHostAddress(QHostAddress::Any)
                         ? sources_.forDestination(to)
                         : bound.toIPv4Address();
    r.localPort = socket_.localPort();
    r.peerAddress = to.toIPv4Address();
    r.peerPort = port;
    r.wireLength = static_cast<std::uint32_t>(data.size());
    r.data = data;
    tap_->record(r);
  }
}

}  // namespace tessaly::emu
