#pragma once
// The manufacturer test's messages: plain DDToIP messages sent straight to the
// controller at the device IP (no forwarding command, no CW-Net form), and the
// normalising of the test's inputs.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/Bytes.h"

namespace tessaly {

extern const std::string_view kMfgAckLabel;    // "Quillmarsh  ACK"
extern const std::string_view kMfgEraseLabel;  // "Quillmarsh  EPF"

// Raw texts and check states of the test's inputs.
struct MfgInputTexts {
  std::string testPort = "58100";
  std::array<bool, 3> additionalPidOn{true, true, true};
  std::array<std::string, 3> additionalPid{"150", "151", "160"};
  bool multicastOn = true;
  std::array<std::string, 4> multicast{"239", "123", "13", "100"};
};

// Normalised inputs, held for the whole run.
struct MfgInputs {
  std::int32_t testPort = 58100;
  std::array<bool, 3> additionalPidOn{true, true, true};  // PMT, video, audio
  std::array<std::int32_t, 3> additionalPid{150, 151, 160};
  bool multicastOn = true;
  std::array<std::uint8_t, 4> multicast{239, 123, 13, 100};
};

struct NormalisedMfgInputs {
  MfgInputs values;
  // Texts to write back, in the order the edits are normalised.
  std::string testPortText;
  std::array<std::string, 3> additionalPidText;
  std::array<std::string, 4> multicastText;
};

// 58100 when it does not read; 0..65535.
std::int32_t normaliseTestPort(std::string_view text);
NormalisedMfgInputs normaliseMfgInputs(const MfgInputTexts& texts);

Bytes mfgConfigurationMessage(const MfgInputs& in);
Bytes mfgEraseMessage();
Bytes mfgErasePollMessage();
Bytes mfgProgrammingMessage(const MfgInputs& in);
// unit 1..4
Bytes mfgPidReadBackRequest(int unit, std::int32_t testPort);
Bytes mfgPsiReadBackRequest(int unit);
Bytes mfgPcrCorrectorMessage(bool on);

}  // namespace tessaly
