#include "link/qt/SourceAddress.h"

#include <QUdpSocket>

namespace tessaly {

std::uint32_t SourceAddresses::forDestination(const QHostAddress& to) {
  bool ipv4 = false;
  const quint32 key = to.toIPv4Address(&ipv4);
  if (!ipv4) return 0;
  const auto it = known_.constFind(key);
  if (it != known_.constEnd()) return *it;
  // Connecting a UDP socket only asks the routing table; no datagram leaves.
  QUdpSocket probe;
  probe.connectToHost(QHostAddress(key), 9);
  quint32 local = 0;
  if (probe.state() == QAbstractSocket::ConnectedState || probe.waitForConnected(0))
    local = probe.localAddress().toIPv4Address();
  probe.abort();
  known_.insert(key, local);
  return local;
}

}  // namespace tessaly
