#pragma once
// The status block's fields, declared once: where each sits in the 1024-byte block
// (offset from AnswerBase, length in bytes, big-endian), how its value is cut from
// those bytes (shift, then mask), its unit, and the names it goes by: in the traffic
// decode, in the Wireshark dissector, in `query --json` and in the status report.
// The decoder, the report, the JSON and the traffic decode take their offsets, masks
// and names from here; the input status word is taken apart here alone.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/ReceiveBuffer.h"

namespace tessaly {

enum class FieldUnit : std::uint8_t {
  Number,         // a count or a code
  Flags,          // a mask of bits, one per unit or per flag
  Flag,           // one bit
  Hz,
  Kbps,
  PacketsPerSec,
  Packets,
  Ticks90kHz,     // 1/90 ms
  Text,           // 8-bit characters
  Bytes,          // a run of bytes shown as they are
};

enum class StatusField : std::uint8_t {
  Block, Presence, DeviceCode, UserText, DeviceType, Serial,
  AddressByte, SdiAddress, AddressJumper, InstructionCounter,
  Version, VersionMajor, VersionMinor,
  ChannelEnable, DataValidEnable, NullFilterEnable, TspFilterEnable,
  OutputFormat, OutputFormat188, ClockSelect, IicError, Nco, PDiv, PllWord, PllFrequency,
  PidFilterState, PidFlashBusy, IntRError, ReadbackKind, LedFlags,
  PsiInserterState, PsiFlashBusy, PcrState, PcrCorrectorOn, PcrDirectRestamping, TestPid,
  MpxVersion, SppVersion, Model,
  InputWord, InputPackets, InputRate, InputFormat188, InputOverflow, InputSyncErrors,
  SdramInputRate, SdramWord, SdramUsage, SdramOverflow, PcrPause, NullPacketRate, InsertedPacketRate,
  PcrDiscontinuity, PcrPidCount, PcrBaseError, PcrSlideWord, PcrSlide, LargePcrErrors, NewPcrPidCount,
  Sector, SectorEnable, SectorStartHigh, SectorEndHigh, SectorStart, SectorEnd,
  Readback,
  Count_
};

struct StatusFieldInfo {
  StatusField id;
  std::string_view name;       // the traffic decode's name
  std::string_view dissector;  // the dissector's field names over these bytes, space-separated
  int offset;                  // from AnswerBase: the first entry's
  int length;                  // bytes read
  int shift = 0;               // the value: (bytes >> shift) & mask
  std::uint32_t mask = 0xFFFFFFFFu;
  FieldUnit unit = FieldUnit::Number;
  std::string_view jsonKey;    // in `query --json` (within its group); empty when not there
  std::string_view label;      // in the status texts (report, figures), before ": "; empty when none
  int count = 1;               // entries (inputs 1..6, sectors 1..12)
  int stride = 0;              // bytes from one entry to the next
  bool computed = false;       // worked out from the bytes it covers, not cut from them
};

constexpr std::size_t kStatusFieldCount = static_cast<std::size_t>(StatusField::Count_);
const std::array<StatusFieldInfo, kStatusFieldCount>& statusFields();
const StatusFieldInfo& statusField(StatusField f);

// Entry n (1-based) of a field read from the block at `base` of the buffer. Only for
// fields of 1..4 bytes that are not computed.
std::uint32_t readStatusField(const ReceiveBuffer& buffer, std::size_t base, StatusField f, int n = 1);
// A field cut from the value of the field it lies in, already read (a bit of a mask,
// a part of the input status word): (value >> shift) & mask.
std::uint32_t fieldOf(StatusField f, std::uint32_t value);
// The byte offset from AnswerBase of entry n (1-based).
inline int fieldOffset(StatusField f, int n = 1) {
  const StatusFieldInfo& i = statusField(f);
  return i.offset + (n - 1) * i.stride;
}

// One input's status word, taken apart.
struct InputStatusWord {
  std::uint32_t packetsPerSec = 0;  // bits 0..19
  bool format188 = false;           // bit 23: 188-byte packets, else 204
  bool overflow = false;            // bit 22
  std::uint32_t syncErrors = 0;     // bits 24..31
  // The data rate in kbps: packets times 1504 bits (188 bytes) or 1632 (204), per 1000.
  std::int32_t rateKbps() const;
};
InputStatusWord inputStatusWord(std::uint32_t word);

}  // namespace tessaly
