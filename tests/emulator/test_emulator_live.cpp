// Live figures: rates, null packets, SDRAM fill and overflow, PSI insertion, the
// PCR corrector's figures, sync errors. They must fit together as on a real board.
#include <gtest/gtest.h>

#include <cstdlib>

#include "EmuTestSupport.h"
#include "instructions/PageInstructions.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;

namespace {

constexpr Framing kF = Framing::DDToIP;

std::uint32_t outputPps(Emulator& emu, std::int64_t now) {
  const Bytes a = readAnswer(emu, kF, 1, now);
  return (std::uint32_t{a[25 + 66]} << 24) | (a[25 + 67] << 16) | (a[25 + 68] << 8) | a[25 + 69];
}

void enableInputs(Emulator& emu, std::uint8_t mask, std::int64_t now, std::uint8_t nullMask = 0) {
  GeneralFilterBoxes b;
  for (int i = 0; i < 6; ++i) {
    b.enable[static_cast<std::size_t>(i)] = (mask >> i) & 1;
    b.nullPacket[static_cast<std::size_t>(i)] = (nullMask >> i) & 1;
  }
  ASSERT_EQ(load(emu, setGeneralFilterInstruction(b), kF, now).size(), 1u);
}

void setNco(Emulator& emu, std::int32_t hz, std::int64_t now) {
  StreamFormat f;
  f.ncoHz = hz;
  ASSERT_EQ(emu.receive(streamFormatMessage(f).datagram(kF, 1), now).size(), 1u);
}

}  // namespace

TEST(EmulatorLive, EnabledInputsCarryStreamsAndNullPacketsFillTheOutput) {
  Emulator emu(seeded());
  const tZODADevice d = query(emu, kF, 5000);
  // Power-on: inputs 1 (188-byte packets) and 2 (204-byte packets) carry streams.
  EXPECT_EQ(d.ChannelEnable, 0x03);
  EXPECT_NEAR(d.InputStatus[1] & 0xFFFFF, 2660, 10);
  EXPECT_TRUE(d.InputStatus[1] & (1u << 23));
  EXPECT_NEAR(d.InputStatus[2] & 0xFFFFF, 1838, 10);
  EXPECT_FALSE(d.InputStatus[2] & (1u << 23));
  for (int i = 3; i <= 6; ++i) EXPECT_EQ(d.InputStatus[i], 0u) << i;
  EXPECT_EQ(d.SdramUsage, 0);
  EXPECT_FALSE(d.SdramOverflow);
  // 3 MHz NCO, 188-byte output: 15957 packets a second, of which the stream takes its share.
  const std::uint32_t out = outputPps(emu, 5000);
  EXPECT_EQ(out, 15957u);
  EXPECT_NEAR(d.NullPacketRate + d.SdramInputRate + d.InsertedPacketRate, out, 2);
  EXPECT_EQ(d.LedFlags, 0x80 | 0x08);  // power and stream
}

TEST(EmulatorLive, RatesWanderSlightlyFromSecondToSecond) {
  Emulator emu(seeded());
  std::set<std::uint32_t> seen;
  for (int s = 1; s <= 10; ++s) {
    const tZODADevice d = query(emu, kF, s * 1000);
    seen.insert(d.InputStatus[1] & 0xFFFFF);
    EXPECT_NEAR(d.InputStatus[1] & 0xFFFFF, 2660, 10);
  }
  EXPECT_GT(seen.size(), 3u);
}

TEST(EmulatorLive, NullPacketFilterAndPidFilterReduceWhatReachesTheSdram) {
  Emulator emu(seeded());
  enableInputs(emu, 0x01, 0);
  const int all = query(emu, kF, 1000).SdramInputRate;
  EXPECT_NEAR(all, 2660, 10);
  enableInputs(emu, 0x01, 1000, 0x01);
  EXPECT_NEAR(query(emu, kF, 2000).SdramInputRate, 2660 * 0.9, 10);  // a tenth are null packets
  // With entries in the PID filter only the programmed PIDs pass: the video PID is 78 %.
  load(emu, writePidFilterInstruction(1, 151, 151), kF, 2000);
  EXPECT_NEAR(query(emu, kF, 3000).SdramInputRate, 2660 * 0.78, 10);
}

TEST(EmulatorLive, SdramFillsWhenInputsExceedTheOutputAndDrainsWhenTheClockRises) {
  Emulator emu(seeded());
  enableInputs(emu, 0x3F, 0);  // about 49,000 packets a second against 15,957 out
  tZODADevice d = query(emu, kF, 1000);
  EXPECT_GT(d.SdramUsage, 30000);
  EXPECT_LT(d.SdramUsage, 36000);
  EXPECT_TRUE(d.PcrPause == false);
  EXPECT_EQ(d.NullPacketRate, 0);

  d = query(emu, kF, 1600);
  EXPECT_TRUE(d.PcrPause);  // above three quarters
  EXPECT_FALSE(d.SdramOverflow);

  d = query(emu, kF, 3000);
  EXPECT_EQ(d.SdramUsage, 65535);
  EXPECT_TRUE(d.SdramOverflow);
  EXPECT_TRUE(d.PcrPause);
  EXPECT_EQ(d.LedFlags & 0x03, 0x03);  // input overflow and SDRAM overflow LEDs
  for (int i = 1; i <= 6; ++i) EXPECT_TRUE(d.InputStatus[i] & (1u << 22)) << i;

  setNco(emu, 27000000, 3000);  // 143,617 packets a second out
  d = query(emu, kF, 4000);
  EXPECT_FALSE(d.SdramOverflow);
  EXPECT_EQ(d.SdramUsage, 0);
  EXPECT_EQ(d.LedFlags & 0x03, 0);
  EXPECT_NEAR(d.NullPacketRate, outputPps(emu, 4000) - d.SdramInputRate, 2);
}

TEST(EmulatorLive, OutputFollowsThePllAndTheInputClocks) {
  Emulator emu(seeded());
  StreamFormat pll;
  pll.clockSource = clockSource::Pll;
  pll.packetSize = 204;
  pll.pllHz = 6000000;
  emu.receive(streamFormatMessage(pll).datagram(kF, 1), 0);
  EXPECT_EQ(outputPps(emu, 0), 29412u);  // 6 MHz / 204

  StreamFormat ts;
  ts.clockSource = clockSource::Input1;  // input 1's clock: 2660 packets of 188 bytes
  emu.receive(streamFormatMessage(ts).datagram(kF, 1), 0);
  EXPECT_NEAR(outputPps(emu, 0), 2660, 6);
  enableInputs(emu, 0x02, 0);  // input 1 off: no clock, nothing goes out
  EXPECT_EQ(outputPps(emu, 1000), 0u);
}

TEST(EmulatorLive, PsiInserterPacketsFollowTheRecordTimers) {
  Emulator emu(seeded());
  PsiWrite w;  // PID 1000, address 0, timer 10
  load(emu, writePsiInstruction(w), kF, 0);
  w.address = 1;
  w.timer = 40;
  load(emu, writePsiInstruction(w), kF, 0);
  tZODADevice d = query(emu, kF, 1000);
  EXPECT_EQ(d.InsertedPacketRate, 125);
  EXPECT_NEAR(d.NullPacketRate + d.SdramInputRate + d.InsertedPacketRate, outputPps(emu, 1000), 2);
  load(emu, erasePsiInstruction(), kF, 1000);
  EXPECT_EQ(query(emu, kF, 1000).InsertedPacketRate, 0);
}

TEST(EmulatorLive, PcrCorrectorFiguresMoveOnlyWhileItIsOn) {
  Emulator emu(seeded(11));
  enableInputs(emu, 0x07, 0);
  tZODADevice d = query(emu, kF, 30000);
  EXPECT_EQ(d.PcrSlide, 0);
  EXPECT_EQ(d.PcrPidCount, 0);

  load(emu, setPcrCorrectorInstruction(true, false), kF, 30000);
  d = query(emu, kF, 30000);
  EXPECT_EQ(d.PcrPidCount, 3);
  EXPECT_EQ(d.NewPcrPidCount, 3);
  std::set<int> slides;
  int maxStep = 0, previous = 0;
  for (int s = 31; s <= 150; ++s) {
    d = query(emu, kF, s * 1000);
    slides.insert(d.PcrSlide);
    maxStep = std::max(maxStep, std::abs(d.PcrSlide - previous));
    previous = d.PcrSlide;
    EXPECT_LT(std::abs(d.PcrSlide), 6000);
    EXPECT_EQ((d.PcrBaseError & 0x7FFF), std::abs(d.PcrSlide) / 4);
  }
  EXPECT_GT(slides.size(), 20u);   // it wanders
  EXPECT_LT(maxStep, 400);         // slowly
  enableInputs(emu, 0x0F, 150000);
  EXPECT_EQ(query(emu, kF, 150000).NewPcrPidCount, 4);

  load(emu, setPcrCorrectorInstruction(false, false), kF, 150000);
  d = query(emu, kF, 151000);
  EXPECT_EQ(d.PcrSlide, 0);
  EXPECT_EQ(d.PcrPidCount, 0);
}

TEST(EmulatorLive, SyncErrorsAppearNowAndThenOnEnabledInputsOnly) {
  Emulator emu(seeded(5));
  const tZODADevice d = query(emu, kF, 600000);  // ten minutes
  const int input1 = static_cast<int>(d.InputStatus[1] >> 24);
  const int input2 = static_cast<int>(d.InputStatus[2] >> 24);
  EXPECT_GT(input1, 10);  // about one in 23 s
  EXPECT_LT(input1, 50);
  EXPECT_GT(input2, 5);   // about one in 37 s
  EXPECT_LT(input2, 35);
  for (int i = 3; i <= 6; ++i) EXPECT_EQ(d.InputStatus[i] >> 24, 0u);
}
