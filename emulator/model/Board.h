#pragma once
// The remultiplexer board on the SDI: executes the instructions of an SDI message,
// keeps the result, and writes its 1024-byte status block. The same board also
// answers the messages sent straight to the device (four units, status request,
// read-back requests) with its 1046-byte status and 297-byte read-back answers.
//
// The status block and the device answers are laid out as protocol/Protocol.h says
// (block::, device::); beyond what the panel decodes the block carries the user
// text, the PSI inserter priority of unit 1 (1 = high), the frequency of the clock
// driving the output (Hz) and the output packets per second.
//
// Live figures are worked out from the configuration and the time: the enabled
// inputs carry test streams, the output carries the SDRAM's packets, the PSI
// inserter's packets and null packets at the output clock's rate, the SDRAM fills
// when the inputs bring more than the output takes. Noise comes from the seed, so
// two boards with the same seed and the same history give the same figures.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "text/Bytes.h"
#include "model/BoardState.h"
#include "model/Message.h"
#include "protocol/Protocol.h"

namespace tessaly::emu {

// What the board reports at a moment, besides its configuration.
struct LiveFigures {
  std::array<std::uint32_t, kInputs> inputWords{};
  std::uint32_t sdramInput = 0;
  std::uint32_t sdramWord = 0;  // bit 22 overflow, bit 21 PCR pause, bits 0..15 packets held
  std::uint32_t nullRate = 0;
  std::uint32_t insertedRate = 0;
  std::uint8_t leds = 0x80;     // bit 0 input overflow, 1 SDRAM overflow, 2 PSI overflow, 3 stream, 7 power
  std::uint32_t outputClockHz = 0;
  std::uint32_t outputPps = 0;
  std::uint16_t pcrPidCount = 0;
  std::uint16_t pcrBaseError = 0;  // bits 0..14 ticks, bit 15 gradient up
  std::int32_t pcrSlide = 0;
};

class Board {
 public:
  Board(const BoardState& initial, std::int64_t eraseMs, std::uint64_t seed);

  const BoardState& state() const { return s_; }
  bool present() const { return s_.present; }
  std::uint8_t address() const { return s_.address; }

  // SDI addresses other boards on the same bus hold (bit N for address N): a
  // SETADDRESS onto one of them is refused, as a wrong address would be.
  void setAddressesHeldElsewhere(std::uint16_t mask) { heldElsewhere_ = mask; }

  // Moves the live figures on to nowMs (never backwards).
  void advance(std::int64_t nowMs);

  // Executes a well-formed SDI message. A malformed one executes nothing, counts
  // once in the "Int. R. Er." byte and gives false.
  bool executeSdiMessage(const std::uint8_t* data, std::size_t size, std::int64_t nowMs);

  // Executes a message sent straight to the device; gives its answers in order:
  // one 1046-byte status answer per status request, one 297-byte answer per
  // read-back request. The answers carry the request's label.
  std::vector<Bytes> executeDeviceMessage(const MessageView& message, std::int64_t nowMs);

  // The 1024-byte status block written at out[base..base+1024) (out must hold it).
  void writeStatusBlock(Bytes& out, std::size_t base, std::int64_t nowMs);
  Bytes statusBlock(std::int64_t nowMs);

  LiveFigures figures(std::int64_t nowMs) const;
  bool pidFilterBusy(int unit, std::int64_t nowMs) const;  // unit 1..4
  bool psiInserterBusy(int unit, std::int64_t nowMs) const;

 private:
  enum class Outcome { Executed, Rejected, Busy };
  Outcome execute(const InstructionView& in, std::int64_t nowMs, std::vector<Bytes>* answers,
                  std::string_view label);
  Outcome executeOperation(const InstructionView& in, std::int64_t nowMs, std::vector<Bytes>* answers,
                           std::string_view label);
  void count(Outcome o);
  void reset();
  void updatePcrPids();
  Bytes deviceStatusAnswer(std::string_view label, std::int64_t nowMs);
  Bytes readbackAnswer(std::string_view label, std::uint8_t kind, int unit, std::uint16_t input,
                       std::uint32_t start, const std::array<std::uint8_t, 256>& data);
  std::array<std::uint8_t, 256> pidReadback(int unit, std::uint16_t input, std::uint16_t startPid) const;
  std::array<std::uint8_t, 256> psiReadback(int unit, std::uint32_t address) const;

  struct Flows;
  Flows flows(std::int64_t second, bool jitter) const;
  const Flows& nominalFlows() const;  // flows(0, false), kept until the configuration changes
  std::uint64_t noise(std::uint64_t a, std::uint64_t b) const;

  BoardState s_;
  BoardState initial_;  // the power-on state a reset returns to
  std::int64_t eraseMs_;
  std::uint64_t seed_;
  mutable std::shared_ptr<const Flows> nominal_;
  std::uint16_t heldElsewhere_ = 0;
};

}  // namespace tessaly::emu
