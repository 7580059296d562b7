// The command-line value readers of tessaly-emulator.
#include <gtest/gtest.h>

#include "model/Options.h"

using namespace tessaly::emu;

TEST(EmulatorOptions, ListenAddress) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } cases[] = {
      {"127.0.0.1:56789", true, "127.0.0.1", 56789}, {"0.0.0.0:0", true, "0.0.0.0", 0},
      {"127.0.0.1:65535", true, "127.0.0.1", 65535}, {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1", false, "", 0},                   {":56789", false, "", 0},
      {"127.0.0:1", false, "", 0},                   {"127.0.0.256:1", false, "", 0},
      {"localhost:1", false, "", 0},                 {"127.0.0.1:-1", false, "", 0},
      {"127..0.1:1", false, "", 0},                  {"127.0.0.1:", false, "", 0},
  };
  for (const auto& c : cases) {
    const auto v = parseListen(c.text);
    EXPECT_EQ(v.has_value(), c.ok) << c.text;
    if (v && c.ok) {
      EXPECT_EQ(v->host, c.host);
      EXPECT_EQ(v->port, c.port);
    }
  }
}

TEST(EmulatorOptions, NumbersProbabilitiesDelaysAndCodes) {
  EXPECT_EQ(parseProbability("0"), 0.0);
  EXPECT_EQ(parseProbability("1"), 1.0);
  EXPECT_EQ(parseProbability("0.25"), 0.25);
  for (const char* bad : {"", "-0.1", "1.01", "nan", "inf", "0.5x", "x"}) EXPECT_FALSE(parseProbability(bad)) << bad;

  using Range = std::pair<std::int64_t, std::int64_t>;
  EXPECT_EQ(parseDelay("0"), Range(0, 0));
  EXPECT_EQ(parseDelay("5-20"), Range(5, 20));
  for (const char* bad : {"", "-5", "20-5", "5-", "a", "5-20-30", "600001"}) EXPECT_FALSE(parseDelay(bad)) << bad;

  EXPECT_EQ(parseHexByte("1A"), 0x1A);
  EXPECT_EQ(parseHexByte("0x1b"), 0x1B);
  EXPECT_EQ(parseHexByte("$ff"), 0xFF);
  EXPECT_EQ(parseHexByte("7"), 0x07);
  for (const char* bad : {"", "0x", "100", "G1", "$"}) EXPECT_FALSE(parseHexByte(bad)) << bad;

  EXPECT_EQ(parseCount("15", 1, 15), 15);
  for (const char* bad : {"0", "16", "", "1.5", "-1", "99999999999999999999999"})
    EXPECT_FALSE(parseCount(bad, 1, 15)) << bad;
  using Addresses = std::vector<std::uint8_t>;
  EXPECT_EQ(parseSdiAddresses("4"), Addresses{4});
  EXPECT_EQ(parseSdiAddresses("1,3,5-7"), (Addresses{1, 3, 5, 6, 7}));
  EXPECT_EQ(parseSdiAddresses("15,2"), (Addresses{15, 2}));
  EXPECT_EQ(parseSdiAddresses("1-15").value_or(Addresses{}).size(), 15u);
  for (const char* bad : {"", "0", "16", "1,", ",1", "1,,2", "3-1", "1-", "-2", "1-16", "1,1", "1-3,2", "a", "1 ,2"})
    EXPECT_FALSE(parseSdiAddresses(bad)) << bad;

  EXPECT_EQ(parseSeed("18446744073709551615"), UINT64_MAX);
  EXPECT_FALSE(parseSeed("18446744073709551616"));
}
