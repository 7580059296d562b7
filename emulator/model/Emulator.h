#pragma once
// The board emulator's model: the Ethernet controller, the remultiplexer board on
// its SDI and the board's direct (four-unit) port, without sockets or clocks.
//
//   Emulator emu(options);
//   for (const Answer& a : emu.receive(datagram, nowMs)) send a.data after a.delayMs;
//
// What the controller does with a datagram:
//   CW-Net read (0x09, 18 bytes)   -> 1032 bytes: "CW-Net", 0x09, the address, the status block.
//   CW-Net load (0x18)             -> the SDI message goes to the board at that address;
//                                     an 18-byte interrupt notice when it executed it.
//   DDToIP 0x86 (read 1024 bytes)  -> 1049 bytes, answer code 0xF3 at byte 22, block from byte 25.
//   DDToIP 0x85 (forward)          -> as the CW-Net load; a 26-byte interrupt notice.
//   other DDToIP messages          -> the board's direct port: a 1046-byte status answer (0xF0)
//                                     per status request, a 297-byte read-back answer (0xFE)
//                                     per read-back request, nothing else.
// A read for an address where no board answers gives a block whose presence byte
// is 0x00; a load or a direct message for a missing board gets no answer, and so
// does anything the controller cannot read.
//
// The SDI bus may hold several boards (options.sdiAddresses), each with its own
// state and a serial one above the previous board's. A SETADDRESS onto an address
// another board holds is refused (counted in that board's "Int. R. Er." byte), so
// no two boards ever share an address. The direct port is the first board's.
//
// Faults (drop, duplicate, corrupt, delay) are applied per answer, in that order,
// from one generator seeded by the options: the same seed and the same datagrams
// at the same times give the same answers, byte for byte.
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "text/Bytes.h"
#include "model/Board.h"
#include "model/Options.h"

namespace tessaly::emu {

struct Answer {
  Bytes data;
  std::int64_t delayMs = 0;  // send this long after the datagram arrived
  bool corrupted = false;    // damaged on purpose (--corrupt)
  bool copy = false;         // the second copy of a duplicated answer (--duplicate)
};

struct EmulatorStats {
  std::uint64_t received = 0;
  std::uint64_t ignored = 0;     // datagrams that got no answer at all
  std::uint64_t answers = 0;     // answers handed out, copies included
  std::uint64_t dropped = 0;
  std::uint64_t duplicated = 0;
  std::uint64_t corrupted = 0;
};

class Emulator {
 public:
  explicit Emulator(const EmulatorOptions& options = {});

  // One received datagram at nowMs (milliseconds on any steady clock; never
  // earlier than the previous call's): the answers to send, each with its delay.
  std::vector<Answer> receive(const Bytes& datagram, std::int64_t nowMs);
  std::vector<Answer> receive(const std::uint8_t* data, std::size_t size, std::int64_t nowMs);

  // The (first) board as it stands (for tests and the verbose trace).
  const BoardState& board() const { return boards_.front().state(); }
  Board& boardModel() { return boards_.front(); }
  // Every board on the bus, in the order of the options.
  const std::vector<Board>& boards() const { return boards_; }
  const EmulatorOptions& options() const { return options_; }
  std::uint64_t seed() const { return seed_; }
  const EmulatorStats& stats() const { return stats_; }

 private:
  struct Raw {
    Bytes data;
    std::int64_t delayMs;
  };
  void controller(const std::uint8_t* data, std::size_t size, std::int64_t nowMs, std::vector<Raw>& out);
  bool forward(std::uint8_t address, const std::uint8_t* sdi, std::size_t size, std::int64_t nowMs);
  Bytes readBlock(std::uint8_t address, std::int64_t nowMs);
  Board* boardAt(std::uint8_t address);
  void prepare(Board& board);  // tells it the addresses the others hold
  double uniform();
  void corrupt(Bytes& data);

  EmulatorOptions options_;
  std::uint64_t seed_;
  std::vector<Board> boards_;
  std::mt19937_64 rng_;
  EmulatorStats stats_;
};

}  // namespace tessaly::emu
