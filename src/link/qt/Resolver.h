#pragma once
// Host-name lookup for the UDP endpoint, never blocking the user-interface thread.
// The panel uses QtResolver; tests inject their own (no real name server in tests).
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace tessaly {

class Resolver {
 public:
  using Done = std::function<void(const QHostAddress& ipv4)>;
  virtual ~Resolver() = default;
  // Starts looking up `name`; `done` runs later on this thread, at most once, with
  // the first IPv4 address, or a null address when there is none.
  virtual void lookup(const QString& name, Done done) = 0;
};

// The address a lookup answers with: the first IPv4 address of the list, or a null
// address when the list holds none.
QHostAddress firstIPv4(const QList<QHostAddress>& addresses);

// QHostInfo::lookupHost in the background; answers that come after this object is
// gone are discarded.
class QtResolver : public QObject, public Resolver {
  Q_OBJECT
 public:
  using QObject::QObject;
  void lookup(const QString& name, Done done) override;
};

}  // namespace tessaly
