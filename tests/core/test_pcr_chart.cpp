// The chart's fixed rules: axis steps, the plotted value, and the poll answer check
// by received length.
#include <gtest/gtest.h>

#include <string>

#include "text/Bytes.h"
#include "status/PcrChart.h"

using namespace tessaly;

TEST(PcrChart, BottomAxisStepsOnlyAtTheirSamples) {
  const struct {
    std::int32_t sample;
    int max;
  } rows[] = {{1, 0},     {89, 0},    {90, 300},  {91, 0},    {289, 0},   {290, 600}, {590, 1800},
              {1789, 0},  {1790, 3600}, {1791, 0}, {3600, 0},  {0, 0},     {-90, 0}};
  for (const auto& r : rows) EXPECT_EQ(bottomAxisStepAt(r.sample), r.max) << r.sample;
}

TEST(PcrChart, ValueTruncatesTowardZero) {
  const struct {
    std::int32_t slide, value;
  } rows[] = {{-582, -2}, {290, 0}, {-290, 0}, {291, 1}, {-291, -1}, {581, 1}, {-300, -1},
              {0, 0},     {32767, 112}, {-32768, -112}};
  for (const auto& r : rows) EXPECT_EQ(chartValue(r.slide), r.value) << r.slide;
}

namespace {

Bytes answer(std::size_t length, std::size_t codeAt, std::uint8_t code, std::size_t base, std::uint8_t presence,
             std::uint8_t device) {
  Bytes b(length, 0);
  if (codeAt < length) b[codeAt] = code;
  if (base + 1 < length) {
    b[base] = presence;
    b[base + 1] = device;
  }
  return b;
}

}  // namespace

TEST(PcrChart, PollAnswerCheckedByLength) {
  const std::string unknown = "Unknown message received.";
  const std::string noDevice = "No device connected to the SDI.";
  const std::string noRemux = "There is no ASI Remultiplexer connected to the SDI.";
  const struct {
    const char* name;
    Bytes bytes;
    bool valid;
    int base;
    std::string message;
  } rows[] = {
      {"cw-net good", answer(1032, 6, 0x09, 8, 0x45, 0x1A), true, 8, ""},
      {"ddtoip good", answer(1049, 22, 0xF3, 25, 0x45, 0x1A), true, 25, ""},
      {"cw-net code", answer(1032, 6, 0xF3, 8, 0x45, 0x1A), false, 0, unknown},
      {"cw-net presence", answer(1032, 6, 0x09, 8, 0x44, 0x1A), false, 0, noDevice},
      {"cw-net device", answer(1032, 6, 0x09, 8, 0x45, 0x1B), false, 0, noRemux},
      {"ddtoip code", answer(1049, 22, 0x09, 25, 0x45, 0x1A), false, 0, unknown},
      {"ddtoip presence", answer(1049, 22, 0xF3, 25, 0x00, 0x1A), false, 0, noDevice},
      {"ddtoip device", answer(1049, 22, 0xF3, 25, 0x45, 0x00), false, 0, noRemux},
      // The first failed check decides.
      {"ddtoip all wrong", answer(1049, 22, 0x00, 25, 0x00, 0x00), false, 0, unknown},
      {"ddtoip presence and device", answer(1049, 22, 0xF3, 25, 0x00, 0x00), false, 0, noDevice},
      // A DDToIP body in a CW-Net length is judged as CW-Net (byte 6), and the other way round.
      {"ddtoip body, cw-net length", answer(1032, 22, 0xF3, 25, 0x45, 0x1A), false, 0, unknown},
      {"other length", answer(1046, 22, 0xF0, 25, 0x45, 0x1A), false, 0, unknown},
      {"one short", answer(1031, 6, 0x09, 8, 0x45, 0x1A), false, 0, unknown},
      {"one long", answer(1050, 22, 0xF3, 25, 0x45, 0x1A), false, 0, unknown},
      {"notice length", answer(27, 6, 0x09, 8, 0x45, 0x1A), false, 0, unknown},
  };
  for (const auto& r : rows) {
    const Bytes& b = r.bytes;
    const PollAnswerCheck c = checkPollAnswer(b.size(), [&b](std::size_t at) -> std::uint8_t {
      return at < b.size() ? b[at] : 0;
    });
    EXPECT_EQ(c.valid, r.valid) << r.name;
    EXPECT_EQ(c.answerBase, r.base) << r.name;
    EXPECT_EQ(std::string(c.message), r.message) << r.name;
  }
}
