#pragma once
// The two small platform interfaces the transaction engine runs on. The panel
// plugs in Qt adapters; tests plug in a virtual clock and a fake endpoint.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/Traffic.h"
#include "text/Bytes.h"

namespace tessaly {

// One timer on the user-interface thread, interval in milliseconds.
// Contract: setting a different interval while enabled restarts the countdown with
// the new value; setting the same interval, or any interval while disabled, starts
// nothing; enabling a disabled timer starts the countdown; enabling an enabled
// timer changes nothing. While enabled it fires every interval until disabled.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void setInterval(int ms) = 0;
  virtual int interval() const = 0;
  virtual void setEnabled(bool on) = 0;
  virtual bool enabled() const = 0;
  void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }

 protected:
  void fire() {
    if (handler_) handler_();
  }

 private:
  std::function<void()> handler_;
};

// The one UDP endpoint. activate binds the wildcard address on the local port and
// starts delivery; deactivate stops delivery and closes (nothing is delivered
// afterwards); send opens a closed endpoint first. Every failure is a false result.
//
// Only the device answers: while the last destination is a unicast address, a
// datagram from any other source address is dropped before the receiver and
// counted (droppedCount); after a send to a broadcast or multicast address any
// sender counts. A datagram the screen gives a reason against (the receiver's own
// rule for what is no answer of its request) is dropped and counted the same way.
//
// A send has two outcomes: the datagram left, or it could not go out. To a dotted
// address both are known before send returns (true: it left; false: it did not). A
// host name is looked up in the background at every send (nothing is kept from one
// send to the next): send returns true with sendPending() set, and the outcome is
// reported once through the send-outcome handler when the lookup has answered. One
// send waits at a time: a newer send replaces it, and dropPendingSend forgets it;
// neither reports the older one, and a lookup that answers for it afterwards sends
// nothing. While a send waits, no datagram is taken in.
class Endpoint {
 public:
  using Receiver = std::function<void(const std::uint8_t* data, std::size_t length)>;
  using Screen = std::function<DropReason(const std::uint8_t* data, std::size_t length)>;
  virtual ~Endpoint() = default;
  virtual void setLocalPort(int port) = 0;
  virtual int localPort() const = 0;
  virtual bool activate() = 0;
  virtual void deactivate() = 0;
  virtual bool isActive() const = 0;
  virtual bool send(const std::string& host, int port, const Bytes& datagram) = 0;
  virtual bool sendPending() const { return false; }
  virtual void dropPendingSend() {}
  void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }
  // Runs once per pending send: true when its datagram left, false when it could not.
  void setSendOutcomeHandler(std::function<void(bool left)> handler) { sendOutcome_ = std::move(handler); }
  // Looked at for every datagram that passed the source check, before delivery.
  void setScreen(Screen screen) { screen_ = std::move(screen); }
  // Datagrams dropped because they did not come from the addressed device, or
  // were screened out.
  std::size_t droppedCount() const { return dropped_; }
  // Every datagram sent, received or dropped is shown to the tap (not owned; null:
  // none). An endpoint without a socket of its own (a test double) reports nothing.
  void setTap(TrafficTap* tap) { tap_ = tap; }
  TrafficTap* tap() const { return tap_; }

 protected:
  void deliver(const std::uint8_t* data, std::size_t length) {
    if (receiver_) receiver_(data, length);
  }
  void countDropped() { ++dropped_; }
  // Why a datagram from the device is still not delivered (None: it is).
  DropReason screen(const std::uint8_t* data, std::size_t length) const {
    return screen_ ? screen_(data, length) : DropReason::None;
  }
  void tapRecord(const TrafficRecord& r) {
    if (tap_) tap_->record(r);
  }
  // The outcome of the pending send, once known.
  void reportSendOutcome(bool left) {
    if (sendOutcome_) sendOutcome_(left);
  }

 private:
  Receiver receiver_;
  std::function<void(bool)> sendOutcome_;
  Screen screen_;
  std::size_t dropped_ = 0;
  TrafficTap* tap_ = nullptr;
};

}  // namespace tessaly
