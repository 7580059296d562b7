#include "exporter/Metrics.h"

#include <prometheus/text_serializer.h>

#include <array>
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
constexpr std::size_t kResults = static_cast<std::size_t>(QueryKind::SendFailed) + 1;

struct GaugeName {
  const char* name;
  const char* help;
};
// The gauges of each input (labelled input="1".."6"), in the order of kInputGauges.
enum InputGauge { kInputEnabled, kInputPackets, kInputDataRate, kInputSyncErrors, kInputOverflow, kInputGauges };
const GaugeName kInputGaugeNames[kInputGauges] = {
    {"tessaly_input_enabled", "1 when the input is enabled."},
    {"tessaly_input_packets_per_second", "Transport stream packets the input receives per second."},
    // In bytes, the naming guide's base unit for data (the board reports kbit/s).
    {"tessaly_input_data_rate_bytes_per_second", "The input's data rate."},
    {"tessaly_input_sync_errors", "The input's sync error count as the board reports it."},
    {"tessaly_input_overflow", "1 when the input overflows."},
};
// The gauges of the board as a whole, in the order of kBoardGauges.
enum BoardGauge {
  kSdramUsage, kSdramInput, kSdramOverflow, kNullPackets, kPsiInserted, kPcrCorrector, kPcrPids,
  kPcrDiscontinuities, kPcrLargeErrors, kPcrBaseError, kPcrGradient, kNco, kPll, kPacketSize, kBoardGauges
};
const GaugeName kBoardGaugeNames[kBoardGauges] = {
    {"tessaly_sdram_usage_packets", "Packets held in the SDRAM buffer."},
    {"tessaly_sdram_input_packets_per_second", "Packets written to the SDRAM buffer per second."},
    {"tessaly_sdram_overflow", "1 when the SDRAM buffer overflows."},
    {"tessaly_output_null_packets_per_second", "Null packets the output carries per second."},
    {"tessaly_psi_inserted_packets_per_second", "Packets the PSI inserter adds per second."},
    {"tessaly_pcr_corrector_enabled", "1 when the PCR corrector is on."},
    {"tessaly_pcr_pids", "PIDs carrying a PCR."},
    {"tessaly_pcr_discontinuities", "PCR discontinuities as the board counts them."},
    {"tessaly_pcr_large_errors", "Large PCR errors as the board counts them."},
    {"tessaly_pcr_base_error_seconds", "The PCR base error."},
    {"tessaly_pcr_base_error_gradient_rising", "1 when the PCR base error's gradient is rising (+), 0 when falling."},
    {"tessaly_nco_frequency_hertz", "The NCO frequency."},
    {"tessaly_pll_frequency_hertz", "The PLL frequency."},
    {"tessaly_output_packet_size_bytes", "The output's packet size, 188 or 204."},
};
}  // namespace

// The series of one board, looked up once when the board first shows up (its poll
// counts per result, its status once it has answered), so that a poll only sets values.
struct Metrics::Board {
  Gauge* up = nullptr;
  Gauge* duration = nullptr;
  Gauge* info = nullptr;
  std::string device_code, serial, version, type;  // the labels of `info`
  std::array<prometheus::Counter*, kResults> polls{};
  std::array<std::array<Gauge*, kInputGauges>, kInputs> input{};
  std::array<Gauge*, kBoardGauges> status{};
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
    auto& count = b.polls[static_cast<std::size_t>(result)];
    if (count == nullptr) {
      Labels l = labels;
      l["result"] = pollResult(result);
      count = &polls_->Add(l);
    }
    count->Increment();
  }
  b.duration->Set(seconds);
  b.up->Set(result == QueryKind::Ok ? 1 : 0);
  if (result != QueryKind::Ok) {
    forget(b);
    return;
  }

  // The info series follows the board: a changed serial or version replaces it.
  char code[3];
  std::snprintf(code, sizeof code, "%02X", deviceCode);
  const std::string serial = std::to_string(static_cast<std::uint32_t>(d.SerialNumber));
  const std::string type = std::to_string(d.DeviceType);
  auto& infoFamily = gauge("tessaly_board_info", "The board's identity; always 1.");
  if (b.info != nullptr &&
      (b.device_code != code || b.serial != serial || b.version != d.VersionText || b.type != type)) {
    infoFamily.Remove(b.info);
    b.info = nullptr;
  }
  if (b.info == nullptr) {
    b.device_code = code;
    b.serial = serial;
    b.version = d.VersionText;
    b.type = type;
    Labels info = labels;
    info["device_code"] = b.device_code;
    info["serial"] = b.serial;
    info["version"] = b.version;
    info["type"] = b.type;
    b.info = &infoFamily.Add(info);
  }
  b.info->Set(1);

  if (b.status[0] == nullptr) {
    for (int n = 1; n <= kInputs; ++n) {
      Labels l = labels;
      l["input"] = std::to_string(n);
      for (int g = 0; g < kInputGauges; ++g)
        b.input[n - 1][g] = &gauge(kInputGaugeNames[g].name, kInputGaugeNames[g].help).Add(l);
    }
    for (int g = 0; g < kBoardGauges; ++g)
      b.status[g] = &gauge(kBoardGaugeNames[g].name, kBoardGaugeNames[g].help).Add(labels);
  }
  for (int n = 1; n <= kInputs; ++n) {
    const auto i = static_cast<std::size_t>(n);
    const InputStatusWord w = inputStatusWord(d.InputStatus[i]);
    const auto& in = b.input[n - 1];
    in[kInputEnabled]->Set((d.ChannelEnable >> (n - 1)) & 1U);
    in[kInputPackets]->Set(w.packetsPerSec);
    in[kInputDataRate]->Set(d.InputRate[i] * 1000.0 / 8);
    in[kInputSyncErrors]->Set(w.syncErrors);
    in[kInputOverflow]->Set(w.overflow ? 1 : 0);
  }
  using F = StatusField;
  const auto& s = b.status;
  s[kSdramUsage]->Set(d.SdramUsage);
  s[kSdramInput]->Set(d.SdramInputRate);
  s[kSdramOverflow]->Set(d.SdramOverflow ? 1 : 0);
  s[kNullPackets]->Set(d.NullPacketRate);
  s[kPsiInserted]->Set(d.InsertedPacketRate);
  s[kPcrCorrector]->Set(fieldOf(F::PcrCorrectorOn, d.PcrState));
  s[kPcrPids]->Set(d.PcrPidCount);
  s[kPcrDiscontinuities]->Set(d.PcrDiscontinuity);
  s[kPcrLargeErrors]->Set(d.LargePcrErrors);
  s[kPcrBaseError]->Set((static_cast<std::uint32_t>(d.PcrBaseError) & kPcrBaseErrorTicks) / kPcrTicksPerSecond);
  s[kPcrGradient]->Set((static_cast<std::uint32_t>(d.PcrBaseError) & kPcrGradientRising) != 0 ? 1 : 0);
  s[kNco]->Set(d.NcoFrequency);
  s[kPll]->Set(d.PllFrequency);
  s[kPacketSize]->Set(fieldOf(F::OutputFormat188, d.OutputFormat) != 0 ? 188 : 204);
}

// The last good values would read as current: while the board gives no valid status,
// only its up, poll duration and poll counts are exported; its next good poll adds
// its identity and status again.
void Metrics::forget(Board& b) {
  if (b.info != nullptr) gauge("tessaly_board_info", "The board's identity; always 1.").Remove(b.info);
  b.info = nullptr;
  if (b.status[0] == nullptr) return;
  for (auto& in : b.input)
    for (int g = 0; g < kInputGauges; ++g) {
      gauge(kInputGaugeNames[g].name, kInputGaugeNames[g].help).Remove(in[g]);
      in[g] = nullptr;
    }
  for (int g = 0; g < kBoardGauges; ++g) {
    gauge(kBoardGaugeNames[g].name, kBoardGaugeNames[g].help).Remove(b.status[g]);
    b.status[g] = nullptr;
  }
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
