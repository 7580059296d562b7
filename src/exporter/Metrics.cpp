#include "exporter/Metrics.h"

#include <prometheus/text_serializer.h>

#include <cstdio>

#include "status/StatusFields.h"

namespace tessaly::exporter {

using prometheus::Gauge;
using prometheus::Labels;

std::string pollResult(QueryKind k) {
  switch (k) {
    case QueryKind::Ok: return "ok";
    case QueryKind::NoDevice: return "no_device";
    case QueryKind::NotRemux: return "not_remux";
    case QueryKind::UnknownAnswer: return "unknown_answer";
    case QueryKind::Timeout: return "timeout";
    case QueryKind::SendFailed: return "send_failed";
  }
  return "unknown_answer";
}

namespace {
constexpr int kInputs = 6;
// The PCR base error: 15 bits of 90 kHz ticks (the top bit is the gradient's direction).
constexpr double kPcrTicksPerSecond = 90000.0;
constexpr std::uint32_t kPcrBaseErrorTicks = 0x7FFF;
constexpr std::uint32_t kPcrGradientRising = 0x8000;
}  // namespace

// The gauges of one board; those of a status exist once the board has answered.
struct Metrics::Board {
  Gauge* up = nullptr;
  Gauge* duration = nullptr;
  Gauge* info = nullptr;
  // By metric name, inputs by name and number; each with its family, to remove it.
  std::map<std::string, std::pair<prometheus::Family<Gauge>*, Gauge*>> status;
  std::map<std::string, prometheus::Counter*> polls;
};

Metrics::Metrics(Scope scope) : registry_(std::make_shared<prometheus::Registry>()) {
  if (scope == Scope::Probe) return;
  polls_ = &prometheus::BuildCounter()
                .Name("tessaly_exporter_polls_total")
                .Help("Polls of a board, by how they ended.")
                .Register(*registry_);
  boards_ = &gauge("tessaly_exporter_boards", "Boards the exporter polls.").Add({});
}

prometheus::Family<Gauge>& Metrics::gauge(const std::string& name, const std::string& help) {
  auto& f = gauges_[name];
  if (f == nullptr) f = &prometheus::BuildGauge().Name(name).Help(help).Register(*registry_);
  return *f;
}

Metrics::Board& Metrics::board(const Labels& labels) {
  auto& b = known_[labels];
  if (!b) {
    b = std::make_unique<Board>();
    b->up = &gauge("tessaly_up", "1 when the last poll got a valid status of a remultiplexer, else 0.").Add(labels);
    b->duration = &gauge("tessaly_poll_duration_seconds", "How long the board's last poll took.").Add(labels);
    if (boards_ != nullptr) boards_->Set(static_cast<double>(known_.size()));
  }
  return *b;
}

void Metrics::polled(const Labels& labels, QueryKind result, std::uint8_t deviceCode, const tZODADevice& d,
                     double seconds) {
  Board& b = board(labels);
  if (polls_ != nullptr) {
    const std::string r = pollResult(result);
    auto& count = b.polls[r];
    if (count == nullptr) {
      Labels l = labels;
      l["result"] = r;
      count = &polls_->Add(l);
    }
    count->Increment();
  }
  b.duration->Set(seconds);
  b.up->Set(result == QueryKind::Ok ? 1 : 0);
  auto& infoFamily = gauge("tessaly_board_info", "The board's identity; always 1.");
  if (result != QueryKind::Ok) {
    // The last good values would read as current: while the board gives no valid
    // status, only its up, poll duration and poll counts are exported.
    for (auto& [key, g] : b.status) g.first->Remove(g.second);
    b.status.clear();
    if (b.info != nullptr) infoFamily.Remove(b.info);
    b.info = nullptr;
    return;
  }

  // The info series follows the board: a changed serial or version replaces it.
  char code[3];
  std::snprintf(code, sizeof code, "%02X", deviceCode);
  Labels info = labels;
  info["device_code"] = code;
  info["serial"] = std::to_string(static_cast<std::uint32_t>(d.SerialNumber));
  info["version"] = d.VersionText;
  info["type"] = std::to_string(d.DeviceType);
  if (b.info != nullptr && !infoFamily.Has(info)) {
    infoFamily.Remove(b.info);
    b.info = nullptr;
  }
  if (b.info == nullptr) b.info = &infoFamily.Add(info);
  b.info->Set(1);

  const auto set = [&](const std::string& name, const std::string& help, double v, const Labels& l) {
    std::string key = name;
    for (const auto& [k, val] : l)
      if (k == "input") key += "/" + val;
    auto& g = b.status[key];
    if (g.second == nullptr) {
      g.first = &gauge(name, help);
      g.second = &g.first->Add(l);
    }
    g.second->Set(v);
  };
  using F = StatusField;
  for (int n = 1; n <= kInputs; ++n) {
    const auto i = static_cast<std::size_t>(n);
    const InputStatusWord w = inputStatusWord(d.InputStatus[i]);
    Labels l = labels;
    l["input"] = std::to_string(n);
    set("tessaly_input_enabled", "1 when the input is enabled.", (d.ChannelEnable >> (n - 1)) & 1U, l);
    set("tessaly_input_packets_per_second", "Transport stream packets the input receives per second.",
        w.packetsPerSec, l);
    // In bytes, the naming guide's base unit for data (the board reports kbit/s).
    set("tessaly_input_data_rate_bytes_per_second", "The input's data rate.", d.InputRate[i] * 1000.0 / 8, l);
    set("tessaly_input_sync_errors", "The input's sync error count as the board reports it.", w.syncErrors, l);
    set("tessaly_input_overflow", "1 when the input overflows.", w.overflow ? 1 : 0, l);
  }
  set("tessaly_sdram_usage_packets", "Packets held in the SDRAM buffer.", d.SdramUsage, labels);
  set("tessaly_sdram_input_packets_per_second", "Packets written to the SDRAM buffer per second.",
      d.SdramInputRate, labels);
  set("tessaly_sdram_overflow", "1 when the SDRAM buffer overflows.", d.SdramOverflow ? 1 : 0, labels);
  set("tessaly_output_null_packets_per_second", "Null packets the output carries per second.", d.NullPacketRate,
      labels);
  set("tessaly_psi_inserted_packets_per_second", "Packets the PSI inserter adds per second.", d.InsertedPacketRate,
      labels);
  set("tessaly_pcr_corrector_enabled", "1 when the PCR corrector is on.", fieldOf(F::PcrCorrectorOn, d.PcrState),
      labels);
  set("tessaly_pcr_pids", "PIDs carrying a PCR.", d.PcrPidCount, labels);
  set("tessaly_pcr_discontinuities", "PCR discontinuities as the board counts them.", d.PcrDiscontinuity, labels);
  set("tessaly_pcr_large_errors", "Large PCR errors as the board counts them.", d.LargePcrErrors, labels);
  set("tessaly_pcr_base_error_seconds", "The PCR base error.",
      (static_cast<std::uint32_t>(d.PcrBaseError) & kPcrBaseErrorTicks) / kPcrTicksPerSecond, labels);
  set("tessaly_pcr_base_error_gradient_rising", "1 when the PCR base error's gradient is rising (+), 0 when falling.",
      (static_cast<std::uint32_t>(d.PcrBaseError) & kPcrGradientRising) != 0 ? 1 : 0, labels);
  set("tessaly_nco_frequency_hertz", "The NCO frequency.", d.NcoFrequency, labels);
  set("tessaly_pll_frequency_hertz", "The PLL frequency.", d.PllFrequency, labels);
  set("tessaly_output_packet_size_bytes", "The output's packet size, 188 or 204.",
      fieldOf(F::OutputFormat188, d.OutputFormat) != 0 ? 188 : 204, labels);
}

Metrics::~Metrics() = default;

void Metrics::cycleEnded(const Labels& controller, double seconds) {
  gauge("tessaly_exporter_cycle_duration_seconds", "How long the controller's last round of polls took.")
      .Add(controller)
      .Set(seconds);
}

void Metrics::probed(bool success, double seconds) {
  gauge("tessaly_probe_success", "1 when the probed board gave a valid status of a remultiplexer, else 0.")
      .Add({})
      .Set(success ? 1 : 0);
  gauge("tessaly_probe_duration_seconds", "How long the probe took, its wait for the controller included.")
      .Add({})
      .Set(seconds);
}

std::string Metrics::text() const { return prometheus::TextSerializer().Serialize(registry_->Collect()); }

}  // namespace tessaly::exporter
