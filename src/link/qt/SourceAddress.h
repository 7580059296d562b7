#pragma once
// The local IPv4 address the system sends from toward a destination, as the routing
// table picks it: found once per destination address with a connected socket that
// sends nothing, then kept. 0 when there is no route (or no IPv4 destination).
#include <QHash>
#include <QHostAddress>
#include <cstdint>

namespace tessaly {

class SourceAddresses {
 public:
  std::uint32_t forDestination(const QHostAddress& to);

 private:
  QHash<quint32, quint32> known_;
};

}  // namespace tessaly
