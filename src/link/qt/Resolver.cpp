#include "link/qt/Resolver.h"

#include <QHostInfo>

namespace tessaly {

QHostAddress firstIPv4(const QList<QHostAddress>& addresses) {
  for (const QHostAddress& a : addresses)
    if (a.protocol() == QAbstractSocket::IPv4Protocol) return a;
  return QHostAddress();
}

void QtResolver::lookup(const QString& name, Done done) {
  QHostInfo::lookupHost(name, this,
                        [done = std::move(done)](const QHostInfo& info) { done(firstIPv4(info.addresses())); });
}

}  // namespace tessaly
