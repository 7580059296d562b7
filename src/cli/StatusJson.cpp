#include "cli/StatusJson.h"

#include <QJsonArray>
#include <QString>

#include "protocol/Protocol.h"
#include "status/StatusFields.h"

namespace tessaly::cli {

namespace {
QString hexByte(unsigned v) { return QString::asprintf("%02X", v & 0xFFU); }
}  // namespace

QJsonObject statusJson(const tZODADevice& d, const std::string& userText) {
  using F = StatusField;
  const auto key = [](F f) {
    const std::string_view k = statusField(f).jsonKey;
    return QString::fromLatin1(k.data(), static_cast<qsizetype>(k.size()));
  };
  const auto flag = [](F f, std::uint32_t v) { return fieldOf(f, v) != 0; };
  const auto bit = [](std::uint32_t v, int b) { return ((v >> b) & 1U) != 0; };
  QJsonArray inputs;
  for (int n = 1; n <= 6; ++n) {
    const auto i = static_cast<std::size_t>(n);
    const InputStatusWord w = inputStatusWord(d.InputStatus[i]);
    QJsonObject in;
    in["number"] = n;
    in[key(F::ChannelEnable)] = bit(d.ChannelEnable, n - 1);
    in[key(F::DataValidEnable)] = bit(d.DataValidEnable, n - 1);
    in[key(F::NullFilterEnable)] = bit(d.NullFilterEnable, n - 1);
    in[key(F::TspFilterEnable)] = bit(d.TspFilterEnable, n - 1);
    in[key(F::InputPackets)] = static_cast<qint64>(w.packetsPerSec);
    in[key(F::InputRate)] = d.InputRate[i];
    in[key(F::InputSyncErrors)] = static_cast<qint64>(w.syncErrors);
    in[key(F::InputFormat188)] = w.format188 ? 188 : 204;
    in[key(F::InputOverflow)] = w.overflow;
    inputs.append(in);
  }
  QJsonObject sdram;
  sdram[key(F::SdramInputRate)] = d.SdramInputRate;
  sdram[key(F::SdramUsage)] = d.SdramUsage;
  sdram[key(F::SdramOverflow)] = d.SdramOverflow;
  sdram[key(F::NullPacketRate)] = d.NullPacketRate;
  QJsonObject psi;
  psi[key(F::PsiInserterState)] = d.PsiInserterState;
  psi[key(F::PsiFlashBusy)] = flag(F::PsiFlashBusy, d.PsiInserterState);
  psi[key(F::InsertedPacketRate)] = d.InsertedPacketRate;
  QJsonObject pcr;
  pcr[key(F::PcrState)] = d.PcrState;
  pcr[key(F::PcrCorrectorOn)] = flag(F::PcrCorrectorOn, d.PcrState);
  pcr[key(F::PcrDirectRestamping)] = flag(F::PcrDirectRestamping, d.PcrState);
  pcr[key(F::PcrPause)] = d.PcrPause;
  pcr[key(F::PcrPidCount)] = d.PcrPidCount;
  pcr[key(F::PcrDiscontinuity)] = d.PcrDiscontinuity;
  pcr[key(F::TestPid)] = d.TestPid;
  pcr[key(F::PcrSlide)] = d.PcrSlide;
  pcr[key(F::PcrBaseError)] = d.PcrBaseError;
  QJsonObject pid;
  pid[key(F::PidFilterState)] = d.PidFilterState;
  pid[key(F::PidFlashBusy)] = flag(F::PidFlashBusy, d.PidFilterState);

  QJsonObject j;
  j["device_present"] = true;
  j[key(F::DeviceCode)] = hexByte(kRemuxDeviceCode);
  // The filling 0x00 bytes end the text; each byte is one Latin-1 character.
  std::string text = userText;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  j[key(F::UserText)] = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  j[key(F::Version)] = QString::fromStdString(d.VersionText);
  j[key(F::MpxVersion)] = d.MpxVersion;
  j[key(F::SppVersion)] = d.SppVersion;
  j[key(F::Model)] = d.Model;
  j[key(F::DeviceType)] = d.DeviceType;
  j[key(F::Serial)] = static_cast<qint64>(static_cast<std::uint32_t>(d.SerialNumber));
  j[key(F::SdiAddress)] = static_cast<int>(fieldOf(F::SdiAddress, d.AddressByte));
  j[key(F::AddressJumper)] = flag(F::AddressJumper, d.AddressByte);
  j[key(F::InstructionCounter)] = d.InstructionCounter;
  j[key(F::IicError)] = d.IicError;
  j[key(F::LedFlags)] = d.LedFlags;
  j[key(F::Nco)] = d.NcoFrequency;
  j[key(F::PllFrequency)] = d.PllFrequency;
  j[key(F::PDiv)] = d.PDiv;
  j[key(F::OutputFormat188)] = flag(F::OutputFormat188, d.OutputFormat) ? 188 : 204;
  j[key(F::ClockSelect)] = static_cast<int>(fieldOf(F::ClockSelect, d.OutputFormat));
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
