#pragma once
// Helpers for the emulator tests: talk to the model as the panel does and decode
// what comes back with the panel's own decoder.
#include <cstdint>
#include <vector>

#include "link/Framing.h"
#include "instructions/GeneralInstructions.h"
#include "link/ReceiveBuffer.h"
#include "model/Emulator.h"
#include "status/Decode.h"
#include "status/DeviceStatus.h"

namespace tessaly::emu::test {

inline EmulatorOptions seeded(std::uint64_t seed = 7) {
  EmulatorOptions o;
  o.seed = seed;
  return o;
}

// The status answer for a read in `framing`, decoded with AnswerBase 8 or 25.
// Fails the test (and gives a default record) when the answer is not a status answer.
inline tZODADevice decodeAnswer(const Bytes& answer) {
  tZODADevice d;
  const auto base = classifyStatusAnswer(answer);
  EXPECT_TRUE(base.has_value()) << "not a status answer, " << answer.size() << " bytes";
  if (!base) return d;
  ReceiveBuffer buffer;
  buffer.store(answer.data(), answer.size());
  d.AnswerBase = *base;
  DecodeStatus(d, buffer);
  return d;
}

inline Bytes readAnswer(Emulator& emu, Framing framing, std::uint8_t address, std::int64_t now) {
  const auto answers = emu.receive(encodeReadDatagram(framing, address), now);
  EXPECT_EQ(answers.size(), 1u);
  return answers.empty() ? Bytes{} : answers.front().data;
}

inline tZODADevice query(Emulator& emu, Framing framing, std::int64_t now, std::uint8_t address = 1) {
  return decodeAnswer(readAnswer(emu, framing, address, now));
}

// Sends a page instruction; gives the answers (the interrupt notice when executed).
inline std::vector<Answer> load(Emulator& emu, const LabelledInstruction& in, Framing framing, std::int64_t now,
                                std::uint8_t address = 1) {
  return emu.receive(in.datagram(framing, address), now);
}

inline const char* framingName(Framing f) { return f == Framing::DDToIP ? "DDToIP" : "CW-Net"; }

}  // namespace tessaly::emu::test
