#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/PageEdits.h"

using namespace tessaly;

// Each numeric edit of the pages: what a text reads as (fallback, range or width).
// The page writes the decimal of that number back into the edit.
TEST(PageEdits, NumericEditsReadWithFallbackAndRange) {
  using Reader = std::function<std::int64_t(std::string_view)>;
  const Reader serial = [](std::string_view t) { return edits::serial(t); };
  const Reader type = [](std::string_view t) { return edits::type(t); };
  const Reader nco = [](std::string_view t) { return edits::ncoHz(t); };
  const Reader pll = [](std::string_view t) { return edits::pllHz(t); };
  const Reader filterPid = [](std::string_view t) { return edits::pid(t, 0); };
  const Reader testPid = [](std::string_view t) { return edits::pid(t, 1000); };
  const Reader address = [](std::string_view t) { return edits::bufferAddress(t); };
  const Reader timer = [](std::string_view t) { return edits::psiTimer(t); };
  const Reader fix = [](std::string_view t) { return edits::fixByte(t); };
  struct Case {
    const char* edit;
    const Reader& read;
    const char* text;
    std::int64_t value;
  } cases[] = {
      {"serial", serial, "$10", 16},
      {"serial", serial, "56765", 56765},
      {"serial", serial, "2147483648", 0},  // decimal beyond 2^31-1 does not read
      {"serial", serial, "$FFFFFFFF", 4294967295},
      {"serial", serial, "-1", 4294967295},
      {"serial", serial, "abc", 0},
      {"type", type, "4852", 4852},
      {"type", type, "70000", 4464},
      {"type", type, "-1", 65535},
      {"type", type, "", 0},
      {"nco", nco, "abc", 3000000},
      {"nco", nco, "50", 120},
      {"nco", nco, "99999999", 40500000},
      {"nco", nco, "1000", 1000},
      {"nco", nco, "", 3000000},
      {"nco", nco, "-5", 120},
      {"nco", nco, "40500000", 40500000},
      {"nco", nco, "$FFFFFFFF", 120},
      {"pll", pll, "abc", 3000000},
      {"pll", pll, "50", 97753},
      {"pll", pll, "99999999", 40500000},
      {"pll", pll, "1000", 97753},
      {"pll", pll, "", 3000000},
      {"pll", pll, "-5", 97753},
      {"pll", pll, "97753", 97753},
      {"pll", pll, "40500000", 40500000},
      {"pll", pll, "$FFFFFFFF", 97753},
      {"filter PID", filterPid, "500", 500},
      {"filter PID", filterPid, "9000", 8191},
      {"filter PID", filterPid, "-5", 0},
      {"filter PID", filterPid, "abc", 0},
      {"filter PID", filterPid, "$10", 16},
      {"filter PID", filterPid, "99999", 8191},
      {"test PID", testPid, "8191", 8191},
      {"test PID", testPid, "10000", 8191},
      {"test PID", testPid, "", 1000},
      {"test PID", testPid, "-4", 0},
      {"address", address, "4096", 4096},
      {"address", address, "131072", 131071},
      {"address", address, "x", 0},
      {"address", address, "-3", 0},
      {"address", address, "$1FFFF", 131071},
      {"address", address, "70000", 70000},
      {"timer", timer, "", 10},
      {"timer", timer, "99999999", 16777215},
      {"timer", timer, "-1", 0},
      {"fix", fix, "", 15},
      {"fix", fix, "300", 44},
      {"fix", fix, "-1", 255},
      {"fix", fix, "$1FF", 255},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read(c.text), c.value) << c.edit << " '" << c.text << "'";
}

TEST(PageEdits, RadioGroupItems) {
  struct Case {
    int item;
    int packetSize;
    PsiPacketType packetType;
  } cases[] = {{0, 188, PsiPacketType::Ascending},
               {1, 204, PsiPacketType::Descending},
               {2, 204, PsiPacketType::Fix},
               {-1, 204, PsiPacketType::Ascending}};  // nothing chosen
  for (const auto& c : cases) {
    EXPECT_EQ(edits::packetSize(c.item), c.packetSize) << c.item;
    EXPECT_EQ(edits::psiPacketType(c.item), c.packetType) << c.item;
  }
}

// The export's PSI flash edit: "" and "none" read as no ranges, a text that does not
// read is refused (no fallback), each range within the flash, ascending, apart.
TEST(PageEdits, FlashRangesReadOrAreRefused) {
  using Ranges = std::vector<std::pair<std::int32_t, std::int32_t>>;
  struct Case {
    const char* text;
    std::optional<Ranges> ranges;  // nullopt: refused
  } cases[] = {
      {"", Ranges{}},
      {" none ", Ranges{}},
      {"0-4095,8192-8447", Ranges{{0, 4095}, {8192, 8447}}},
      {"7", Ranges{{7, 7}}},
      {" 0 - 3 , 10 ", Ranges{{0, 3}, {10, 10}}},
      {"0-131071", Ranges{{0, 131071}}},
      {"0-131072", std::nullopt},
      {"5-4", std::nullopt},
      {"0-10,10-20", std::nullopt},  // overlapping at one address
      {"8-9,0-1", std::nullopt},     // descending
      {"0-", std::nullopt},
      {"-5", std::nullopt},
      {"1,,2", std::nullopt},
      {"$10", std::nullopt},
      {"1-2-3", std::nullopt},
      {"99999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto got = edits::flashRanges(c.text, why);
    ASSERT_EQ(got.has_value(), c.ranges.has_value()) << "'" << c.text << "' " << why;
    if (!got) {
      EXPECT_FALSE(why.empty()) << c.text;
      continue;
    }
    Ranges pairs;
    for (const auto& r : *got) pairs.emplace_back(r.first, r.last);
    EXPECT_EQ(pairs, *c.ranges) << "'" << c.text << "'";
  }
}
