#include "link/ui/Resolver.h"

#include <QHostInfo>

namespace tessaly {

void QtResolver::lookup(const QString& name, Done done) {
  QHostInfo::lookupHost(name, this, [done = std::move(done)](const QHostInfo& info) {
    QHostAddress found;
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        found = a;
        break;
      }
    }
    done(found);
  });
}

}  // namespace tessaly
