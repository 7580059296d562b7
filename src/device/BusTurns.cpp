#include "device/BusTurns.h"

#include <algorithm>

namespace tessaly {

BusTurns::Ticket BusTurns::request(std::function<void(Ticket)> go) {
  const Ticket t = ++last_;
  queue_.emplace_back(t, std::move(go));
  dispatch();
  return t;
}

void BusTurns::release(Ticket t) {
  if (t == 0) return;
  if (t == holder_) {
    holder_ = 0;
    dispatch();
    return;
  }
  const auto it = std::find_if(queue_.begin(), queue_.end(), [t](const auto& q) { return q.first == t; });
  if (it != queue_.end()) queue_.erase(it);
}

void BusTurns::dispatch() {
  // A turn given back inside `go` (a send that failed at once) passes on from this
  // loop, not from a nested one.
  if (dispatching_) return;
  dispatching_ = true;
  while (holder_ == 0 && !queue_.empty()) {
    auto [t, go] = std::move(queue_.front());
    queue_.pop_front();
    holder_ = t;
    if (go) go(t);
  }
  dispatching_ = false;
}

}  // namespace tessaly
