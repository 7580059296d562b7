#include "FakeEndpoint.h"

namespace tessaly::testing {

bool FakeEndpoint::activate() {
  if (active_) return true;
  if (failActivate) return false;
  active_ = true;
  ++activations;
  return true;
}

namespace {
// Dotted IPv4 texts resolve to themselves, as does "localhost"; any other name
// fails, as it would on a machine whose resolver knows nothing else.
bool resolves(const std::string& host) {
  if (host == "localhost") return true;
  int dots = 0, digits = 0, value = 0;
  for (char c : host) {
    if (c == '.') {
      if (digits == 0) return false;
      ++dots;
      digits = value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  return dots == 3 && digits > 0;
}

// A dotted IPv4 text in host order ("localhost" is 127.0.0.1); 0 for anything else.
std::uint32_t addressOf(const std::string& host) {
  if (host == "localhost") return 0x7F000001;
  if (!resolves(host)) return 0;
  std::uint32_t a = 0, part = 0;
  for (char c : host) {
    if (c == '.') {
      a = (a << 8) | part;
      part = 0;
    } else {
      part = part * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  return (a << 8) | part;
}
}  // namespace

void FakeEndpoint::tapDatagram(TrafficDirection direction, const Bytes& datagram, DropReason why) {
  if (!tap()) return;
  TrafficRecord r;
  r.monotonicNs = (clock_ ? clock_->now() : 0) * 1000000;
  r.direction = direction;
  r.dropReason = why;
  r.localAddress = 0x7F000001;
  r.localPort = static_cast<std::uint16_t>(localPort_);
  r.peerAddress = addressOf(lastHost_);
  r.peerPort = static_cast<std::uint16_t>(lastPort_);
  r.wireLength = static_cast<std::uint32_t>(datagram.size());
  r.data = datagram;
  tapRecord(r);
}

bool FakeEndpoint::send(const std::string& host, int port, const Bytes& datagram) {
  if (!activate()) return false;
  if (failSend) return false;
  pending_.reset();
  if (namesWait && host != "localhost" && !resolves(host)) {
    ++lookups;
    pending_ = SentDatagram{host, port, datagram, 0};
    return true;
  }
  if (!resolves(host)) return false;
  sent.push_back({host, port, datagram, clock_ ? clock_->now() : 0});
  lastHost_ = host;
  lastPort_ = port;
  tapDatagram(TrafficDirection::Sent, datagram);
  if (onSend) onSend(sent.back());
  return true;
}

void FakeEndpoint::finishLookup(bool resolved) {
  if (!pending_) return;
  SentDatagram d = std::move(*pending_);
  pending_.reset();
  if (!resolved) {
    reportSendOutcome(false);
    return;
  }
  d.at = clock_ ? clock_->now() : 0;
  sent.push_back(d);
  lastHost_ = d.host;
  lastPort_ = d.port;
  tapDatagram(TrafficDirection::Sent, d.data);
  if (onSend) onSend(sent.back());
  reportSendOutcome(true);
}

bool FakeEndpoint::inject(const Bytes& datagram) {
  if (!active_) return false;
  const DropReason why = screen(datagram.data(), datagram.size());
  tapDatagram(why == DropReason::None ? TrafficDirection::Received : TrafficDirection::Dropped, datagram, why);
  if (why != DropReason::None) {
    countDropped();
    return false;
  }
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
