#pragma once
// A fake UDP endpoint for tests: records every send, can be told to fail, and
// delivers injected datagrams only while active (a closed endpoint loses them) and
// through the screen.
// Like a real socket it shows every datagram sent or delivered to its tap, the
// peer being the last destination.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VirtualClock.h"
#include "link/Ports.h"

namespace tessaly::testing {

struct SentDatagram {
  std::string host;
  int port = 0;
  Bytes data;
  std::int64_t at = 0;
};

class FakeEndpoint : public Endpoint {
 public:
  explicit FakeEndpoint(VirtualClock* clock = nullptr) : clock_(clock) {}

  void setLocalPort(int port) override { localPort_ = port; }
  int localPort() const override { return localPort_; }
  bool activate() override;
  void deactivate() override { active_ = false; ++deactivations_; }
  bool isActive() const override { return active_; }
  bool send(const std::string& host, int port, const Bytes& datagram) override;
  bool sendPending() const override { return pending_.has_value(); }
  void dropPendingSend() override { pending_.reset(); }

  // With namesWait set, a send to a host name other than "localhost" waits for
  // finishLookup (one lookup per send; a newer send replaces the waiting one): true
  // sends the waiting datagram (recorded in `sent` at that moment) and reports that it
  // left, false reports that it could not go out.
  bool namesWait = false;
  void finishLookup(bool resolved);
  int lookups = 0;

  // Delivers now, if active and the screen lets it through (a screened-out one is
  // counted and shown to the tap as dropped); returns whether it was delivered.
  bool inject(const Bytes& datagram);
  // Delivers at now + delayMs (if the endpoint is active then).
  void injectAfter(std::int64_t delayMs, Bytes datagram);

  bool failActivate = false;
  bool failSend = false;
  std::vector<SentDatagram> sent;
  int activations = 0;
  int deactivations() const { return deactivations_; }
  // Called after every successful send (lets a test play the device).
  std::function<void(const SentDatagram&)> onSend;

 private:
  void tapDatagram(TrafficDirection direction, const Bytes& datagram, DropReason why = DropReason::None);

  VirtualClock* clock_;
  std::string lastHost_;
  int lastPort_ = 0;
  int localPort_ = 0;
  bool active_ = false;
  int deactivations_ = 0;
  std::optional<SentDatagram> pending_;
};

}  // namespace tessaly::testing
