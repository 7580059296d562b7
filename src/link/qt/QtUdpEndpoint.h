#pragma once
// The one UDP endpoint over QUdpSocket: IPv4 wildcard bind on the host port without
// address sharing, datagrams of up to 8,192 bytes delivered in order on the UI thread,
// only from the address the last datagram went to (any sender after a broadcast or
// a multicast) and only when the engine's screen lets them through.
// A host name is looked up in the background at every send; the datagram waits for it.
// A longer datagram is dropped (its first 8,192 bytes go to the tap). Each turn of
// the event loop reads a bounded batch, so a flood never stalls the UI thread.
#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "link/Ports.h"
#include "link/qt/Resolver.h"
#include "link/qt/SourceAddress.h"

namespace tessaly {

class QtUdpEndpoint : public QObject, public Endpoint {
  Q_OBJECT
 public:
  static constexpr int kMaxDatagram = 8192;
  static constexpr int kReadBatch = 64;  // datagrams read per event-loop turn

  // With the system resolver.
  explicit QtUdpEndpoint(QObject* parent = nullptr);
  // With another resolver (it must outlive the endpoint).
  explicit QtUdpEndpoint(Resolver& resolver, QObject* parent = nullptr);
  ~QtUdpEndpoint() override;

  void setLocalPort(int port) override { localPort_ = port; }
  int localPort() const override { return localPort_; }
  bool activate() override;
  void deactivate() override;
  bool isActive() const override { return socket_ != nullptr; }
  bool send(const std::string& host, int port, const Bytes& datagram) override;
  bool sendPending() const override { return pending_.has_value(); }
  void dropPendingSend() override;

  // 255.255.255.255 or the broadcast address of a local interface.
  static bool isBroadcastDestination(const QHostAddress& address);
  // Whether answers to a datagram sent there may come from any sender: a broadcast
  // or a multicast (224.0.0.0/4) destination. Otherwise only the destination answers.
  static bool anySenderAnswers(const QHostAddress& destination);

 private:
  struct Waiting {
    int port;
    QByteArray data;
  };
  void readPending();
  bool writeTo(const QHostAddress& address, int port, const QByteArray& data);
  void lookupEnded(std::uint64_t id, const QHostAddress& address);
  void tapArrival(const QNetworkDatagram& d, DropReason why, qint64 wireLength);

  std::unique_ptr<QtResolver> ownResolver_;
  Resolver& resolver_;
  std::unique_ptr<QUdpSocket> socket_;
  int localPort_ = 56789;
  // Whom answers are taken from.
  QHostAddress expectedSource_;
  bool anySender_ = false;
  // The send waiting for its lookup; a lookup that answers under another id is stale.
  std::optional<Waiting> pending_;
  std::uint64_t lookupId_ = 0;
  SourceAddresses sources_;  // the local address of each destination, for the tap
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace tessaly
