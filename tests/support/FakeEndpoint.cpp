#include "FakeEndpoint.h"

namespace tessaly::testing {

bool FakeEndpoint::activate() {
  if (active_) return true;
  if (failActivate) return false;
  active_ = true;
  ++activations;
  return true;
}

bool FakeEndpoint::send(const std::string& host, int port, const Bytes& datagram) {
  if (!activate()) return false;
  if (failSend) return false;
  sent.push_back({host, port, datagram, clock_ ? clock_->now() : 0});
  if (onSend) onSend(sent.back());
  return true;
}

bool FakeEndpoint::inject(const Bytes& datagram) {
  if (!active_) return false;
  deliver(datagram.data(), datagram.size());
  return true;
}

void FakeEndpoint::injectAfter(std::int64_t delayMs, Bytes datagram) {
  if (!clock_) {
    inject(datagram);
    return;
  }
  clock_->schedule(clock_->now() + delayMs, [this, d = std::move(datagram)] { inject(d); });
}

}  // namespace tessaly::testing
