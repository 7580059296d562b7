#include "model/Emulator.h"

#include <algorithm>
#include <cstring>

#include "link/Framing.h"
#include "model/Message.h"

namespace tessaly::emu {

namespace {

std::uint64_t chooseSeed(const EmulatorOptions& o) {
  if (o.seed) return *o.seed;
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

BoardState initialBoard(const EmulatorOptions& o, std::uint8_t address, std::uint32_t index) {
  BoardState s;
  s.present = !o.noDevice;
  s.address = static_cast<std::uint8_t>(std::clamp<int>(address, 1, 15));
  s.deviceCode = o.deviceCode;
  s.serial += index;
  return s;
}

bool validAddress(std::uint8_t a) { return a >= 1 && a <= 15; }

std::vector<Board> initialBoards(const EmulatorOptions& o, std::uint64_t seed) {
  std::vector<std::uint8_t> addresses = o.sdiAddresses;
  if (addresses.empty()) addresses.push_back(o.sdiAddress);
  std::vector<Board> boards;
  std::uint16_t held = 0;
  for (std::uint8_t a : addresses) {
    const auto bit = static_cast<std::uint16_t>(1u << std::clamp<int>(a, 1, 15));
    if (held & bit) continue;  // one board per address
    held |= bit;
    const auto i = static_cast<std::uint32_t>(boards.size());
    boards.emplace_back(initialBoard(o, a, i), o.eraseMs, seed ^ 0x5EEDB0A2D5EEDULL ^ (i * 0x9E3779B97F4A7C15ULL));
  }
  return boards;
}

}  // namespace

Emulator::Emulator(const EmulatorOptions& options)
    : options_(options),
      seed_(chooseSeed(options)),
      boards_(initialBoards(options, seed_)),
      rng_(seed_) {}

std::vector<Answer> Emulator::receive(const Bytes& datagram, std::int64_t nowMs) {
  return receive(datagram.data(), datagram.size(), nowMs);
}

std::vector<Answer> Emulator::receive(const std::uint8_t* data, std::size_t size, std::int64_t nowMs) {
  ++stats_.received;
  // Milliseconds of a steady clock: never negative, and far from overflowing when
  // an erase time is added.
  nowMs = std::clamp<std::int64_t>(nowMs, 0, std::int64_t{1} << 52);
  for (Board& b : boards_) b.advance(nowMs);
  std::vector<Raw> raw;
  if (data != nullptr) controller(data, size, nowMs, raw);
  if (raw.empty()) ++stats_.ignored;

  std::vector<Answer> out;
  for (Raw& r : raw) {
    if (options_.drop > 0 && uniform() < options_.drop) {
      ++stats_.dropped;
      continue;
    }
    const bool twice = options_.duplicate > 0 && uniform() < options_.duplicate;
    const bool damaged = options_.corrupt > 0 && uniform() < options_.corrupt;
    if (damaged) {
      corrupt(r.data);
      ++stats_.corrupted;
    }
    std::int64_t delay = r.delayMs + options_.delayMinMs;
    if (options_.delayMaxMs > options_.delayMinMs)
      delay += static_cast<std::int64_t>(rng_() % static_cast<std::uint64_t>(options_.delayMaxMs - options_.delayMinMs + 1));
    if (twice) {
      out.push_back({r.data, delay, damaged, false});
      ++stats_.duplicated;
      out.push_back({std::move(r.data), delay + 1, damaged, true});
    } else {
      out.push_back({std::move(r.data), delay, damaged, false});
    }
  }
  stats_.answers += out.size();
  return out;
}

double Emulator::uniform() { return static_cast<double>(rng_() >> 11) * 0x1.0p-53; }

void Emulator::corrupt(Bytes& data) {
  // A flipped bit, a cut-off end or trailing garbage, as a bad line would do.
  switch (rng_() % 3) {
    case 0:
      if (!data.empty()) data[rng_() % data.size()] ^= static_cast<std::uint8_t>(1u << (rng_() % 8));
      break;
    case 1:
      if (data.size() > 1) data.resize(1 + rng_() % (data.size() - 1));
      break;
    default: {
      const std::size_t n = 1 + rng_() % 8;
      for (std::size_t i = 0; i < n; ++i) data.push_back(static_cast<std::uint8_t>(rng_()));
      break;
    }
  }
}

Board* Emulator::boardAt(std::uint8_t address) {
  for (Board& b : boards_)
    if (b.present() && b.address() == address) return &b;
  return nullptr;
}

void Emulator::prepare(Board& board) {
  std::uint16_t held = 0;
  for (const Board& b : boards_)
    if (&b != &board && b.present()) held |= static_cast<std::uint16_t>(1u << (b.address() & 0x0F));
  board.setAddressesHeldElsewhere(held);
}

Bytes Emulator::readBlock(std::uint8_t address, std::int64_t nowMs) {
  // No board at that address: the controller reads an empty bus.
  Board* b = boardAt(address);
  if (b == nullptr) return Bytes(kStatusBlockSize, 0);
  return b->statusBlock(nowMs);
}

bool Emulator::forward(std::uint8_t address, const std::uint8_t* sdi, std::size_t size, std::int64_t nowMs) {
  Board* b = boardAt(address);
  if (b == nullptr) return false;
  prepare(*b);
  return b->executeSdiMessage(sdi, size, nowMs);
}

void Emulator::controller(const std::uint8_t* d, std::size_t size, std::int64_t nowMs, std::vector<Raw>& out) {
  if (size >= kCwNetHead && std::memcmp(d, "CW-Net", 6) == 0) {
    const std::uint8_t code = d[kCwNetAnswerCodeAt], address = d[kCwNetAddressAt];
    if (!validAddress(address)) return;
    if (code == kCwNetReadCode) {
      if (size != kCwNetHead || std::memcmp(d + 8, "Read Data ", 10) != 0) return;
      Bytes answer;
      answer.reserve(kCwNetStatusAnswer);
      append(answer, "CW-Net");
      answer.push_back(kCwNetReadCode);
      answer.push_back(address);
      append(answer, readBlock(address, nowMs));
      out.push_back({std::move(answer), 0});
    } else if (code == kCwNetLoadCode) {
      if (std::memcmp(d + 8, "SLoad Data", 10) != 0) return;
      if (!forward(address, d + kCwNetHead, size - kCwNetHead, nowMs)) return;
      Bytes notice;
      append(notice, "CW-Net");
      notice.push_back(kCwNetLoadCode);
      notice.push_back(address);
      append(notice, "IRQ Notice");
      out.push_back({std::move(notice), options_.irqMs});
    }
    return;
  }

  MessageView m;
  if (!parseMessage(d, size, m) || m.instructions.empty()) return;
  const InstructionView& first = m.instructions.front();
  if (first.code == kReadCommand || first.code == kForwardCommand) {
    // A controller command travels alone.
    if (m.instructions.size() != 1 || first.size < 1 || !validAddress(first.data[0])) return;
    const std::uint8_t address = first.data[0];
    if (first.code == kReadCommand) {
      if (first.size != 3 || be(first.data + 1, 2) != kStatusBlockSize) return;
      out.push_back({encodeSdiMessage(m.label, encodeInstruction(kStatusAnswerCode, readBlock(address, nowMs))), 0});
    } else {
      if (!forward(address, first.data + 1, first.size - 1, nowMs)) return;
      out.push_back({encodeSdiMessage(m.label, encodeInstruction(kNoticeCode, Bytes{address})), options_.irqMs});
    }
    return;
  }

  // Anything else is for the board's own port.
  Board& own = boards_.front();
  if (!own.present()) return;
  prepare(own);
  for (Bytes& a : own.executeDeviceMessage(m, nowMs)) out.push_back({std::move(a), 0});
}

}  // namespace tessaly::emu
