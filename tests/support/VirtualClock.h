#pragma once
// Virtual time for tests: a clock with scheduled events, and a timer that keeps the
// engine's timer contract exactly. Nothing here waits for real time.
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "link/Ports.h"

namespace tessaly::testing {

class VirtualClock {
 public:
  using Event = std::function<void()>;
  std::int64_t now() const { return now_; }

  // Runs `event` at time `at` (ms). Events at the same time run in scheduling order.
  std::uint64_t schedule(std::int64_t at, Event event);
  void cancel(std::uint64_t id);

  // Runs every event due up to now + ms, in time order, moving the clock to each.
  void advance(std::int64_t ms);
  // Runs events until none is left or `limitMs` of virtual time has passed; true when idle.
  bool runUntilIdle(std::int64_t limitMs = 3600000);
  // The time of the next event, or -1.
  std::int64_t nextEventTime() const;
  bool runNext();

 private:
  std::int64_t now_ = 0;
  std::uint64_t nextId_ = 1;
  std::map<std::pair<std::int64_t, std::uint64_t>, Event> events_;
};

class VirtualTimer : public Timer {
 public:
  explicit VirtualTimer(VirtualClock& clock) : clock_(clock) {}
  ~VirtualTimer() override { stop(); }
  void setInterval(int ms) override;
  int interval() const override { return interval_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }
  // When the running countdown ends, or -1.
  std::int64_t dueAt() const { return enabled_ ? due_ : -1; }
  int fireCount() const { return fires_; }

 private:
  void start();
  void stop();
  void onDue();
  VirtualClock& clock_;
  int interval_ = 1000;
  bool enabled_ = false;
  std::int64_t due_ = -1;
  std::uint64_t event_ = 0;
  int fires_ = 0;
};

}  // namespace tessaly::testing
