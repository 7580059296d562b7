#include "EmulatorServer.h"

#include <QNetworkDatagram>
#include <QTimer>

#include "model/Describe.h"

namespace tessaly::emu {

EmulatorServer::EmulatorServer(const EmulatorOptions& options, bool verbose, std::FILE* log)
    : emu_(options), verbose_(verbose), log_(log) {
  clock_.start();
  QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { readPending(); });
}

bool EmulatorServer::listen(const QHostAddress& address, quint16 port, QString* error) {
  if (socket_.bind(address, port)) return true;
  if (error) *error = socket_.errorString();
  return false;
}

void EmulatorServer::readPending() {
  while (socket_.hasPendingDatagrams()) {
    const QNetworkDatagram d = socket_.receiveDatagram();
    if (!d.isValid()) continue;
    const QByteArray payload = d.data();
    const QHostAddress from = d.senderAddress();
    const quint16 fromPort = static_cast<quint16>(d.senderPort());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.constData());
    const std::string peer = from.toString().toStdString() + ":" + std::to_string(fromPort);
    if (verbose_)
      std::fprintf(log_, "in  %s %s\n", peer.c_str(),
                   describeDatagram(bytes, static_cast<std::size_t>(payload.size())).c_str());
    const std::uint64_t droppedBefore = emu_.stats().dropped;
    const auto answers = emu_.receive(bytes, static_cast<std::size_t>(payload.size()), clock_.elapsed());
    const std::uint64_t dropped = emu_.stats().dropped - droppedBefore;
    for (const Answer& a : answers) {
      if (verbose_)
        std::fprintf(log_, "out %s +%lld ms %s%s%s\n", peer.c_str(), static_cast<long long>(a.delayMs),
                     describeDatagram(a.data).c_str(), a.corrupted ? " (corrupted)" : "",
                     a.copy ? " (duplicate)" : "");
      if (a.delayMs <= 0) {
        send(a.data, from, fromPort);
      } else {
        QTimer::singleShot(static_cast<int>(a.delayMs), &socket_,
                           [this, data = a.data, from, fromPort] { send(data, from, fromPort); });
      }
    }
    if (verbose_ && dropped > 0)
      std::fprintf(log_, "    (%llu answer%s dropped)\n", static_cast<unsigned long long>(dropped), dropped > 1 ? "s" : "");
    else if (verbose_ && answers.empty())
      std::fprintf(log_, "    (no answer)\n");
    if (verbose_) std::fflush(log_);
  }
}

void EmulatorServer::send(const Bytes& data, const QHostAddress& to, quint16 port) {
  const qint64 n = socket_.writeDatagram(reinterpret_cast<const char*>(data.data()),
                                         static_cast<qint64>(data.size()), to, port);
  if (n == static_cast<qint64>(data.size())) ++sent_;
}

}  // namespace tessaly::emu
