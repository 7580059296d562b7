#include "status/StatusFields.h"

#include "protocol/Protocol.h"

namespace tessaly {

namespace {

using F = StatusField;
using U = FieldUnit;
constexpr std::uint32_t kAll = 0xFFFFFFFFu;

// In the order of StatusField. Parts of a word or a mask follow the field they lie in.
constexpr std::array<StatusFieldInfo, kStatusFieldCount> kFields{{
    {F::Block, "status block", "block", 0, block::Size, 0, kAll, U::Bytes, {}, {}},
    {F::Presence, "presence", "presence", block::Presence, 1, 0, kAll, U::Number, {}, {}},
    {F::DeviceCode, "device code", "device_code", block::DeviceCode, 1, 0, kAll, U::Number, "device_code",
     "Device Code"},
    {F::UserText, "user text", "user_text", block::UserText, 15, 0, kAll, U::Text, "user_text", {}},
    {F::DeviceType, "device type", "type", block::DeviceType, 2, 0, kAll, U::Number, "type", "Type"},
    {F::Serial, "serial number", "serial", block::Serial, 4, 0, kAll, U::Number, "serial", "Serial"},
    {F::AddressByte, "address byte", "address_byte", block::Address, 1, 0, kAll, U::Flags, {}, {}},
    {F::SdiAddress, "SDI address", "board_address", block::Address, 1, 0, 0x0F, U::Number, "sdi_address", "Address"},
    {F::AddressJumper, "address jumper", "jumper", block::Address, 1, 4, 1, U::Flag, "address_jumper", {}},
    {F::InstructionCounter, "instruction counter", "instr_counter", block::InstrCounter, 1, 0, kAll, U::Number,
     "instruction_counter", "Instruction Packet Counter"},
    {F::Version, "version", "version", block::VersionMajor, 2, 0, kAll, U::Text, "version", "Version", 1, 0, true},
    {F::VersionMajor, "version, whole part", "version_major", block::VersionMajor, 1, 0, kAll, U::Number, {}, {}},
    {F::VersionMinor, "version, hundredths", "version_minor", block::VersionMinor, 1, 0, kAll, U::Number, {}, {}},
    {F::ChannelEnable, "channel enable", "channel_enable", block::ChannelEnable, 1, 0, kAll, U::Flags, "enabled", {}},
    {F::DataValidEnable, "DataValid enable", "data_valid", block::DataValid, 1, 0, kAll, U::Flags,
     "data_valid_enabled", {}},
    {F::NullFilterEnable, "null filter", "null_filter", block::NullFilter, 1, 0, kAll, U::Flags, "null_filter", {}},
    {F::TspFilterEnable, "TSP filter", "tsp_filter", block::TspFilter, 1, 0, kAll, U::Flags, "tsp_error_filter", {}},
    {F::OutputFormat, "output format", "output_format", block::OutputFormat, 1, 0, kAll, U::Flags, {}, {}},
    {F::OutputFormat188, "188-byte output", {}, block::OutputFormat, 1, 7, 1, U::Flag, "output_format",
     "Output Format"},
    {F::ClockSelect, "clock select", {}, block::OutputFormat, 1, 0, 0x7F, U::Number, "clock_select", "Clock Select"},
    {F::IicError, "IIC error", "iic_error", block::IicError, 1, 0, kAll, U::Number, "iic_error", "IIC Error"},
    {F::Nco, "NCO frequency", "nco", block::Nco, 4, 0, kAll, U::Hz, "nco_hz", "NCO Frequency"},
    {F::PDiv, "PLL divider", "pdiv", block::PDiv, 2, 0, 0x3FF, U::Number, "pll_pdiv", "PDiv"},
    {F::PllWord, "PLL word", "pll_word", block::PllWord, 4, 0, kAll, U::Flags, {}, {}},
    {F::PllFrequency, "PLL frequency", "pll_hz", block::PDiv, 6, 0, kAll, U::Hz, "pll_hz", "PLL Frequency", 1, 0, true},
    {F::PidFilterState, "PID filter state", "pid_state", block::PidFilterState, 1, 0, kAll, U::Flags, "state", "State"},
    {F::PidFlashBusy, "PID filter flash busy", {}, block::PidFilterState, 1, 0, 1, U::Flag, "flash_busy", {}},
    {F::IntRError, "Int. R. errors", "int_r_error", block::IntRError, 1, 0, kAll, U::Number, {}, {}},
    {F::ReadbackKind, "read-back kind", "readback_kind", block::ReadbackKind, 1, 0, kAll, U::Number, {}, {}},
    {F::LedFlags, "LED flags", "leds", block::Leds, 1, 0, kAll, U::Flags, "led_flags", "Overflow"},
    {F::PsiInserterState, "PSI inserter state", "psi_state", block::PsiState, 1, 0, kAll, U::Flags, "state", "State"},
    {F::PsiFlashBusy, "PSI inserter flash busy", {}, block::PsiState, 1, 0, 1, U::Flag, "flash_busy", {}},
    {F::PcrState, "PCR corrector state", "pcr_state", block::PcrState, 1, 0, kAll, U::Flags, "state", "State"},
    {F::PcrCorrectorOn, "PCR corrector on", {}, block::PcrState, 1, 0, 1, U::Flag, "corrector_on", "PCR Corrector"},
    {F::PcrDirectRestamping, "direct PCR restamping", {}, block::PcrState, 1, 4, 1, U::Flag, "direct_restamping",
     "Direct PCR Restamping"},
    {F::TestPid, "test PCR PID", "test_pid", block::TestPid, 2, 0, 0x1FFF, U::Number, "test_pid", "Test PID"},
    {F::MpxVersion, "MPX version", "mpx_version", block::MpxVersion, 1, 0, kAll, U::Number, "mpx_version",
     "Xilinx (MPX) version"},
    {F::SppVersion, "SPP version", "spp_version", block::SppVersion, 1, 0, kAll, U::Number, "spp_version",
     "Xilinx (SPP) version"},
    {F::Model, "model", "model", block::Model, 1, 0, kAll, U::Number, "model", "Model"},
    {F::InputWord, "input", "input input_word", block::InputStatus, 4, 0, kAll, U::Flags, {}, {}, 6, 4},
    {F::InputPackets, "input packets", "input_packets", block::InputStatus, 4, 0, 0xFFFFF, U::PacketsPerSec,
     "packets_per_sec", "Input Packets", 6, 4},
    {F::InputRate, "input data rate", "input_rate", block::InputStatus, 4, 0, kAll, U::Kbps, "rate_kbps", "Data Rate",
     6, 4, true},
    {F::InputFormat188, "188-byte input packets", "input_size", block::InputStatus, 4, 23, 1, U::Flag, "format",
     "Format", 6, 4},
    {F::InputOverflow, "input overflow", "input_overflow", block::InputStatus, 4, 22, 1, U::Flag, "overflow",
     "Overflow", 6, 4},
    {F::InputSyncErrors, "input sync errors", "input_sync", block::InputStatus, 4, 24, 0xFF, U::Number, "sync_errors",
     "Syncron Error", 6, 4},
    {F::SdramInputRate, "SDRAM input rate", "sdram_input", block::SdramInput, 3, 0, 0xFFFFF, U::PacketsPerSec,
     "input_packets_per_sec", "SDRAM Input"},
    {F::SdramWord, "SDRAM word", "sdram_word", block::SdramWord, 3, 0, kAll, U::Flags, {}, {}},
    // The low 16 bits of the SDRAM word: its last two bytes.
    {F::SdramUsage, "SDRAM usage", "sdram_usage", block::SdramWord + 1, 2, 0, 0xFFFF, U::Packets, "usage_packets",
     "SDRAM Usage"},
    {F::SdramOverflow, "SDRAM overflow", "sdram_overflow", block::SdramWord, 3, 22, 1, U::Flag, "overflow", "Overflow"},
    {F::PcrPause, "PCR pause", "pcr_pause", block::SdramWord, 3, 21, 1, U::Flag, "pause", "PCR Pause"},
    {F::NullPacketRate, "null packet rate", "null_rate", block::NullRate, 3, 0, 0xFFFFF, U::PacketsPerSec,
     "null_packets_per_sec", "Output Null Packets"},
    {F::InsertedPacketRate, "inserted packet rate", "inserted_rate", block::InsertedRate, 3, 0, 0xFFFFF,
     U::PacketsPerSec, "inserted_packets_per_sec", "Inserted Packets"},
    {F::PcrDiscontinuity, "PCR discontinuities", "pcr_discont", block::PcrDiscont, 1, 0, kAll, U::Number,
     "discontinuity_counter", "PCR Discont. counter"},
    {F::PcrPidCount, "PCR PIDs", "pcr_pids", block::PcrPidCount, 2, 0, 0x1FFF, U::Number, "pcr_pid_count",
     "Number of PCRPIDs"},
    {F::PcrBaseError, "PCR base error", "pcr_base_error", block::PcrBaseError, 2, 0, kAll, U::Ticks90kHz, "base_error",
     "PCR Base Error"},
    {F::PcrSlideWord, "PCR slide word", "pcr_slide", block::PcrSlide, 2, 0, kAll, U::Number, {}, {}},
    // The slide is the word less 32768.
    {F::PcrSlide, "PCR slide", "pcr_slide_value", block::PcrSlide, 2, 0, kAll, U::Number, "slide", "Slide", 1, 0, true},
    {F::LargePcrErrors, "large PCR errors", "large_pcr", block::LargePcrErrors, 1, 0, kAll, U::Number, {}, {}},
    {F::NewPcrPidCount, "new PCR PIDs", "new_pcr_pids", block::NewPcrPids, 1, 0, kAll, U::Number, {}, {}},
    {F::Sector, "sector", "sector", block::Sectors, 5, 0, kAll, U::Bytes, {}, {}, 12, 5, true},
    {F::SectorEnable, "sector enabled", "sector_enabled", block::Sectors, 1, 7, 1, U::Flag, {}, {}, 12, 5},
    {F::SectorStartHigh, "sector start, bit 16", {}, block::Sectors, 1, 1, 1, U::Flag, {}, {}, 12, 5},
    {F::SectorEndHigh, "sector end, bit 16", {}, block::Sectors, 1, 0, 1, U::Flag, {}, {}, 12, 5},
    {F::SectorStart, "sector start", "sector_start", block::Sectors + 1, 2, 0, kAll, U::Number, {}, {}, 12, 5},
    {F::SectorEnd, "sector end", "sector_end", block::Sectors + 3, 2, 0, kAll, U::Number, {}, {}, 12, 5},
    {F::Readback, "read-back data", "readback", block::Readback, 256, 0, kAll, U::Bytes, {}, {}},
}};

constexpr bool inOrder() {
  for (std::size_t i = 0; i < kFields.size(); ++i)
    if (static_cast<std::size_t>(kFields[i].id) != i) return false;
  return true;
}
static_assert(inOrder(), "the field table follows the order of StatusField");

}  // namespace

const std::array<StatusFieldInfo, kStatusFieldCount>& statusFields() { return kFields; }

const StatusFieldInfo& statusField(StatusField f) { return kFields[static_cast<std::size_t>(f)]; }

std::uint32_t fieldOf(StatusField f, std::uint32_t value) {
  const StatusFieldInfo& i = statusField(f);
  return (value >> i.shift) & i.mask;
}

std::uint32_t readStatusField(const ReceiveBuffer& buffer, std::size_t base, StatusField f, int n) {
  const StatusFieldInfo& i = statusField(f);
  const std::size_t at = base + static_cast<std::size_t>(fieldOffset(f, n));
  std::uint32_t v = 0;
  for (int k = 0; k < i.length && k < 4; ++k) v = (v << 8) | buffer.at(at + static_cast<std::size_t>(k));
  return fieldOf(f, v);
}

InputStatusWord inputStatusWord(std::uint32_t word) {
  InputStatusWord w;
  w.packetsPerSec = fieldOf(StatusField::InputPackets, word);
  w.format188 = fieldOf(StatusField::InputFormat188, word) != 0;
  w.overflow = fieldOf(StatusField::InputOverflow, word) != 0;
  w.syncErrors = fieldOf(StatusField::InputSyncErrors, word);
  return w;
}

std::int32_t InputStatusWord::rateKbps() const {
  const std::int64_t bits = format188 ? 1504 : 1632;
  return static_cast<std::int32_t>(static_cast<std::int64_t>(packetsPerSec) * bits / 1000);
}

}  // namespace tessaly
