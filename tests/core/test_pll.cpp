#include <gtest/gtest.h>

#include "clock/Pll.h"
#include "status/Decode.h"

using namespace tessaly;

TEST(PllSearch, ThreeMegahertzWorkedExample) {
  PllSettings s = searchPll(3000000);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.PDiv, 34);
  EXPECT_EQ(s.M, 9);
  EXPECT_EQ(s.N, 34);
  EXPECT_EQ(s.P, 3);
  EXPECT_EQ(s.Q, 30);
  EXPECT_EQ(s.R, 2);
  EXPECT_EQ(s.VcoRange, 0);
  EXPECT_EQ(s.VcoFrequency, 102000000);
  EXPECT_EQ(s.OutputFrequency, 3000000);
  EXPECT_EQ(s.Error, 0.0);
  EXPECT_EQ(pllWord(s), 0x022013CCu);
  EXPECT_EQ(setPllData(s), (Bytes{0x28, 0x01, 0x00, 0x22, 0x02, 0x20, 0x13, 0xCC}));
  EXPECT_EQ(pllReportLines(3000000, s),
            (std::vector<std::string>{" N = 34", " M = 9", " P = 34", "Output Frequency: 3000000 Hz", "Error: 0 Hz",
                                      "Programming parameters:", " PDiv = 34", " N = 34  P = 3  Q = 30",
                                      " R = 2  VCO = 0", "SETPLL instruction data:", " h0022 h022013CC"}));
  // The decoder recovers the same frequency from what would be sent.
  EXPECT_EQ(PllFrequencyFromWord(s.PDiv, pllWord(s)), 3000000);
}

TEST(PllSearch, FirstExactPairWinsAndLowestFrequency) {
  PllSettings s = searchPll(27000000);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.PDiv, 4);
  EXPECT_EQ(s.M, 1);
  EXPECT_EQ(s.N, 4);
  EXPECT_EQ(s.VcoFrequency, 108000000);

  PllSettings low = searchPll(97753);
  ASSERT_TRUE(low.found);
  EXPECT_EQ(low.PDiv, 1023);
  EXPECT_GT(low.VcoFrequency, 100000000);
  EXPECT_LT(low.VcoFrequency, 101000000);
}

TEST(PllSearch, RoundTripAndInvariantsAcrossTheRange) {
  for (std::int32_t f : {97753, 100000, 1234567, 3000000, 6543210, 13500000, 27000000, 38000000, 40500000}) {
    PllSettings s = searchPll(f);
    ASSERT_TRUE(s.found) << f;
    EXPECT_GE(s.N, s.M);
    EXPECT_GT(s.VcoFrequency, 100000000);
    EXPECT_LT(s.VcoFrequency, 200000000);
    EXPECT_EQ(s.R, (s.N << s.P) - s.M * s.Q) << f;
    EXPECT_GE(s.R, 0);
    EXPECT_LT(s.R, s.M);
    EXPECT_LE(s.Q, 63) << f;  // fits its six bits
    EXPECT_EQ(PllFrequencyFromWord(s.PDiv, pllWord(s)), s.OutputFrequency) << f;
    const int vcoBand = s.VcoFrequency < 125000000 ? 0 : s.VcoFrequency < 150000000 ? 1 : s.VcoFrequency < 175000000 ? 2 : 3;
    EXPECT_EQ(s.VcoRange, vcoBand);
  }
}

TEST(PllSearch, NothingFitsBelowTheRange) {
  PllSettings s = searchPll(1000);
  EXPECT_FALSE(s.found);
  EXPECT_EQ(pllReportLines(1000, s), (std::vector<std::string>{" PLL Error: This PLL frequency can not be set!"}));
}
