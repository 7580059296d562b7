#pragma once
// The emulator on a UDP socket: every datagram goes through the model and its
// answers go back to the sender's address and port, each after its delay.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>

#include <cstdio>

#include "model/Emulator.h"

namespace tessaly::emu {

class EmulatorServer {
 public:
  EmulatorServer(const EmulatorOptions& options, bool verbose, std::FILE* log);
  // Binds the socket; on failure gives the socket's error text.
  bool listen(const QHostAddress& address, quint16 port, QString* error);
  quint16 port() const { return socket_.localPort(); }
  const Emulator& emulator() const { return emu_; }
  std::uint64_t sent() const { return sent_; }

 private:
  void readPending();
  void send(const Bytes& data, const QHostAddress& to, quint16 port);

  Emulator emu_;
  QUdpSocket socket_;
  QElapsedTimer clock_;
  bool verbose_;
  std::FILE* log_;
  std::uint64_t sent_ = 0;
};

}  // namespace tessaly::emu
