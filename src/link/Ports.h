#pragma once
// The two small platform interfaces the transaction engine runs on. The panel
// plugs in Qt adapters; tests plug in a virtual clock and a fake endpoint.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
class Endpoint {
 public:
  using Receiver = std::function<void(const std::uint8_t* data, std::size_t length)>;
  virtual ~Endpoint() = default;
  virtual void setLocalPort(int port) = 0;
  virtual int localPort() const = 0;
  virtual bool activate() = 0;
  virtual void deactivate() = 0;
  virtual bool isActive() const = 0;
  virtual bool send(const std::string& host, int port, const Bytes& datagram) = 0;
  void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }

 protected:
  void deliver(const std::uint8_t* data, std::size_t length) {
    if (receiver_) receiver_(data, length);
  }

 private:
  Receiver receiver_;
};

}  // namespace tessaly
