#include "VirtualClock.h"

namespace tessaly::testing {

std::uint64_t VirtualClock::schedule(std::int64_t at, Event event) {
  if (at < now_) at = now_;
  const std::uint64_t id = nextId_++;
  events_.emplace(std::make_pair(at, id), std::move(event));
  return id;
}

void VirtualClock::cancel(std::uint64_t id) {
  for (auto it = events_.begin(); it != events_.end(); ++it) {
    if (it->first.second == id) {
      events_.erase(it);
      return;
    }
  }
}

std::int64_t VirtualClock::nextEventTime() const { return events_.empty() ? -1 : events_.begin()->first.first; }

bool VirtualClock::runNext() {
  if (events_.empty()) return false;
  auto it = events_.begin();
  now_ = it->first.first;
  Event event = std::move(it->second);
  events_.erase(it);
  event();
  return true;
}

void VirtualClock::advance(std::int64_t ms) {
  const std::int64_t until = now_ + ms;
  while (!events_.empty() && events_.begin()->first.first <= until) runNext();
  now_ = until;
}

bool VirtualClock::runUntilIdle(std::int64_t limitMs) {
  const std::int64_t until = now_ + limitMs;
  while (!events_.empty()) {
    if (events_.begin()->first.first > until) {
      now_ = until;
      return false;
    }
    runNext();
  }
  return true;
}

void VirtualTimer::start() {
  stop();
  enabled_ = true;
  due_ = clock_.now() + interval_;
  event_ = clock_.schedule(due_, [this] { onDue(); });
}

void VirtualTimer::onDue() {
  ++fires_;
  // Periodic, like the platform timer: the next countdown starts before the
  // handler runs, and the handler normally disables the timer.
  due_ = clock_.now() + interval_;
  event_ = clock_.schedule(due_, [this] { onDue(); });
  fire();
}

void VirtualTimer::stop() {
  if (event_ != 0) clock_.cancel(event_);
  event_ = 0;
  enabled_ = false;
  due_ = -1;
}

void VirtualTimer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (enabled_) start();
}

void VirtualTimer::setEnabled(bool on) {
  if (on == enabled_) return;
  if (on) start();
  else stop();
}

}  // namespace tessaly::testing
