#include <gtest/gtest.h>

#include <sstream>

#include "mfgtest/MfgMessages.h"

using namespace tessaly;

namespace {

Bytes hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string tok;
  while (in >> tok) out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
  return out;
}

Bytes message(const char* label, std::initializer_list<Bytes> packets) {
  Bytes out = bytesOf("DDToIP");
  append(out, label);
  out.push_back(0x01);
  for (const auto& p : packets) append(out, p);
  return out;
}

MfgInputs defaults() { return normaliseMfgInputs(MfgInputTexts{}).values; }

const char* kAck = "Quillmarsh  ACK";

Bytes configurationHead() {
  return hex(
      "40 00 05 01 00 1E 84 80  40 00 05 02 00 1E 84 80  40 00 05 03 00 1E 84 80  40 00 05 04 00 1E 84 80"
      " E0 00 03 27 0F 80  E0 00 03 15 DE A8  E0 00 02 10 02  E0 00 01 01"
      " E0 00 09 20 0F 20 00 00 00 00 00 00  E0 00 09 20 0F 21 00 00 00 00 00 00"
      " E0 00 09 20 0F 22 00 00 00 00 00 00  E0 00 09 20 0F 23 00 00 00 00 00 00"
      " E0 00 02 30 00");
}

}  // namespace

TEST(MfgMessages, NormalisingInputs) {
  struct Case {
    MfgInputTexts in;
    const char* tp;
    std::array<const char*, 3> ap;
    std::array<const char*, 4> mip;
  } cases[] = {
      {{}, "58100", {"150", "151", "160"}, {"239", "123", "13", "100"}},
      {{"70000", {true, false, true}, {"1", "9000", "abc"}, true, {"300", "x", "-1", "$FF"}},
       "65535", {"2", "8191", "160"}, {"44", "123", "255", "255"}},
      {{"-1", {true, true, true}, {"", "$10", "2"}, false, {"", "", "", ""}},
       "0", {"150", "16", "2"}, {"239", "123", "13", "100"}},
      {{"abc", {true, true, true}, {"abc", "abc", "abc"}, true, {"0", "256", "1", "2"}},
       "58100", {"150", "151", "160"}, {"0", "0", "1", "2"}},
  };
  for (const auto& c : cases) {
    NormalisedMfgInputs n = normaliseMfgInputs(c.in);
    EXPECT_EQ(n.testPortText, c.tp);
    EXPECT_EQ(n.values.testPort, std::stoi(c.tp));
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(n.additionalPidText[i], c.ap[i]);
      EXPECT_EQ(n.values.additionalPid[i], std::stoi(c.ap[i]));
    }
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(n.multicastText[i], c.mip[i]);
      EXPECT_EQ(n.values.multicast[i], std::stoi(c.mip[i]));
    }
  }
}

TEST(MfgMessages, ConfigurationWithAndWithoutMulticast) {
  MfgInputs in = defaults();
  Bytes withMip = message(
      kAck, {configurationHead(), hex("E0 00 04 31 0F 00 97"),
             hex("E0 00 21 02 01 00 00 00 00 00 00 00 00 00 00 00 00 EF 7B 0D 64 00 00"), bytesOf("Test Stream  "),
             hex("E0 00 01 03"), hex("03 00 01 01")});
  EXPECT_EQ(mfgConfigurationMessage(in), withMip);

  in.multicastOn = false;
  in.additionalPidOn = {false, false, false};  // the test PCR PID is sent whatever the box shows
  in.additionalPid[1] = 8191;
  Bytes without = message(kAck, {configurationHead(), hex("E0 00 04 31 0F 1F FF"), hex("03 00 01 01")});
  EXPECT_EQ(mfgConfigurationMessage(in), without);

  NormalisedMfgInputs octet = normaliseMfgInputs({"1", {true, true, true}, {"1", "2", "3"}, true, {"300", "0", "0", "1"}});
  Bytes m = mfgConfigurationMessage(octet.values);
  // the four octets sit after E0 00 21 02 01 and twelve zero bytes
  const std::size_t at = 22 + configurationHead().size() + 7 + 5 + 12;
  EXPECT_EQ(Bytes(m.begin() + at, m.begin() + at + 4), hex("2C 00 00 01"));
}

TEST(MfgMessages, EraseAndPoll) {
  EXPECT_EQ(mfgEraseMessage(), message("Quillmarsh  EPF", {hex("E0 00 02 12 0F E0 00 02 22 0F")}));
  EXPECT_EQ(mfgErasePollMessage(), message(kAck, {hex("03 00 01 01")}));
}

TEST(MfgMessages, ProgrammingByCheckedBoxes) {
  Bytes psi = hex("E0 00 C5 21 0F 00 00 00 00 00 0A 01 47 01 AC 10");
  for (int k = 0; k < 184; ++k) psi.push_back(static_cast<std::uint8_t>(k));
  const Bytes tail = hex("E0 00 09 20 0F E0 00 00 00 00 00 00 03 00 01 01");

  MfgInputs none = defaults();
  none.additionalPidOn = {false, false, false};
  EXPECT_EQ(mfgProgrammingMessage(none), message(kAck, {hex("E0 00 08 11 0F E2 F4 00 00 C0 00"), psi, tail}));

  MfgInputs all = defaults();
  EXPECT_EQ(mfgProgrammingMessage(all),
            message(kAck, {hex("E0 00 08 11 0F E2 F4 00 00 C0 00"), hex("E0 00 08 11 0F E2 F4 00 96 C0 96"),
                           hex("E0 00 08 11 0F E2 F4 00 97 C0 97"), hex("E0 00 08 11 0F E2 F4 00 A0 C0 A0"), psi,
                           tail}));

  MfgInputs videoOnly = defaults();
  videoOnly.additionalPidOn = {false, true, false};
  videoOnly.testPort = 65535;
  videoOnly.additionalPid[1] = 8191;
  EXPECT_EQ(mfgProgrammingMessage(videoOnly),
            message(kAck, {hex("E0 00 08 11 0F FF FF 00 00 C0 00"), hex("E0 00 08 11 0F FF FF 1F FF DF FF"), psi,
                           tail}));
  EXPECT_EQ(psi.size(), 3u + 0xC5);
  EXPECT_EQ(psi.back(), 0xB7);
}

TEST(MfgMessages, ReadBackRequestsAndPcr) {
  struct Case {
    int unit;
    const char* pid;
    const char* psi;
  } cases[] = {{1, "E0 00 06 14 01 E2 F4 00 00", "E0 00 05 25 01 00 00 00"},
               {2, "E0 00 06 14 02 E2 F4 00 00", "E0 00 05 25 02 00 00 00"},
               {3, "E0 00 06 14 04 E2 F4 00 00", "E0 00 05 25 04 00 00 00"},
               {4, "E0 00 06 14 08 E2 F4 00 00", "E0 00 05 25 08 00 00 00"}};
  for (const auto& c : cases) {
    EXPECT_EQ(mfgPidReadBackRequest(c.unit, 58100), message(kAck, {hex(c.pid)}));
    EXPECT_EQ(mfgPsiReadBackRequest(c.unit), message(kAck, {hex(c.psi)}));
  }
  EXPECT_EQ(mfgPcrCorrectorMessage(true), message(kAck, {hex("E0 00 02 30 0F 03 00 01 01")}));
  EXPECT_EQ(mfgPcrCorrectorMessage(false), message(kAck, {hex("E0 00 02 30 00 03 00 01 01")}));
}
