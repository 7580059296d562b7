#pragma once
// The one UDP endpoint over QUdpSocket: IPv4 wildcard bind on the host port without
// address sharing, datagrams of up to 8,192 bytes delivered in order on the UI thread.
#include <QObject>
#include <QUdpSocket>
#include <memory>

#include "link/Ports.h"

namespace tessaly {

class QtUdpEndpoint : public QObject, public Endpoint {
  Q_OBJECT
 public:
  static constexpr int kMaxDatagram = 8192;

  explicit QtUdpEndpoint(QObject* parent = nullptr);
  ~QtUdpEndpoint() override;

  void setLocalPort(int port) override { localPort_ = port; }
  int localPort() const override { return localPort_; }
  bool activate() override;
  void deactivate() override;
  bool isActive() const override { return socket_ != nullptr; }
  bool send(const std::string& host, int port, const Bytes& datagram) override;

 private:
  void readPending();

  std::unique_ptr<QUdpSocket> socket_;
  int localPort_ = 56789;
};

}  // namespace tessaly
