#include <gtest/gtest.h>

#include "link/LinkSettings.h"
#include "text/Numbers.h"

using namespace tessaly;

TEST(NumberReader, AcceptedAndRejectedTexts) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"0", 0},
      {"56789", 56789},
      {"  42", 42},
      {"+7", 7},
      {"-5", -5},
      {"$10", 16},
      {"$1f", 31},
      {"0x1F", 31},
      {"0XdDd5", 56789},
      {"$DDD5", 56789},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$000000010", 16},  // leading zeros do not count against the eight digits
      {"$100000000", std::nullopt},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"-", std::nullopt},
      {"abc", std::nullopt},
      {"A5", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"1.5", std::nullopt},
      {"x1F", std::nullopt},
      {"01F", std::nullopt},
      {"--1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(readInt32(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberReader, FallbackAndClamp) {
  struct Case {
    const char* text;
    std::int32_t fallback, lo, hi, expected;
  } cases[] = {
      {"abc", 1000, 0, 8191, 1000}, {"", 10, 0, 16777215, 10}, {"9000", 0, 0, 8191, 8191},
      {"-5", 0, 0, 8191, 0},        {"70000", 58100, 0, 65535, 65535}, {"$FFFFFFFF", 0, 0, 8191, 0},
      {"99999999", 3000000, 120, 40500000, 40500000},
  };
  for (const auto& c : cases) EXPECT_EQ(readClamped(c.text, c.fallback, c.lo, c.hi), c.expected) << c.text;
  EXPECT_EQ(clampInt(INT64_MAX, -3, 3), 3);
  EXPECT_EQ(clampInt(INT64_MIN, -3, 3), -3);
}

TEST(ChangeIp, SplitsOnlyWellFormedTexts) {
  struct Case {
    const char* text;
    bool passes;
    const char* base;
    int ext;
  } cases[] = {
      {"10.123.13.7", true, "10.123.13.", 7},
      {"10.123.13.$1F", true, "10.123.13.", 31},
      {"10.123.13.010", true, "10.123.13.", 10},
      {"a.bc.defg.5", true, "a.bc.defg.", 5},
      {"10.123.13.255", true, "10.123.13.", 255},
      {"10.123.13.0", true, "10.123.13.", 0},
      {"10.123.13.", false, "", 0},
      {"1.2.3.4", false, "", 0},
      {"1.2.3.45", false, "", 0},
      {"1.2.34.5", true, "1.2.34.", 5},
      {"10.123.13.256", false, "", 0},
      {"10.123.13.-1", false, "", 0},
      {"10.123.13.x", false, "", 0},
      {"10.123.13", false, "", 0},
      {"1.2.3.4.5", false, "", 0},
      {"12.4.6", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& c : cases) {
    auto got = splitChangeIp(c.text);
    ASSERT_EQ(got.has_value(), c.passes) << c.text;
    if (got) {
      EXPECT_EQ(got->base, c.base) << c.text;
      EXPECT_EQ(got->extension, c.ext) << c.text;
    }
  }
  EXPECT_EQ(deviceIp("10.123.13.", 101), "10.123.13.101");
}
