#include "cli/StatusJson.h"

#include <QJsonArray>
#include <QString>

#include "protocol/Protocol.h"

namespace tessaly::cli {

namespace {
QString hexByte(unsigned v) { return QString::asprintf("%02X", v & 0xFFU); }
}  // namespace

QJsonObject statusJson(const tZODADevice& d, const std::string& userText) {
  const auto bit = [](std::uint32_t v, int b) { return ((v >> b) & 1U) != 0; };
  QJsonArray inputs;
  for (int n = 1; n <= 6; ++n) {
    const auto i = static_cast<std::size_t>(n);
    const std::uint32_t w = d.InputStatus[i];
    QJsonObject in;
    in["number"] = n;
    in["enabled"] = bit(d.ChannelEnable, n - 1);
    in["data_valid_enabled"] = bit(d.DataValidEnable, n - 1);
    in["null_filter"] = bit(d.NullFilterEnable, n - 1);
    in["tsp_error_filter"] = bit(d.TspFilterEnable, n - 1);
    in["packets_per_sec"] = static_cast<qint64>(w & 0xFFFFF);
    in["rate_kbps"] = d.InputRate[i];
    in["sync_errors"] = static_cast<qint64>(w >> 24);
    in["format"] = bit(w, 23) ? 188 : 204;
    in["overflow"] = bit(w, 22);
    inputs.append(in);
  }
  QJsonObject sdram;
  sdram["input_packets_per_sec"] = d.SdramInputRate;
  sdram["usage_packets"] = d.SdramUsage;
  sdram["overflow"] = d.SdramOverflow;
  sdram["null_packets_per_sec"] = d.NullPacketRate;
  QJsonObject psi;
  psi["state"] = d.PsiInserterState;
  psi["flash_busy"] = bit(d.PsiInserterState, 0);
  psi["inserted_packets_per_sec"] = d.InsertedPacketRate;
  QJsonObject pcr;
  pcr["state"] = d.PcrState;
  pcr["corrector_on"] = bit(d.PcrState, 0);
  pcr["direct_restamping"] = bit(d.PcrState, 4);
  pcr["pause"] = d.PcrPause;
  pcr["pcr_pid_count"] = d.PcrPidCount;
  pcr["discontinuity_counter"] = d.PcrDiscontinuity;
  pcr["test_pid"] = d.TestPid;
  pcr["slide"] = d.PcrSlide;
  pcr["base_error"] = d.PcrBaseError;
  QJsonObject pid;
  pid["state"] = d.PidFilterState;
  pid["flash_busy"] = bit(d.PidFilterState, 0);

  QJsonObject j;
  j["device_present"] = true;
  j["device_code"] = hexByte(kRemuxDeviceCode);
  // The filling 0x00 bytes end the text; each byte is one Latin-1 character.
  std::string text = userText;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  j["user_text"] = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  j["version"] = QString::fromStdString(d.VersionText);
  j["mpx_version"] = d.MpxVersion;
  j["spp_version"] = d.SppVersion;
  j["model"] = d.Model;
  j["type"] = d.DeviceType;
  j["serial"] = static_cast<qint64>(static_cast<std::uint32_t>(d.SerialNumber));
  j["sdi_address"] = d.AddressByte & 15;
  j["address_jumper"] = bit(d.AddressByte, 4);
  j["instruction_counter"] = d.InstructionCounter;
  j["iic_error"] = d.IicError;
  j["led_flags"] = d.LedFlags;
  j["nco_hz"] = d.NcoFrequency;
  j["pll_hz"] = d.PllFrequency;
  j["pll_pdiv"] = d.PDiv;
  j["output_format"] = bit(d.OutputFormat, 7) ? 188 : 204;
  j["clock_select"] = d.OutputFormat & 127;
  j["pid_filter"] = pid;
  j["inputs"] = inputs;
  j["sdram"] = sdram;
  j["psi"] = psi;
  j["pcr"] = pcr;
  return j;
}

QJsonObject answerJson(const QueryOutcome& o) {
  QJsonObject j;
  j["answer_length"] = static_cast<qint64>(o.length);
  if (!o.statusAnswer()) return j;
  j["sdi_address"] = o.sdiAddress;
  j["device_present"] = o.devicePresent();
  if (o.devicePresent()) j["device_code"] = hexByte(o.deviceCode);
  return j;
}

}  // namespace tessaly::cli
