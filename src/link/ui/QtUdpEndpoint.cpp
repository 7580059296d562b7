#include "link/ui/QtUdpEndpoint.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkDatagram>

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

QtUdpEndpoint::QtUdpEndpoint(QObject* parent) : QObject(parent) {}

QtUdpEndpoint::~QtUdpEndpoint() { deactivate(); }

bool QtUdpEndpoint::activate() {
  if (socket_) return true;
  if (localPort_ < 0 || localPort_ > 65535) return false;
  auto socket = std::make_unique<QUdpSocket>();
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

void QtUdpEndpoint::readPending() {
  std::vector<std::uint8_t> buf(kMaxDatagram);
  while (socket_ && socket_->hasPendingDatagrams()) {
    const qint64 n = socket_->readDatagram(reinterpret_cast<char*>(buf.data()), kMaxDatagram);
    if (n < 0) break;
    deliver(buf.data(), static_cast<std::size_t>(n));
  }
}

bool QtUdpEndpoint::send(const std::string& host, int port, const Bytes& datagram) {
  if (port < 0 || port > 65535) return false;
  QHostAddress address;
  const QString text = QString::fromStdString(host);
  if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol) {
    // Not a dotted IPv4 text: resolve the name, keep the first IPv4 address.
    address = QHostAddress();
    if (!plausibleHostName(host)) return false;
    const QHostInfo info = QHostInfo::fromName(text);
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        address = a;
        break;
      }
    }
  }
  // writeDatagram to a null address reports the byte count and no error: refuse it here.
  if (address.isNull()) return false;
  if (!activate()) return false;
  const qint64 sent = socket_->writeDatagram(reinterpret_cast<const char*>(datagram.data()),
                                             static_cast<qint64>(datagram.size()), address,
                                             static_cast<quint16>(port));
  return sent == static_cast<qint64>(datagram.size());
}

}  // namespace tessaly
