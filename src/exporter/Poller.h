#pragma once
// The polls of one controller: a Query to each of its boards in turn (its SDI bus
// carries one exchange at a time), over the controller's own device session and UDP
// endpoint. Controllers poll side by side on one event loop.
#include <chrono>
#include <functional>
#include <vector>

#include "device/DeviceSession.h"
#include "exporter/Config.h"
#include "exporter/Metrics.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

namespace tessaly::exporter {

class ControllerPoller : public StatusQueryListener {
 public:
  ControllerPoller(const ControllerConfig& c, int timeoutMs, Metrics& metrics);
  ~ControllerPoller() override;
  ControllerPoller(const ControllerPoller&) = delete;
  ControllerPoller& operator=(const ControllerPoller&) = delete;

  // One round over the boards; `ended` runs when the last poll has ended. The first
  // round of `boards: all` asks every address and keeps those that answer as
  // remultiplexers.
  void startCycle(std::function<void()> ended);
  bool cycleRunning() const { return running_; }
  // Polls that went out (did not fail to send), over all rounds.
  long sentPolls() const { return sent_; }

  void queryEnded(const QueryOutcome& o) override;

 private:
  void ask(std::size_t index);

  ControllerConfig config_;
  Metrics& metrics_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  DeviceSession session_;
  prometheus::Labels controllerLabels_;
  std::vector<int> boards_;
  bool scanning_ = false;
  std::vector<int> found_;
  std::size_t index_ = 0;
  bool running_ = false;
  long sent_ = 0;
  std::function<void()> ended_;
  std::chrono::steady_clock::time_point cycleStart_, pollStart_;
};

}  // namespace tessaly::exporter
