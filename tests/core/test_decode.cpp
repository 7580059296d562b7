#include <gtest/gtest.h>

#include "link/Framing.h"
#include "status/Decode.h"

using namespace tessaly;

namespace {

// A status block writer for tests: big-endian puts at block offsets.
struct Block {
  Bytes b = Bytes(block::Size, 0);
  Block() {
    b[0] = 0x45;
    b[1] = 0x1A;
  }
  void put(int offset, std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i, v >>= 8) b[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(v);
  }
};

Bytes cwNetAnswer(const Block& blk) {
  Bytes a = bytesOf("CW-Net");
  a.push_back(0x09);
  a.push_back(0x01);
  append(a, blk.b);
  return a;
}

Bytes ddtoipAnswer(const Block& blk) {
  Bytes a = bytesOf("DDToIPQuillmarsh  SDI");
  a.push_back(0x01);
  a.push_back(0xF3);
  a.push_back(0x04);
  a.push_back(0x01);
  append(a, blk.b);
  return a;
}

tZODADevice decode(const Bytes& answer, int base, tZODADevice d = {}) {
  ReceiveBuffer buf;
  buf.store(answer.data(), answer.size());
  d.AnswerBase = base;
  DecodeStatus(d, buf);
  return d;
}

tZODADevice decodeBlock(const Block& blk) { return decode(cwNetAnswer(blk), 8); }

}  // namespace

TEST(DeviceRecord, FreshRecord) {
  tZODADevice d;
  EXPECT_EQ(d.VersionText, "0.00");
  EXPECT_EQ(d.ChannelEnable, 0);
  EXPECT_EQ(d.ReadbackKind, 0);
  EXPECT_EQ(d.SampleCount, 0);
  for (auto v : d.ReadbackData) EXPECT_EQ(v, 0);
  for (auto v : d.InputStatus) EXPECT_EQ(v, 0u);
}

TEST(Decode, BothFramingsDecodeTheSameRecord) {
  Block blk;
  for (std::size_t i = 2; i < blk.b.size(); ++i) blk.b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  tZODADevice a = decode(cwNetAnswer(blk), 8);
  tZODADevice b = decode(ddtoipAnswer(blk), 25);
  ASSERT_EQ(cwNetAnswer(blk).size(), 1032u);
  ASSERT_EQ(ddtoipAnswer(blk).size(), 1049u);
  b.AnswerBase = a.AnswerBase;
  EXPECT_EQ(a.SerialNumber, b.SerialNumber);
  EXPECT_EQ(a.InputStatus, b.InputStatus);
  EXPECT_EQ(a.SectorEnd, b.SectorEnd);
  EXPECT_EQ(a.ReadbackData, b.ReadbackData);
  EXPECT_EQ(a.PcrSlide, b.PcrSlide);
  EXPECT_EQ(a.VersionText, b.VersionText);
  EXPECT_EQ(a.PllFrequency, b.PllFrequency);
}

TEST(Decode, FieldsAndMasks) {
  Block blk;
  blk.put(block::DeviceType, 4852, 2);
  blk.put(block::Serial, 0xFFFFFFFF, 4);
  blk.put(block::Address, 0x13, 1);
  blk.put(block::InstrCounter, 200, 1);
  blk.put(block::VersionMajor, 2, 1);
  blk.put(block::VersionMinor, 7, 1);
  blk.put(block::OutputFormat, 0x81, 1);
  blk.put(block::Nco, 3000000, 4);
  blk.put(block::PDiv, 0xFC22, 2);  // only bits 0..9 kept
  blk.put(block::TestPid, 0xFFFF, 2);
  blk.put(block::PcrPidCount, 0xE001, 2);
  blk.put(block::SdramInput, 0xFFFFFF, 3);
  blk.put(block::PcrBaseError, 0x802D, 2);
  blk.put(block::Readback, 0xAB, 1);
  blk.put(block::Readback + 255, 0xCD, 1);
  blk.put(block::Model, 2, 1);
  tZODADevice d = decodeBlock(blk);
  EXPECT_EQ(d.DeviceType, 4852);
  EXPECT_EQ(d.SerialNumber, -1);
  EXPECT_EQ(d.AddressByte, 0x13);
  EXPECT_EQ(d.InstructionCounter, 200);
  EXPECT_EQ(d.VersionText, "2.07");
  EXPECT_EQ(d.OutputFormat, 0x81);
  EXPECT_EQ(d.NcoFrequency, 3000000);
  EXPECT_EQ(d.PDiv, 0x22);
  EXPECT_EQ(d.TestPid, 8191);
  EXPECT_EQ(d.PcrPidCount, 1);
  EXPECT_EQ(d.SdramInputRate, 0xFFFFF);
  EXPECT_EQ(d.PcrBaseError, 0x802D);
  EXPECT_EQ(d.ReadbackData[0], 0xAB);
  EXPECT_EQ(d.ReadbackData[255], 0xCD);
  EXPECT_EQ(d.Model, 2);
}

TEST(Decode, VersionText) {
  struct Case {
    std::uint8_t major, minor;
    const char* text;
  } cases[] = {{2, 0, "2.00"}, {2, 7, "2.07"}, {1, 5, "1.05"}, {1, 123, "1.23"}, {0, 99, "0.99"}, {255, 255, "255.55"}};
  for (const auto& c : cases) EXPECT_EQ(versionText(c.major, c.minor), c.text);
}

TEST(Decode, InputRates) {
  struct Case {
    std::uint32_t word;
    std::int32_t rate;
  } cases[] = {
      {(3u << 24) | (1u << 23) | 256, 385},
      {(3u << 24) | 256, 417},
      {0xFFFFF, 1711274},
      {0xFFFFFFFF, 1577056},
      {0, 0},
  };
  for (const auto& c : cases) {
    Block blk;
    blk.put(block::InputStatus + 8, c.word, 4);  // input 3
    tZODADevice d = decodeBlock(blk);
    EXPECT_EQ(d.InputStatus[3], c.word);
    EXPECT_EQ(d.InputRate[3], c.rate) << std::hex << c.word;
  }
}

TEST(Decode, PreviousInputStatusFollowsDecodes) {
  Block first, second;
  first.put(block::InputStatus, 0x01000010, 4);
  second.put(block::InputStatus, 0x02000020, 4);
  tZODADevice d = decodeBlock(first);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(d.PrevInputStatus[i], 0u);
  d = decode(cwNetAnswer(second), 8, d);
  EXPECT_EQ(d.PrevInputStatus[1], 0x01000010u);
  EXPECT_EQ(d.InputStatus[1], 0x02000020u);
}

TEST(Decode, SdramWordSectorsAndSlide) {
  Block blk;
  blk.put(block::SdramWord, (1u << 22) | (1u << 21) | 0xFFFF, 3);
  blk.b[block::Sectors] = 0x83;
  blk.put(block::Sectors + 1, 0x0010, 2);
  blk.put(block::Sectors + 3, 0xFFFF, 2);
  blk.b[block::Sectors + 55] = 0x02;  // sector 12: start bit 16 only
  tZODADevice d = decodeBlock(blk);
  EXPECT_TRUE(d.SdramOverflow);
  EXPECT_TRUE(d.PcrPause);
  EXPECT_EQ(d.SdramUsage, 65535);
  EXPECT_TRUE(d.SectorEnable[1]);
  EXPECT_EQ(d.SectorStart[1], 65552);
  EXPECT_EQ(d.SectorEnd[1], 131071);
  EXPECT_FALSE(d.SectorEnable[12]);
  EXPECT_EQ(d.SectorStart[12], 65536);
  EXPECT_EQ(d.SectorEnd[12], 0);

  struct Case {
    std::uint32_t raw;
    std::int32_t slide;
  } slides[] = {{0x0000, -32768}, {0x8000, 0}, {0xFFFF, 32767}};
  for (const auto& c : slides) {
    Block s;
    s.put(block::PcrSlide, c.raw, 2);
    EXPECT_EQ(decodeBlock(s).PcrSlide, c.slide);
  }
}

TEST(Decode, PllFrequencyFromWord) {
  // 3,000,000 Hz: N 34, R 2, Q 30, P 3, VCO range 0, PDiv 34.
  const std::uint32_t word = (34u << 20) | (2u << 11) | (30u << 5) | (3u << 2);
  ASSERT_EQ(word, 0x022013CCu);
  struct Case {
    std::int32_t pdiv;
    std::uint32_t word;
    std::int32_t hz;
  } cases[] = {
      {34, word, 3000000},
      {34, 0, 0},
      {0, word, 0},
      {1024 + 34, word, 3000000},        // only 10 bits of the divider count
      {34, (34u << 20) | (3u << 2), 0},  // Q = 0
      {1, (1u << 20) | (100u << 11) | (1u << 5), 0},  // N*2^P - R below 0: no reference divider
      {1, (1u << 20) | (2u << 5), 0},                  // N*2^P - R below Q: M is 0
  };
  for (const auto& c : cases) EXPECT_EQ(PllFrequencyFromWord(c.pdiv, c.word), c.hz) << std::hex << c.word;
}

TEST(Decode, ShortOrMisplacedBufferReadsZerosWithoutLeavingIt) {
  ReceiveBuffer buf(10);
  const std::uint8_t few[3] = {1, 2, 3};
  buf.store(few, 3);
  tZODADevice d;
  d.AnswerBase = 1 << 30;
  DecodeStatus(d, buf);
  EXPECT_EQ(d.SerialNumber, 0);
  EXPECT_EQ(d.PcrSlide, -32768);
  d.AnswerBase = -5;  // treated as the start of the buffer
  DecodeStatus(d, buf);
}
