#include "model/Board.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "link/Framing.h"
#include "model/BlockWriter.h"
#include "protocol/Protocol.h"
#include "status/Decode.h"

namespace tessaly::emu {

namespace {

// The test streams on the six inputs: packet size, packets per second, how often
// (on average, in seconds) the input loses sync, and the share of packets that
// carry a transport error.
struct InputStream {
  int packetSize;
  double pps;
  int syncPeriodS;
  double errorShare;
};
constexpr InputStream kStreams[kInputs] = {{188, 2660, 23, 0.0},   {204, 1838, 37, 0.0},
                                           {188, 10638, 11, 0.001}, {188, 3989, 53, 0.0},
                                           {204, 4902, 19, 0.0005}, {188, 24934, 29, 0.0}};

// Every test stream carries the same PIDs in the same shares (per mille).
struct StreamPid {
  std::uint16_t pid;
  int perMille;
};
constexpr StreamPid kStreamPids[] = {{0, 3}, {150, 3}, {151, 780}, {160, 90}, {500, 24}, {8191, 100}};
constexpr std::uint16_t kPcrPid = 151;
constexpr std::uint16_t kNullPid = 8191;

constexpr double kExternalClockHz = 6750000;
constexpr double kMaxClockHz = 27000000;  // an ASI line carries at most 27 MB/s
constexpr double kSdramCapacity = 65535;
constexpr int kPcrPauseLevel = 49152;     // the corrector pauses above three quarters full
constexpr int kLargePcrError = 1500;
constexpr std::int32_t kNcoMinHz = 120, kNcoMaxHz = 40500000;
constexpr std::size_t kMaxPsiPacket = 252;  // record = timer, auto-CC byte, packet: 256 bytes at most
constexpr std::int64_t kMaxCatchUpSeconds = 3600;

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::uint32_t pidKey(std::uint32_t input, std::uint32_t pid) { return (input << 13) | (pid & 0x1FFF); }

int lowestUnit(std::uint8_t mask) {
  for (int n = 0; n < kUnits; ++n)
    if (mask & (1u << n)) return n;
  return -1;
}

double recordDemand(const Bytes& record) {
  const std::uint32_t timer = record.size() >= 3 ? be(record.data(), 3) : 0;
  return timer ? 1000.0 / timer : 0.0;
}

}  // namespace

struct Board::Flows {
  std::array<double, kInputs> pps{};     // packets arriving at each enabled input
  std::array<double, kInputs> passed{};  // what the input filters and the PID filter let through
  std::array<bool, kInputs> pcr{};       // the PCR PID passes
  double inflow = 0;                     // into the SDRAM
  double clockHz = 0;
  double outPps = 0;
  double insertDemand = 0;
  double insertedHigh = 0;               // inserted packets when the inserter has priority
  double streamCap = 0;                  // output packets left for the stream
  bool highPriority = false;
};

Board::Board(const BoardState& initial, std::int64_t eraseMs, std::uint64_t seed)
    : s_(initial), initial_(initial), eraseMs_(eraseMs < 0 ? 0 : eraseMs), seed_(seed) {
  // The board is powered on at time 0 of the clock it is driven with.
  s_.live = LiveState{};
  s_.live.started = true;
}

std::uint64_t Board::noise(std::uint64_t a, std::uint64_t b) const {
  return mix(seed_ ^ mix(a * 0x100000001B3ULL + b));
}

bool Board::pidFilterBusy(int unit, std::int64_t nowMs) const {
  return unit >= 1 && unit <= kUnits && nowMs < s_.units[static_cast<std::size_t>(unit - 1)].pidEraseUntilMs;
}

bool Board::psiInserterBusy(int unit, std::int64_t nowMs) const {
  return unit >= 1 && unit <= kUnits && nowMs < s_.units[static_cast<std::size_t>(unit - 1)].psiEraseUntilMs;
}

// ---------------------------------------------------------------------------
// Live figures

Board::Flows Board::flows(std::int64_t second, bool jitter) const {
  Flows f;
  const UnitState& u = s_.units[0];
  for (int i = 0; i < kInputs; ++i) {
    if (!((s_.channelEnable >> i) & 1)) continue;
    const InputStream& st = kStreams[i];
    double pps = st.pps;
    if (jitter) pps *= 1.0 + (static_cast<double>(noise(10 + i, static_cast<std::uint64_t>(second)) % 2001) - 1000.0) / 500000.0;
    f.pps[i] = pps;
    // An input with entries in the PID filter passes only its enabled PIDs.
    const auto first = u.pidFilter.lower_bound(pidKey(static_cast<std::uint32_t>(i), 0));
    const bool filtered = first != u.pidFilter.end() && (first->first >> 13) == static_cast<std::uint32_t>(i);
    double share = 0;
    for (const StreamPid& sp : kStreamPids) {
      if (sp.pid == kNullPid && ((s_.nullFilter >> i) & 1)) continue;
      if (filtered) {
        const auto it = u.pidFilter.find(pidKey(static_cast<std::uint32_t>(i), sp.pid));
        if (it == u.pidFilter.end() || !(it->second & 0x8000)) continue;
      }
      share += sp.perMille / 1000.0;
      if (sp.pid == kPcrPid) f.pcr[i] = true;
    }
    if ((s_.tspFilter >> i) & 1) share *= 1.0 - st.errorShare;
    f.passed[i] = pps * share;
    f.inflow += f.passed[i];
  }

  const int select = u.format & 0x1F;
  double clock = 0;
  if (select == 1) {
    clock = PllFrequencyFromWord(u.pdiv, u.pllWord);
  } else if (select >= 2 && select <= 7) {
    const int k = select - 2;
    clock = f.pps[k] * kStreams[k].packetSize;  // a disabled input gives no clock
  } else if (select == 8) {
    clock = kExternalClockHz;
  } else {
    clock = u.ncoHz;
  }
  f.clockHz = std::clamp(clock, 0.0, kMaxClockHz);
  f.outPps = f.clockHz / ((u.format & 0x80) ? 188.0 : 204.0);
  f.insertDemand = u.psiInsertDemand;
  f.highPriority = (u.format & 0x20) != 0;
  f.insertedHigh = std::min(f.insertDemand, f.outPps);
  f.streamCap = f.highPriority ? f.outPps - f.insertedHigh : f.outPps;
  return f;
}

const Board::Flows& Board::nominalFlows() const {
  if (!nominal_) nominal_ = std::make_shared<const Flows>(flows(0, false));
  return *nominal_;
}

void Board::advance(std::int64_t nowMs) {
  nowMs = std::max<std::int64_t>(nowMs, 0);
  LiveState& L = s_.live;
  if (!L.started) {
    L.started = true;
    L.lastMs = nowMs;
    updatePcrPids();
    return;
  }
  if (nowMs <= L.lastMs) return;
  const Flows& f = nominalFlows();
  const double dt = static_cast<double>(nowMs - L.lastMs) / 1000.0;
  const double usage = L.sdramPackets + (f.inflow - f.streamCap) * dt;
  L.sdramPackets = std::clamp(usage, 0.0, kSdramCapacity);
  L.sdramDropping = L.sdramPackets >= kSdramCapacity && f.inflow > f.streamCap;

  // Events that happen once a second: lost sync, the corrector's slide.
  std::int64_t first = L.lastMs / 1000 + 1;
  const std::int64_t last = nowMs / 1000;
  if (last - first >= kMaxCatchUpSeconds) first = last - kMaxCatchUpSeconds + 1;
  const bool correctorOn = s_.pcrMode & 1;
  const bool paused = L.sdramPackets >= kPcrPauseLevel;
  for (std::int64_t sec = first; sec <= last; ++sec) {
    const auto us = static_cast<std::uint64_t>(sec);
    for (int i = 0; i < kInputs; ++i) {
      if (!((s_.channelEnable >> i) & 1)) continue;
      if (noise(20 + i, us) % static_cast<std::uint64_t>(kStreams[i].syncPeriodS) == 0) {
        ++L.syncErrors[static_cast<std::size_t>(i)];
        if (correctorOn && f.pcr[i]) ++L.pcrDiscontinuity;
      }
    }
    if (correctorOn && !paused) {
      const int step = static_cast<int>(noise(30, us) % 61) - 30;
      L.slide = std::clamp(L.slide + step * 8 - L.slide / 40, -32767, 32767);
      L.gradientUp = step > 0;
      if (std::abs(L.slide) > kLargePcrError) ++L.largePcrErrors;
    } else if (!correctorOn) {
      L.slide = 0;
      L.gradientUp = false;
    }
  }
  L.lastMs = nowMs;
  updatePcrPids();
}

void Board::updatePcrPids() {
  int count = 0;
  if (s_.pcrMode & 1) {
    const Flows& f = nominalFlows();
    for (int i = 0; i < kInputs; ++i)
      if (f.pcr[i]) ++count;
  }
  if (count > s_.live.pcrPidCount)
    s_.live.newPcrPids = static_cast<std::uint8_t>(s_.live.newPcrPids + (count - s_.live.pcrPidCount));
  s_.live.pcrPidCount = count;
}

LiveFigures Board::figures(std::int64_t nowMs) const {
  const LiveState& L = s_.live;
  const Flows f = flows(std::max<std::int64_t>(nowMs, 0) / 1000, true);
  LiveFigures g;
  const auto usage = static_cast<std::uint32_t>(L.sdramPackets);
  const double streamOut = (usage > 0 || f.inflow > f.streamCap) ? f.streamCap : f.inflow;
  const double inserted =
      f.highPriority ? f.insertedHigh : std::min(f.insertDemand, std::max(0.0, f.outPps - streamOut));
  const double nulls = std::max(0.0, f.outPps - streamOut - inserted);
  bool inputOverflow = false;
  for (int i = 0; i < kInputs; ++i) {
    if (!((s_.channelEnable >> i) & 1)) continue;
    std::uint32_t w = static_cast<std::uint32_t>(std::lround(f.pps[i])) & 0xFFFFF;
    if (kStreams[i].packetSize == 188) w |= 1u << 23;
    if (L.sdramDropping && f.passed[i] > 0) {
      w |= 1u << 22;
      inputOverflow = true;
    }
    w |= static_cast<std::uint32_t>(L.syncErrors[static_cast<std::size_t>(i)]) << 24;
    g.inputWords[static_cast<std::size_t>(i)] = w;
  }
  g.sdramInput = static_cast<std::uint32_t>(std::lround(f.inflow)) & 0xFFFFF;
  g.sdramWord = (usage & 0xFFFF) | (L.sdramDropping ? 1u << 22 : 0) | (usage >= kPcrPauseLevel ? 1u << 21 : 0);
  g.nullRate = static_cast<std::uint32_t>(std::lround(nulls)) & 0xFFFFF;
  g.insertedRate = static_cast<std::uint32_t>(std::lround(inserted)) & 0xFFFFF;
  g.leds = 0x80;
  if (inputOverflow) g.leds |= 0x01;
  if (L.sdramDropping) g.leds |= 0x02;
  if (f.insertDemand > inserted + 0.5) g.leds |= 0x04;
  if (streamOut > 0) g.leds |= 0x08;
  g.outputClockHz = static_cast<std::uint32_t>(f.clockHz);
  g.outputPps = static_cast<std::uint32_t>(std::lround(f.outPps));
  g.pcrPidCount = static_cast<std::uint16_t>(L.pcrPidCount);
  g.pcrSlide = L.slide;
  if (s_.pcrMode & 1)
    g.pcrBaseError = static_cast<std::uint16_t>(std::min(std::abs(L.slide) / 4, 0x7FFF) | (L.gradientUp ? 0x8000 : 0));
  return g;
}

// ---------------------------------------------------------------------------
// The status block

void Board::writeStatusBlock(Bytes& out, std::size_t base, std::int64_t nowMs) {
  if (out.size() < base + kStatusBlockSize) return;
  advance(nowMs);
  const LiveFigures g = figures(nowMs);
  const UnitState& u = s_.units[0];
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(base),
            out.begin() + static_cast<std::ptrdiff_t>(base + kStatusBlockSize), 0);
  BlockWriter w(out, base);
  w.put8(block::Presence, kDevicePresent);
  w.put8(block::DeviceCode, s_.deviceCode);
  w.putBytes(block::UserText, s_.userText.data(), s_.userText.size());
  w.put16(block::DeviceType, s_.type);
  w.put32(block::Serial, s_.serial);
  w.put8(block::Address, (s_.address & 0x0F) | (s_.jumper ? 0x10 : 0));
  w.put8(block::InstrCounter, s_.instructionCounter);
  w.put8(block::VersionMajor, s_.versionMajor);
  w.put8(block::VersionMinor, s_.versionMinor);
  w.put8(block::ChannelEnable, s_.channelEnable);
  w.put8(block::DataValid, s_.dataValid);
  w.put8(block::NullFilter, s_.nullFilter);
  w.put8(block::TspFilter, s_.tspFilter);
  w.put8(block::OutputFormat, (u.format & 0x80) | (u.format & 0x1F));
  w.put8(block::IicError, s_.iicError);
  w.put32(block::Nco, static_cast<std::uint32_t>(u.ncoHz));
  w.put16(block::PDiv, u.pdiv);
  w.put32(block::PllWord, u.pllWord);
  w.put8(block::PidFilterState, pidFilterBusy(1, nowMs) ? 0x01 : 0x00);
  w.put8(block::IntRError, s_.intRError);
  w.put8(block::ReadbackKind, s_.readbackKind);
  w.put8(block::Leds, g.leds);
  w.put8(block::PsiState, psiInserterBusy(1, nowMs) ? 0x01 : 0x00);
  w.put8(block::PcrState, s_.pcrMode & 0x11);
  w.put16(block::TestPid, u.testPid);
  w.put8(block::MpxVersion, s_.mpxVersion);
  w.put8(block::SppVersion, s_.sppVersion);
  w.put8(block::Model, s_.model);
  w.put8(block::PsiPriority, (u.format & 0x20) ? 1 : 0);
  w.put32(block::OutputClockHz, g.outputClockHz);
  w.put32(block::OutputPps, g.outputPps);
  for (int i = 0; i < kInputs; ++i)
    w.put32(static_cast<std::size_t>(block::InputStatus + 4 * i), g.inputWords[static_cast<std::size_t>(i)]);
  w.put24(block::SdramInput, g.sdramInput);
  w.put24(block::SdramWord, g.sdramWord);
  w.put24(block::NullRate, g.nullRate);
  w.put24(block::InsertedRate, g.insertedRate);
  w.put8(block::PcrDiscont, s_.live.pcrDiscontinuity);
  w.put16(block::PcrPidCount, g.pcrPidCount);
  w.put16(block::PcrBaseError, g.pcrBaseError);
  w.put16(block::PcrSlide, static_cast<std::uint32_t>(g.pcrSlide + 32768));
  w.put8(block::LargePcrErrors, s_.live.largePcrErrors);
  w.put8(block::NewPcrPids, s_.live.newPcrPids);
  for (int k = 0; k < kSectors; ++k) {
    const SectorState& sec = u.sectors[static_cast<std::size_t>(k)];
    const std::size_t at = static_cast<std::size_t>(block::Sectors + 5 * k);
    w.put8(at, (sec.enabled ? 0x80 : 0) | (((sec.start >> 16) & 1) << 1) | ((sec.end >> 16) & 1));
    w.put16(at + 1, sec.start & 0xFFFF);
    w.put16(at + 3, sec.end & 0xFFFF);
  }
  w.putBytes(block::Readback, s_.readback.data(), s_.readback.size());
}

Bytes Board::statusBlock(std::int64_t nowMs) {
  Bytes out(kStatusBlockSize, 0);
  writeStatusBlock(out, 0, nowMs);
  return out;
}

// ---------------------------------------------------------------------------
// Instructions

void Board::count(Outcome o) {
  if (o == Outcome::Executed) ++s_.instructionCounter;
  if (o == Outcome::Rejected) ++s_.intRError;
}

bool Board::executeSdiMessage(const std::uint8_t* data, std::size_t size, std::int64_t nowMs) {
  advance(nowMs);
  MessageView m;
  if (!parseMessage(data, size, m)) {
    ++s_.intRError;
    return false;
  }
  nominal_.reset();
  for (const InstructionView& in : m.instructions) execute(in, nowMs, nullptr, m.label);
  nominal_.reset();
  updatePcrPids();
  return true;
}

std::vector<Bytes> Board::executeDeviceMessage(const MessageView& message, std::int64_t nowMs) {
  advance(nowMs);
  std::vector<Bytes> answers;
  nominal_.reset();
  for (const InstructionView& in : message.instructions) {
    execute(in, nowMs, &answers, message.label);
    nominal_.reset();
  }
  updatePcrPids();
  return answers;
}

void Board::reset() {
  // Identity, address and the flash contents survive a reset; everything else
  // returns to its power-on value and the live figures start again.
  BoardState fresh = initial_;
  fresh.present = s_.present;
  fresh.address = s_.address;
  fresh.jumper = s_.jumper;
  fresh.deviceCode = s_.deviceCode;
  fresh.type = s_.type;
  fresh.serial = s_.serial;
  fresh.userText = s_.userText;
  for (std::size_t n = 0; n < kUnits; ++n) {
    UnitState& to = fresh.units[n];
    UnitState& from = s_.units[n];
    to.pidFilter = std::move(from.pidFilter);
    to.pidEraseUntilMs = from.pidEraseUntilMs;
    to.psiFlash = std::move(from.psiFlash);
    to.psiEraseUntilMs = from.psiEraseUntilMs;
    to.psiInsertDemand = from.psiInsertDemand;
  }
  fresh.live = LiveState{};
  fresh.live.started = true;
  fresh.live.lastMs = s_.live.lastMs;
  s_ = std::move(fresh);
}

Board::Outcome Board::execute(const InstructionView& in, std::int64_t nowMs, std::vector<Bytes>* answers,
                              std::string_view label) {
  Outcome o = Outcome::Rejected;
  switch (in.code) {
    case opcode::Reset:  // reset; its counter starts again from 0
      if (in.size != 2) break;
      reset();
      return Outcome::Executed;
    case opcode::SetSerial:
      if (in.size != 4) break;
      s_.serial = be(in.data, 4);
      o = Outcome::Executed;
      break;
    case opcode::SetType:
      if (in.size != 2) break;
      s_.type = static_cast<std::uint16_t>(be(in.data, 2));
      o = Outcome::Executed;
      break;
    case opcode::SetUserText:
      if (in.size != 15) break;
      std::copy(in.data, in.data + 15, s_.userText.begin());
      o = Outcome::Executed;
      break;
    case opcode::SetAddress:
      if (in.size != 1 || in.data[0] < 1 || in.data[0] > 15) break;
      if (heldElsewhere_ & (1u << in.data[0])) break;  // two boards on one address would collide on the bus
      s_.address = in.data[0];
      o = Outcome::Executed;
      break;
    case opcode::Nco: {
      if (in.size != 5 || in.data[0] < 1 || in.data[0] > kUnits) break;
      const auto hz = static_cast<std::int64_t>(be(in.data + 1, 4));
      if (hz < kNcoMinHz || hz > kNcoMaxHz) break;
      s_.units[static_cast<std::size_t>(in.data[0] - 1)].ncoHz = static_cast<std::int32_t>(hz);
      o = Outcome::Executed;
      break;
    }
    case opcode::StatusRequest:  // status request: only the device port answers it
      if (in.size != 1) break;
      if (answers) answers->push_back(deviceStatusAnswer(label, nowMs));
      o = Outcome::Executed;
      break;
    case opcode::Operation:
      o = executeOperation(in, nowMs, answers, label);
      break;
    default:
      break;
  }
  count(o);
  return o;
}

Board::Outcome Board::executeOperation(const InstructionView& in, std::int64_t nowMs, std::vector<Bytes>* answers,
                                       std::string_view label) {
  if (in.size < 1) return Outcome::Rejected;
  const std::uint8_t op = in.data[0];
  const std::uint8_t mask = in.at(1) & 0x0F;

  // Runs fn on every unit of the mask; executed when any unit took it.
  auto forUnits = [&](auto fn) {
    if (mask == 0) return Outcome::Rejected;
    bool executed = false, busy = false;
    for (std::size_t n = 0; n < kUnits; ++n) {
      if (!(mask & (1u << n))) continue;
      const Outcome r = fn(s_.units[n]);
      executed |= r == Outcome::Executed;
      busy |= r == Outcome::Busy;
    }
    return executed ? Outcome::Executed : busy ? Outcome::Busy : Outcome::Rejected;
  };

  switch (op) {
    case operationCode::GeneralFilter:  // general filter: enable, DV pin, null packet filter, TSP error filter masks
      if (in.size < 2 || in.size > 5) return Outcome::Rejected;
      s_.channelEnable = in.data[1] & 0x3F;
      if (in.size > 2) s_.dataValid = in.data[2] & 0x3F;
      if (in.size > 3) s_.nullFilter = in.data[3] & 0x3F;
      if (in.size > 4) s_.tspFilter = in.data[4] & 0x3F;
      return Outcome::Executed;
    case operationCode::PidWrite: {  // write PID filter entry: input field, PID, entry word
      if (in.size != 8) return Outcome::Rejected;
      const std::uint32_t input = be(in.data + 2, 2), pid = be(in.data + 4, 2);
      const auto word = static_cast<std::uint16_t>(be(in.data + 6, 2));
      if (pid > 8191) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        if (nowMs < u.pidEraseUntilMs) return Outcome::Busy;
        const std::uint32_t key = (input << 13) | pid;
        if (u.pidFilter.size() >= kPidFilterCapacity && !u.pidFilter.count(key)) return Outcome::Rejected;
        u.pidFilter[key] = word;
        return Outcome::Executed;
      });
    }
    case operationCode::PidErase:  // erase PID filter
      if (in.size != 2) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.pidFilter.clear();
        u.pidEraseUntilMs = nowMs + eraseMs_;
        return Outcome::Executed;
      });
    case operationCode::PidRead: {  // read PID filter: 128 entries from the start PID
      if (in.size != 6 || mask == 0) return Outcome::Rejected;
      const auto input = static_cast<std::uint16_t>(be(in.data + 2, 2));
      const auto start = static_cast<std::uint16_t>(be(in.data + 4, 2));
      if (start > 8191) return Outcome::Rejected;
      const int unit = lowestUnit(mask);
      const auto data = pidReadback(unit, input, start);
      if (answers) {
        answers->push_back(readbackAnswer(label, kReadbackPid, unit + 1, input, start, data));
      } else {
        s_.readbackKind = kReadbackPid;
        s_.readback = data;
      }
      return Outcome::Executed;
    }
    case operationCode::Sector: {  // sector: sector byte (bit 7 enable, low bits the sector), start, end
      if (in.size != 9) return Outcome::Rejected;
      const std::uint8_t sb = in.data[2];
      const std::size_t index = sb & 0x0F;
      const std::uint32_t start = be(in.data + 3, 3), end = be(in.data + 6, 3);
      if (index >= kSectors || start > 0x1FFFF || end > 0x1FFFF) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.sectors[index] = SectorState{(sb & 0x80) != 0, start, end};
        return Outcome::Executed;
      });
    }
    case operationCode::PsiWrite: {  // write PSI record: flash address, timer, auto-CC byte, packet
      if (in.size < 10 || in.size > 9 + kMaxPsiPacket) return Outcome::Rejected;
      const std::uint32_t address = be(in.data + 2, 3);
      if (address > 0x1FFFF) return Outcome::Rejected;
      Bytes record(in.data + 5, in.data + in.size);
      return forUnits([&](UnitState& u) {
        if (nowMs < u.psiEraseUntilMs) return Outcome::Busy;
        const auto it = u.psiFlash.find(address);
        if (it == u.psiFlash.end() && u.psiFlash.size() >= kPsiFlashCapacity) return Outcome::Rejected;
        if (it != u.psiFlash.end()) u.psiInsertDemand -= recordDemand(it->second);
        u.psiInsertDemand += recordDemand(record);
        u.psiFlash[address] = record;
        return Outcome::Executed;
      });
    }
    case operationCode::PsiErase:  // erase PSI flash
      if (in.size != 2) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.psiFlash.clear();
        u.psiInsertDemand = 0;
        u.psiEraseUntilMs = nowMs + eraseMs_;
        return Outcome::Executed;
      });
    case operationCode::PsiRead: {  // read PSI record at a flash address
      if (in.size != 5 || mask == 0) return Outcome::Rejected;
      const std::uint32_t address = be(in.data + 2, 3);
      if (address > 0x1FFFF) return Outcome::Rejected;
      const int unit = lowestUnit(mask);
      const auto data = psiReadback(unit, address);
      if (answers) {
        answers->push_back(readbackAnswer(label, kReadbackPsi, unit + 1, 0, address, data));
      } else {
        s_.readbackKind = kReadbackPsi;
        s_.readback = data;
      }
      return Outcome::Executed;
    }
    case operationCode::StreamFormat:  // stream format byte
      if (in.size != 3) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.format = in.data[2];
        return Outcome::Executed;
      });
    case operationCode::Pll:  // PLL: divider and programming word
      if (in.size != 8) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.pdiv = static_cast<std::uint16_t>(be(in.data + 2, 2) & 0x3FF);
        u.pllWord = be(in.data + 4, 4);
        return Outcome::Executed;
      });
    case operationCode::PcrMode:  // PCR corrector mode
      if (in.size != 2) return Outcome::Rejected;
      s_.pcrMode = in.data[1] & 0x1F;
      return Outcome::Executed;
    case operationCode::TestPid:  // test PCR PID
      if (in.size != 4) return Outcome::Rejected;
      return forUnits([&](UnitState& u) {
        u.testPid = static_cast<std::uint16_t>(be(in.data + 2, 2) & 0x1FFF);
        return Outcome::Executed;
      });
    case operationCode::StreamOn:  // test stream output on
      if (in.size != 1) return Outcome::Rejected;
      s_.streamStarted = true;
      return Outcome::Executed;
    case operationCode::StreamAddress:  // test stream address (16 bytes), two spare bytes, stream name (13 bytes)
      if (in.size != 33) return Outcome::Rejected;
      std::copy(in.data + 2, in.data + 18, s_.streamAddress.begin());
      std::copy(in.data + 20, in.data + 33, s_.streamName.begin());
      return Outcome::Executed;
    case operationCode::StreamJoin:  // join the test stream
      if (in.size != 1) return Outcome::Rejected;
      s_.streamJoined = true;
      return Outcome::Executed;
    case operationCode::StreamPort:  // test stream port
      if (in.size != 3) return Outcome::Rejected;
      s_.streamPort = static_cast<std::uint16_t>(be(in.data + 1, 2));
      return Outcome::Executed;
    default:
      return Outcome::Rejected;
  }
}

// ---------------------------------------------------------------------------
// Read-backs and device answers

std::array<std::uint8_t, 256> Board::pidReadback(int unit, std::uint16_t input, std::uint16_t startPid) const {
  std::array<std::uint8_t, 256> out{};
  const auto& filter = s_.units[static_cast<std::size_t>(unit)].pidFilter;
  for (std::size_t k = 0; k < 128; ++k) {
    const std::uint32_t pid = startPid + static_cast<std::uint32_t>(k);
    std::uint16_t word = 0xFFFF;
    if (pid <= 8191) {
      const auto it = filter.find(pidKey(input, pid));
      if (it != filter.end()) word = it->second;
    }
    out[2 * k] = static_cast<std::uint8_t>(word >> 8);
    out[2 * k + 1] = static_cast<std::uint8_t>(word & 0xFF);
  }
  return out;
}

std::array<std::uint8_t, 256> Board::psiReadback(int unit, std::uint32_t address) const {
  std::array<std::uint8_t, 256> out;
  out.fill(0xFF);  // erased flash
  const auto& flash = s_.units[static_cast<std::size_t>(unit)].psiFlash;
  const auto it = flash.find(address);
  if (it != flash.end()) std::copy_n(it->second.begin(), std::min<std::size_t>(it->second.size(), 256), out.begin());
  return out;
}

Bytes Board::readbackAnswer(std::string_view label, std::uint8_t kind, int unit, std::uint16_t input,
                            std::uint32_t start, const std::array<std::uint8_t, 256>& data) {
  Bytes out = encodeSdiMessage(label, encodeInstruction(device::ReadbackCode,
                                                        Bytes(device::ReadbackSize - kSdiHeadSize - kInstructionHeadSize, 0)));
  BlockWriter w(out, 0);
  w.put8(device::ReadKind, kind);
  w.put8(device::ReadUnit, static_cast<std::uint32_t>(unit));
  w.put16(device::ReadInput, input);
  w.put24(device::ReadStart, start);
  w.putBytes(device::ReadData, data.data(), data.size());
  return out;
}

Bytes Board::deviceStatusAnswer(std::string_view label, std::int64_t nowMs) {
  const LiveFigures g = figures(nowMs);
  Bytes out = encodeSdiMessage(label, encodeInstruction(device::StatusCode,
                                                        Bytes(device::StatusSize - kSdiHeadSize - kInstructionHeadSize, 0)));
  BlockWriter w(out, 0);
  w.put8(device::Presence, kDevicePresent);
  w.put8(device::DeviceCode, s_.deviceCode);
  w.put16(device::Type, s_.type);
  w.put32(device::Serial, s_.serial);
  w.put8(device::Address, (s_.address & 0x0F) | (s_.jumper ? 0x10 : 0));
  w.put8(device::InstrCounter, s_.instructionCounter);
  w.put8(device::VersionMajor, s_.versionMajor);
  w.put8(device::VersionMinor, s_.versionMinor);
  w.put8(device::MpxVersion, s_.mpxVersion);
  w.put8(device::SppVersion, s_.sppVersion);
  w.put8(device::Model, s_.model);
  w.put8(device::IntRError, s_.intRError);
  w.put8(device::IicError, s_.iicError);
  w.putBytes(device::StreamAddress, s_.streamAddress.data(), s_.streamAddress.size());
  w.put16(device::StreamPort, s_.streamPort);
  w.putBytes(device::StreamName, s_.streamName.data(), s_.streamName.size());
  w.put8(device::StreamFlags, (s_.streamStarted ? 1 : 0) | (s_.streamJoined ? 2 : 0));
  w.put8(device::ChannelEnable, s_.channelEnable);
  w.put8(device::DataValid, s_.dataValid);
  w.put8(device::NullFilter, s_.nullFilter);
  w.put8(device::TspFilter, s_.tspFilter);
  w.put8(device::PcrMode, s_.pcrMode);
  for (std::size_t i = 0; i < kInputs; ++i) w.put32(device::InputStatus + 4 * i, g.inputWords[i]);
  w.put24(device::SdramInput, g.sdramInput);
  w.put24(device::SdramWord, g.sdramWord);
  w.put24(device::NullRate, g.nullRate);
  w.put24(device::InsertedRate, g.insertedRate);
  std::uint8_t pidBusy = 0;
  for (std::size_t n = 0; n < kUnits; ++n) {
    const UnitState& u = s_.units[n];
    w.put32(device::Nco + device::NcoStride * n, static_cast<std::uint32_t>(u.ncoHz));
    w.put8(device::Format + n, u.format);
    w.put16(device::Pll + 6 * n, u.pdiv);
    w.put32(device::Pll + 6 * n + 2, u.pllWord);
    w.put16(device::TestPid + 2 * n, u.testPid);
    if (nowMs < u.pidEraseUntilMs) pidBusy |= static_cast<std::uint8_t>(1u << n);
    w.put16(device::PidEntries + 2 * n, static_cast<std::uint32_t>(u.pidFilter.size()));
    const std::size_t psi = device::PsiUnit + device::PsiUnitStride * n;
    w.put8(psi, nowMs < u.psiEraseUntilMs ? 0x01 : 0x00);
    w.put16(psi + 1, static_cast<std::uint32_t>(u.psiFlash.size()));
    w.put24(psi + 3, static_cast<std::uint32_t>(std::lround(std::min(u.psiInsertDemand, 1048575.0))));
    std::uint32_t sectors = 0;
    for (std::size_t k = 0; k < kSectors; ++k)
      if (u.sectors[k].enabled) sectors |= 1u << k;
    w.put16(psi + 6, sectors);
  }
  w.put8(device::PidEraseBits, pidBusy);
  return out;
}

}  // namespace tessaly::emu
