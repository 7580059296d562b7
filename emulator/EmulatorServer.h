#pragma once
// The emulator on a UDP socket: every datagram goes through the model and its
// answers go back to the sender's address and port, each after its delay.
//
// Fair under floods: it reads a bounded batch of datagrams per event-loop turn and
// leaves the rest for the next turn, so signals, timers and other senders get
// their turn between batches. Delayed answers wait in one time-ordered queue with a cap
// (beyond it the oldest goes and is counted) behind a single timer.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

class QNetworkDatagram;

#include "link/Traffic.h"
#include "link/qt/SourceAddress.h"
#include "model/DelayQueue.h"
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
  // Every datagram received and every answer sent is shown to the tap (not owned).
  void setTap(TrafficTap* tap) { tap_ = tap; }
  // Delayed answers pushed out of the full queue so far.
  std::uint64_t queueDropped() const { return delayed_.dropped(); }

  static constexpr int kReadBatch = 64;    // datagrams read per event-loop turn
  static constexpr int kSendBatch = 256;   // delayed answers sent per event-loop turn

 private:
  struct Pending {
    Bytes data;
    QHostAddress to;
    quint16 port = 0;
  };
  void readPending();
  void handle(const QNetworkDatagram& d);
  void sendDue();
  void armTimer();
  void send(const Bytes& data, const QHostAddress& to, quint16 port);

  Emulator emu_;
  QUdpSocket socket_;
  QElapsedTimer clock_;
  DelayQueue<Pending> delayed_;
  QTimer sendTimer_;             // single shot, armed for the earliest delayed answer
  std::int64_t armedFor_ = -1;   // the due time it is armed for; -1 when idle
  bool verbose_;
  std::FILE* log_;
  std::uint64_t sent_ = 0;
  TrafficTap* tap_ = nullptr;
  SourceAddresses sources_;  // the local address of each destination, for the tap
};

}  // namespace tessaly::emu
