// The controller side: answer forms in both framings, what gets no answer, the
// fault options and repeatability by seed.
#include <gtest/gtest.h>

#include <cstring>

#include "EmuTestSupport.h"
#include "instructions/PageInstructions.h"
#include "wire/DatagramDecode.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;

TEST(EmulatorController, ReadAnswersHaveTheirLengthAndMarkers) {
  Emulator emu(seeded());
  const Bytes cw = readAnswer(emu, Framing::CwNet, 1, 0);
  ASSERT_EQ(cw.size(), kCwNetStatusAnswer);
  EXPECT_EQ(0, std::memcmp(cw.data(), "CW-Net", 6));
  EXPECT_EQ(cw[6], 0x09);
  EXPECT_EQ(cw[7], 1);
  EXPECT_EQ(cw[8], 0x45);
  EXPECT_EQ(cw[9], 0x1A);

  const Bytes dd = readAnswer(emu, Framing::DDToIP, 1, 0);
  ASSERT_EQ(dd.size(), kDDToIPStatusAnswer);
  EXPECT_EQ(0, std::memcmp(dd.data(), "DDToIP", 6));
  EXPECT_EQ(dd[21], 0x01);
  EXPECT_EQ(dd[22], 0xF3);
  EXPECT_EQ(dd[23], 0x04);
  EXPECT_EQ(dd[24], 0x00);
  EXPECT_EQ(dd[25], 0x45);
  EXPECT_EQ(dd[26], 0x1A);
  // The same board gives the same block in either framing.
  EXPECT_TRUE(std::equal(cw.begin() + 8, cw.end(), dd.begin() + 25));
}

TEST(EmulatorController, InterruptNoticesAreShortAndDelayedByIrqMs) {
  EmulatorOptions o = seeded();
  o.irqMs = 37;
  Emulator emu(o);
  const auto dd = load(emu, setSerialInstruction(5), Framing::DDToIP, 0);
  ASSERT_EQ(dd.size(), 1u);
  EXPECT_EQ(dd[0].data.size(), 26u);
  EXPECT_EQ(dd[0].delayMs, 37);
  const auto cw = load(emu, setSerialInstruction(5), Framing::CwNet, 0);
  ASSERT_EQ(cw.size(), 1u);
  EXPECT_LE(cw[0].data.size(), kInterruptNoticeMax);
  EXPECT_EQ(cw[0].delayMs, 37);
}

TEST(EmulatorController, NoBoardMeansEmptyBlocksAndNoNotices) {
  EmulatorOptions o = seeded();
  o.noDevice = true;
  Emulator emu(o);
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    const Bytes a = readAnswer(emu, f, 1, 0);
    ASSERT_TRUE(classifyStatusAnswer(a).has_value());
    EXPECT_NE(a[f == Framing::DDToIP ? 25 : 8], kDevicePresent);
    EXPECT_TRUE(load(emu, setSerialInstruction(5), f, 0).empty());
  }
  EXPECT_TRUE(emu.receive(encodeSdiMessage("Quillmarsh  ACK", encodeInstruction(0x03, {1})), 0).empty());
}

TEST(EmulatorController, DatagramsTheControllerCannotReadGetNoAnswer) {
  auto withByte = [](Bytes b, std::size_t at, std::uint8_t v) {
    b[at] = v;
    return b;
  };
  const Bytes ddRead = encodeReadDatagram(Framing::DDToIP, 1);
  const Bytes cwRead = encodeReadDatagram(Framing::CwNet, 1);
  Bytes cwLong = cwRead;
  cwLong.push_back(0);
  Bytes twoCommands = encodeSdiMessage(kReadLabel, encodeInstruction(0x86, {1, 4, 0}));
  append(twoCommands, encodeInstruction(0x86, {1, 4, 0}));
  const struct {
    const char* name;
    Bytes datagram;
  } cases[] = {
      {"empty", {}},
      {"DDToIP read of 512 bytes", withByte(ddRead, 26, 0x02)},
      {"DDToIP read for SDI 0", withByte(ddRead, 25, 0)},
      {"DDToIP read for SDI 16", withByte(ddRead, 25, 16)},
      {"DDToIP message type 2", withByte(ddRead, 21, 2)},
      {"DDToIP length past the end", withByte(ddRead, 24, 4)},
      {"two controller commands", twoCommands},
      {"CW-Net read with a byte more", cwLong},
      {"CW-Net read, wrong command word", withByte(cwRead, 8, 'r')},
      {"CW-Net unknown code", withByte(cwRead, 6, 0x0A)},
      {"CW-Net read for SDI 0", withByte(cwRead, 7, 0)},
      {"CW-Net truncated", Bytes(cwRead.begin(), cwRead.begin() + 17)},
      {"forward to another address", setSerialInstruction(1).datagram(Framing::DDToIP, 2)},
      {"DDToIP message without instructions", encodeSdiMessage("Quillmarsh  ACK", {})},
  };
  Emulator emu(seeded());
  for (const auto& c : cases) EXPECT_TRUE(emu.receive(c.datagram, 0).empty()) << c.name;
}

TEST(EmulatorController, DropDuplicateCorruptAndDelayApplyPerAnswer) {
  const Bytes read = encodeReadDatagram(Framing::DDToIP, 1);
  {
    EmulatorOptions o = seeded();
    o.drop = 1;
    Emulator emu(o);
    EXPECT_TRUE(emu.receive(read, 0).empty());
    EXPECT_TRUE(load(emu, setSerialInstruction(5), Framing::CwNet, 0).empty());
    EXPECT_EQ(emu.stats().dropped, 2u);
  }
  {
    EmulatorOptions o = seeded();
    o.duplicate = 1;
    Emulator emu(o);
    const auto a = emu.receive(read, 0);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].data, a[1].data);
    EXPECT_EQ(a[1].delayMs, a[0].delayMs + 1);
    EXPECT_FALSE(a[0].copy);
    EXPECT_TRUE(a[1].copy);
  }
  {
    EmulatorOptions clean = seeded(3), bad = seeded(3);
    bad.corrupt = 1;
    Emulator good(clean), broken(bad);
    int differing = 0;
    for (int i = 0; i < 20; ++i) {
      const auto a = good.receive(read, i * 100);
      const auto b = broken.receive(read, i * 100);
      ASSERT_EQ(a.size(), 1u);
      ASSERT_EQ(b.size(), 1u);
      differing += a[0].data != b[0].data;
      EXPECT_TRUE(b[0].corrupted);
      EXPECT_FALSE(a[0].corrupted);
    }
    EXPECT_EQ(differing, 20);
  }
  {
    EmulatorOptions o = seeded();
    o.delayMinMs = 10;
    o.delayMaxMs = 20;
    Emulator emu(o);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 200; ++i) {
      const auto a = emu.receive(read, i);
      ASSERT_EQ(a.size(), 1u);
      EXPECT_GE(a[0].delayMs, 10);
      EXPECT_LE(a[0].delayMs, 20);
      seen.insert(a[0].delayMs);
    }
    EXPECT_EQ(seen.size(), 11u);
    const auto notice = load(emu, setSerialInstruction(5), Framing::DDToIP, 300);
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_GE(notice[0].delayMs, 10 + emu.options().irqMs);
  }
}

namespace {

// A scripted session: instructions, reads and direct messages over two minutes.
std::vector<Answer> session(const EmulatorOptions& o) {
  Emulator emu(o);
  GeneralFilterBoxes all;
  all.enable = {true, true, true, true, true, true};
  std::vector<Answer> out;
  auto add = [&](const std::vector<Answer>& a) { out.insert(out.end(), a.begin(), a.end()); };
  add(load(emu, setGeneralFilterInstruction(all), Framing::DDToIP, 100));
  add(load(emu, setPcrCorrectorInstruction(true, false), Framing::CwNet, 200));
  for (int t = 1000; t <= 120000; t += 1000) {
    add(emu.receive(encodeReadDatagram(t % 2000 ? Framing::CwNet : Framing::DDToIP, 1), t));
    add(emu.receive(encodeSdiMessage("Quillmarsh  ACK", encodeInstruction(0x03, {1})), t + 1));
  }
  return out;
}

}  // namespace

TEST(EmulatorController, SameSeedGivesIdenticalAnswers) {
  EmulatorOptions o = seeded(99);
  o.drop = 0.2;
  o.duplicate = 0.2;
  o.corrupt = 0.2;
  o.delayMinMs = 0;
  o.delayMaxMs = 40;
  const auto a = session(o), b = session(o);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].data, b[i].data) << i;
    EXPECT_EQ(a[i].delayMs, b[i].delayMs) << i;
  }
  EmulatorOptions other = o;
  other.seed = 100;
  const auto c = session(other);
  bool anyDifference = c.size() != a.size();
  for (std::size_t i = 0; !anyDifference && i < a.size(); ++i) anyDifference = a[i].data != c[i].data;
  EXPECT_TRUE(anyDifference);
}

// The verbose trace reads the emulator's own answers with the panel's decoder.
TEST(EmulatorController, AnswersReadAsTheirKind) {
  Emulator emu(seeded());
  const struct {
    Bytes datagram;
    const char* line;
  } cases[] = {
      {emu.receive(encodeReadDatagram(Framing::DDToIP, 1), 0).at(0).data, "DDToIP status answer, device h1A"},
      {emu.receive(encodeReadDatagram(Framing::CwNet, 1), 0).at(0).data, "CW-Net status answer, SDI 1, device h1A"},
      {emu.receive(encodeReadDatagram(Framing::DDToIP, 9), 0).at(0).data,
       "DDToIP status answer, no device (presence h00, code h00)"},
      {emu.receive(setTypeInstruction(1).datagram(Framing::DDToIP, 1), 0).at(0).data,
       "DDToIP interrupt notice, SDI 1"},
      {emu.receive(setTypeInstruction(1).datagram(Framing::CwNet, 1), 0).at(0).data,
       "CW-Net interrupt notice, SDI 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(summarizeDatagram(c.datagram, WireSide::Received), c.line);
}
