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
}  // namespace

bool FakeEndpoint::send(const std::string& host, int port, const Bytes& datagram) {
  if (!activate()) return false;
  if (failSend) return false;
  if (namesWait && host != "localhost" && !resolves(host)) {
    // A send to another host replaces one still waiting; one lookup per host text.
    if (!pending_.empty() && pending_.front().host != host) pending_.clear();
    if (pending_.empty()) ++lookups;
    pending_.push_back({host, port, datagram, 0});
    return true;
  }
  if (!resolves(host)) return false;
  sent.push_back({host, port, datagram, clock_ ? clock_->now() : 0});
  if (onSend) onSend(sent.back());
  return true;
}

void FakeEndpoint::finishLookup(bool resolved) {
  std::vector<SentDatagram> waiting;
  waiting.swap(pending_);
  if (waiting.empty()) return;
  if (!resolved) {
    reportSendFailure();
    return;
  }
  for (SentDatagram& d : waiting) {
    d.at = clock_ ? clock_->now() : 0;
    sent.push_back(d);
    if (onSend) onSend(sent.back());
  }
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
