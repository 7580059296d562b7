#pragma once
// The exporter's metrics, in one prometheus-cpp registry: a board's latest poll, the
// poll counts and the cycles; or, for one probe, that board and how the probe went.
// Written on the poller's thread; the registry is collected for a scrape on the HTTP
// server's own threads.
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <array>
#include <map>
#include <memory>
#include <string>

#include "status/DeviceStatus.h"
#include "status/StatusReport.h"

namespace tessaly::exporter {

// How a poll ended, as the result label of the poll count says it.
std::string pollResult(QueryKind k);

class Metrics {
 public:
  // Exporter: the boards the pollers poll, with the exporter's own counts and
  // cycles. Probe: one probed board and tessaly_probe_*, in a registry of its own.
  enum class Scope { Exporter, Probe };
  explicit Metrics(Scope scope = Scope::Exporter);
  ~Metrics();
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;
  std::shared_ptr<prometheus::Registry> registry() const { return registry_; }
  // The exposition of everything now, in the text format.
  std::string text() const;

  // One board's latest poll: `d` is its status when the outcome is Ok. A poll that
  // is not Ok removes the board's status and identity: they are not current.
  void polled(const prometheus::Labels& board, QueryKind result, std::uint8_t deviceCode, const tZODADevice& d,
              double seconds);
  void cycleEnded(const prometheus::Labels& controller, double seconds);
  // How a probe went (Probe scope).
  void probed(bool success, double seconds);

 private:
  struct Board;
  Board& board(const prometheus::Labels& labels);
  void forget(Board& b);
  prometheus::Family<prometheus::Gauge>& gauge(const std::string& name, const std::string& help);

  std::shared_ptr<prometheus::Registry> registry_;
  std::map<std::string, prometheus::Family<prometheus::Gauge>*> gauges_;
  prometheus::Family<prometheus::Counter>* polls_ = nullptr;  // Exporter scope only
  prometheus::Gauge* boards_ = nullptr;                      // Exporter scope only
  std::map<prometheus::Labels, std::unique_ptr<Board>> known_;
};

}  // namespace tessaly::exporter
