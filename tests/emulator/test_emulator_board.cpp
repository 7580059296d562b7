// The board side of the emulator: every instruction the panel's pages send changes
// exactly the status fields it should, in both framings; read-backs, erases, the
// SDI address, reset and malformed messages.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "EmuTestSupport.h"
#include "instructions/PageInstructions.h"
#include "instructions/GeneralInstructions.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;

namespace {

constexpr std::int64_t kT = 10000;

// The configuration the block reports, field by field, as text (live figures left out).
std::map<std::string, std::string> configOf(const Bytes& answer) {
  const tZODADevice d = decodeAnswer(answer);
  const std::size_t base = answer.size() == kDDToIPStatusAnswer ? 25 : 8;
  std::map<std::string, std::string> c;
  c["Type"] = std::to_string(d.DeviceType);
  c["Serial"] = std::to_string(d.SerialNumber);
  c["Address"] = std::to_string(d.AddressByte);
  c["UserText"] = std::string(answer.begin() + static_cast<std::ptrdiff_t>(base + 2),
                              answer.begin() + static_cast<std::ptrdiff_t>(base + 17));
  c["ChannelEnable"] = std::to_string(d.ChannelEnable);
  c["DataValid"] = std::to_string(d.DataValidEnable);
  c["NullFilter"] = std::to_string(d.NullFilterEnable);
  c["TspFilter"] = std::to_string(d.TspFilterEnable);
  c["OutputFormat"] = std::to_string(d.OutputFormat);
  c["Priority"] = std::to_string(answer[base + 61]);
  c["Nco"] = std::to_string(d.NcoFrequency);
  c["PDiv"] = std::to_string(d.PDiv);
  c["PllWord"] = std::to_string(d.PllWord);
  c["PidFilterState"] = std::to_string(d.PidFilterState);
  c["PsiState"] = std::to_string(d.PsiInserterState);
  c["PcrState"] = std::to_string(d.PcrState);
  c["TestPid"] = std::to_string(d.TestPid);
  c["IntRError"] = std::to_string(d.IntRError);
  std::string sectors;
  for (int k = 1; k <= 12; ++k)
    sectors += std::to_string(d.SectorEnable[k]) + ":" + std::to_string(d.SectorStart[k]) + "-" +
               std::to_string(d.SectorEnd[k]) + " ";
  c["Sectors"] = sectors;
  c["ReadbackKind"] = std::to_string(d.ReadbackKind);
  c["Readback"] = std::string(d.ReadbackData.begin(), d.ReadbackData.end());
  return c;
}

std::set<std::string> changed(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  std::set<std::string> out;
  for (const auto& [k, v] : a)
    if (b.at(k) != v) out.insert(k);
  return out;
}

struct InstructionCase {
  const char* name;
  std::function<Bytes(Framing)> datagram;
  int instructions;                      // executed instructions in the message
  std::set<std::string> fields;          // status fields that must change, and no others
  std::function<void(const tZODADevice&, const Bytes&)> check;
};

Bytes single(const LabelledInstruction& in, Framing f) { return in.datagram(f, 1); }

StreamFormatMessage format(int clock, int packetSize, bool highPriority, std::int32_t ncoHz, std::int32_t pllHz) {
  StreamFormat in;
  in.clockSource = clock;
  in.packetSize = packetSize;
  in.highPriority = highPriority;
  in.ncoHz = ncoHz;
  in.pllHz = pllHz;
  return streamFormatMessage(in);
}

std::vector<InstructionCase> instructionCases() {
  GeneralFilterBoxes boxes;
  boxes.enable = {true, true, true, true, true, true};
  boxes.dataValid[1] = true;
  boxes.nullPacket[2] = true;
  boxes.tspError[3] = true;
  const PsiWrite psi;  // PID 1000, address 0, timer 10, ascending
  return {
      {"SETSERIAL", [](Framing f) { return single(setSerialInstruction(56765), f); }, 1, {"Serial"},
       [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.SerialNumber, 56765); }},
      {"SETSERIAL -1", [](Framing f) { return single(setSerialInstruction(0xFFFFFFFFu), f); }, 1, {"Serial"},
       [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.SerialNumber, -1); }},
      {"SETTYPE", [](Framing f) { return single(setTypeInstruction(4464), f); }, 1, {"Type"},
       [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.DeviceType, 4464); }},
      {"SETUSERTEXT", [](Framing f) { return single(setUserTextInstruction("Hi"), f); }, 1, {"UserText"},
       [](const tZODADevice&, const Bytes& a) {
         const std::size_t base = a.size() == kDDToIPStatusAnswer ? 25 : 8;
         EXPECT_EQ(a[base + 2], 'H');
         EXPECT_EQ(a[base + 3], 'i');
         for (std::size_t i = 4; i < 17; ++i) EXPECT_EQ(a[base + i], 0);
       }},
      {"SETSTREAMFORMAT NCO 204 high", [](Framing f) { return format(0, 204, true, 5000000, 3000000).datagram(f, 1); }, 2,
       {"Nco", "OutputFormat", "Priority"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_EQ(d.NcoFrequency, 5000000);
         EXPECT_EQ(d.OutputFormat, 0x00);
       }},
      {"SETSTREAMFORMAT PLL 188", [](Framing f) { return format(1, 188, false, 3000000, 3000000).datagram(f, 1); }, 2,
       {"PDiv", "PllWord", "OutputFormat"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_EQ(d.PDiv, 34);
         EXPECT_EQ(d.PllWord, 0x022013CCu);
         EXPECT_EQ(d.PllFrequency, 3000000);
         EXPECT_EQ(d.OutputFormat, 0x81);
       }},
      {"SETSTREAMFORMAT TS input 3", [](Framing f) { return format(4, 204, false, 3000000, 3000000).datagram(f, 1); }, 1,
       {"OutputFormat"}, [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.OutputFormat, 0x04); }},
      {"SETGENERALFILTER", [boxes](Framing f) { return single(setGeneralFilterInstruction(boxes), f); }, 1,
       {"ChannelEnable", "DataValid", "NullFilter", "TspFilter"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_EQ(d.ChannelEnable, 0x3F);
         EXPECT_EQ(d.DataValidEnable, 0x02);
         EXPECT_EQ(d.NullFilterEnable, 0x04);
         EXPECT_EQ(d.TspFilterEnable, 0x08);
       }},
      {"ERASEPIDFILTER", [](Framing f) { return single(erasePidFilterInstruction(), f); }, 1, {"PidFilterState"},
       [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.PidFilterState & 1, 1); }},
      {"WRITEPIDFILTER", [](Framing f) { return single(writePidFilterInstruction(3, 500, 8191), f); },
       1, {}, nullptr},
      {"READPIDFILTER", [](Framing f) { return single(readPidFilterInstruction(1, 503), f); }, 1,
       {"ReadbackKind", "Readback"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_EQ(d.ReadbackKind, 1);
         for (auto b : d.ReadbackData) ASSERT_EQ(b, 0xFF);
       }},
      {"Set sector 3", [](Framing f) { return single(*setSectorInstruction(3, true, 4096, 131071), f); }, 1,
       {"Sectors"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_TRUE(d.SectorEnable[3]);
         EXPECT_EQ(d.SectorStart[3], 4096);
         EXPECT_EQ(d.SectorEnd[3], 131071);
       }},
      {"ERASEPSI", [](Framing f) { return single(erasePsiInstruction(), f); }, 1, {"PsiState"},
       [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.PsiInserterState & 1, 1); }},
      {"WRITEPSI", [psi](Framing f) { return single(writePsiInstruction(psi), f); }, 1, {}, nullptr},
      {"READPSI", [](Framing f) { return single(readPsiInstruction(70000), f); }, 1,
       {"ReadbackKind", "Readback"},
       [](const tZODADevice& d, const Bytes&) {
         EXPECT_EQ(d.ReadbackKind, 2);
         for (auto b : d.ReadbackData) ASSERT_EQ(b, 0xFF);  // erased flash
       }},
      {"SETPCRCORRECTOR on + direct", [](Framing f) { return single(setPcrCorrectorInstruction(true, true), f); }, 1,
       {"PcrState"}, [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.PcrState, 0x11); }},
      {"SETTESTPCRPID", [](Framing f) { return single(setTestPcrPidInstruction(8191), f); }, 1,
       {"TestPid"}, [](const tZODADevice& d, const Bytes&) { EXPECT_EQ(d.TestPid, 8191); }},
  };
}

}  // namespace

TEST(EmulatorBoard, EveryPageInstructionChangesExactlyItsStatusFields) {
  for (const Framing framing : {Framing::CwNet, Framing::DDToIP}) {
    for (const InstructionCase& c : instructionCases()) {
      SCOPED_TRACE(std::string(framingName(framing)) + " " + c.name);
      Emulator emu(seeded());
      const Bytes before = readAnswer(emu, framing, 1, kT);
      const auto answers = emu.receive(c.datagram(framing), kT);
      ASSERT_EQ(answers.size(), 1u);
      EXPECT_LE(answers[0].data.size(), kInterruptNoticeMax);
      EXPECT_EQ(answers[0].delayMs, emu.options().irqMs);
      const Bytes after = readAnswer(emu, framing, 1, kT);
      EXPECT_EQ(changed(configOf(before), configOf(after)), c.fields);
      const tZODADevice d0 = decodeAnswer(before), d1 = decodeAnswer(after);
      EXPECT_EQ(d1.InstructionCounter, d0.InstructionCounter + c.instructions);
      if (c.check) c.check(d1, after);
    }
  }
}

TEST(EmulatorBoard, PidFilterReadBackShowsProgrammedWordsPerInput) {
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    SCOPED_TRACE(framingName(f));
    Emulator emu(seeded());
    load(emu, writePidFilterInstruction(3, 500, 8191), f, kT);   // word DFFF
    load(emu, writePidFilterInstruction(3, 503, 503), f, kT);      // word C1F7
    load(emu, writePidFilterInstruction(4, 497, 497), f, kT);      // another input
    load(emu, readPidFilterInstruction(3, 503), f, kT);                   // from 496
    const tZODADevice d = query(emu, f, kT);
    ASSERT_EQ(d.ReadbackKind, 1);
    for (int k = 0; k < 128; ++k) {
      const int word = (d.ReadbackData[2 * k] << 8) | d.ReadbackData[2 * k + 1];
      const int expected = k == 4 ? 0xDFFF : k == 7 ? 0xC1F7 : 0xFFFF;
      EXPECT_EQ(word, expected) << "entry " << k;
    }
  }
}

TEST(EmulatorBoard, PsiReadBackGivesTheRecordWrittenAtThatAddress) {
  PsiWrite in;
  in.address = 70000;
  in.autoCc = true;
  const LabelledInstruction w = writePsiInstruction(in);
  const Bytes packet = psiTestPacket(1000, PsiPacketType::Ascending, 15);
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    SCOPED_TRACE(framingName(f));
    Emulator emu(seeded());
    load(emu, w, f, kT);
    load(emu, readPsiInstruction(70000), f, kT);
    tZODADevice d = query(emu, f, kT);
    ASSERT_EQ(d.ReadbackKind, 2);
    Bytes expected{0x00, 0x00, 0x0A, 0x01};
    append(expected, packet);
    expected.resize(256, 0xFF);
    EXPECT_EQ(Bytes(d.ReadbackData.begin(), d.ReadbackData.end()), expected);

    load(emu, readPsiInstruction(69999), f, kT);
    d = query(emu, f, kT);
    for (auto b : d.ReadbackData) ASSERT_EQ(b, 0xFF);
  }
}

TEST(EmulatorBoard, EraseKeepsBusyForEraseMsAndRefusesWritesMeanwhile) {
  EmulatorOptions o = seeded();
  o.eraseMs = 3000;
  Emulator emu(o);
  const Framing f = Framing::DDToIP;
  load(emu, writePidFilterInstruction(1, 16, 16), f, 0);
  load(emu, erasePidFilterInstruction(), f, 1000);
  load(emu, erasePsiInstruction(), f, 1500);
  tZODADevice d = query(emu, f, 1500);
  EXPECT_EQ(d.PidFilterState, 1);
  EXPECT_EQ(d.PsiInserterState, 1);

  // A write while the filter is busy is not executed.
  const int counter = d.InstructionCounter;
  load(emu, writePidFilterInstruction(1, 8, 8), f, 3999);
  d = query(emu, f, 3999);
  EXPECT_EQ(d.InstructionCounter, counter);
  EXPECT_EQ(d.PidFilterState, 1);

  d = query(emu, f, 4000);
  EXPECT_EQ(d.PidFilterState, 0);
  EXPECT_EQ(d.PsiInserterState, 1);
  d = query(emu, f, 4500);
  EXPECT_EQ(d.PsiInserterState, 0);

  // The erase emptied the filter; a write after it is kept.
  load(emu, writePidFilterInstruction(1, 9, 9), f, 4500);
  load(emu, readPidFilterInstruction(1, 8), f, 4500);
  d = query(emu, f, 4500);
  EXPECT_EQ(d.ReadbackData[0], 0xFF);  // PID 8: refused while busy
  EXPECT_EQ(d.ReadbackData[2], 0xC0);  // PID 9
  EXPECT_EQ(d.ReadbackData[3], 0x09);
  EXPECT_EQ(d.ReadbackData[16], 0xFF);  // PID 16: erased
  EXPECT_EQ(d.ReadbackData[17], 0xFF);
}

TEST(EmulatorBoard, SetAddressMovesTheBoard) {
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    SCOPED_TRACE(framingName(f));
    Emulator emu(seeded());
    const auto notice = load(emu, setAddressInstruction(9), f, kT, 1);  // address 9
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_EQ(emu.board().address, 9);

    EXPECT_NE(readAnswer(emu, f, 1, kT)[f == Framing::DDToIP ? 25 : 8], kDevicePresent);
    const Bytes moved = readAnswer(emu, f, 9, kT);
    EXPECT_EQ(moved[f == Framing::DDToIP ? 25 : 8], kDevicePresent);
    EXPECT_EQ(decodeAnswer(moved).AddressByte, 9);
    if (f == Framing::CwNet) {
      EXPECT_EQ(moved[7], 9);
    }

    EXPECT_TRUE(load(emu, setSerialInstruction(1), f, kT, 1).empty());
    EXPECT_EQ(load(emu, setSerialInstruction(1), f, kT, 9).size(), 1u);
  }
}

TEST(EmulatorBoard, BoardsOnOneBusKeepTheirOwnState) {
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    SCOPED_TRACE(framingName(f));
    EmulatorOptions o = seeded();
    o.sdiAddresses = {5, 2, 9};
    Emulator emu(o);
    const struct {
      std::uint8_t address;
      bool present;
      std::uint32_t serial;
    } bus[] = {{5, true, 20417}, {2, true, 20418}, {9, true, 20419}, {1, false, 0}, {3, false, 0}};
    for (const auto& b : bus) {
      SCOPED_TRACE(int{b.address});
      const Bytes a = readAnswer(emu, f, b.address, kT);
      EXPECT_EQ(a[f == Framing::DDToIP ? 25 : 8] == kDevicePresent, b.present);
      if (b.present) {
        EXPECT_EQ(static_cast<std::uint32_t>(decodeAnswer(a).SerialNumber), b.serial);
        EXPECT_EQ(decodeAnswer(a).AddressByte, b.address);
      } else {
        EXPECT_TRUE(load(emu, setSerialInstruction(1), f, kT, b.address).empty());
      }
    }

    // A load to one board leaves the others as they were.
    const tZODADevice before = query(emu, f, kT, 5);
    ASSERT_EQ(load(emu, setUserTextInstruction("abc"), f, kT, 2).size(), 1u);
    ASSERT_EQ(load(emu, setSerialInstruction(77), f, kT, 2).size(), 1u);
    EXPECT_EQ(query(emu, f, kT, 2).SerialNumber, 77);
    EXPECT_EQ(emu.boards()[1].state().userText[0], 'a');
    const tZODADevice after = query(emu, f, kT, 5);
    EXPECT_EQ(after.SerialNumber, before.SerialNumber);
    EXPECT_EQ(after.InstructionCounter, before.InstructionCounter);
    EXPECT_EQ(emu.boards()[0].state().userText[0], 0);

    // Moving a board onto an address another holds is refused and counted; a free one is taken.
    load(emu, setAddressInstruction(5), f, kT, 9);
    EXPECT_EQ(emu.boards()[2].state().address, 9);
    EXPECT_EQ(query(emu, f, kT, 9).IntRError, 1);
    EXPECT_EQ(query(emu, f, kT, 5).SerialNumber, 20417);
    load(emu, setAddressInstruction(4), f, kT, 9);
    EXPECT_EQ(query(emu, f, kT, 4).SerialNumber, 20419);
  }
}

TEST(EmulatorBoard, ResetRestoresVolatileSettingsAndKeepsIdentityAndFlash) {
  Emulator emu(seeded());
  const Framing f = Framing::CwNet;
  const tZODADevice fresh = query(emu, f, 0);
  load(emu, setSerialInstruction(123), f, 0);
  load(emu, setUserTextInstruction("abc"), f, 0);
  emu.receive(format(0, 204, false, 7000000, 3000000).datagram(f, 1), 0);
  load(emu, setPcrCorrectorInstruction(true, false), f, 0);
  load(emu, writePidFilterInstruction(1, 100, 100), f, 0);
  load(emu, readPidFilterInstruction(1, 96), f, 0);
  ASSERT_EQ(query(emu, f, 0).NcoFrequency, 7000000);

  ASSERT_EQ(load(emu, resetInstruction(), f, 5000).size(), 1u);
  const tZODADevice d = query(emu, f, 5000);
  EXPECT_EQ(d.SerialNumber, 123);
  EXPECT_EQ(d.NcoFrequency, fresh.NcoFrequency);
  EXPECT_EQ(d.OutputFormat, fresh.OutputFormat);
  EXPECT_EQ(d.PcrState, 0);
  EXPECT_EQ(d.InstructionCounter, 0);
  EXPECT_EQ(d.ReadbackKind, 0);
  EXPECT_EQ(d.SdramUsage, 0);
  EXPECT_EQ(emu.board().userText[0], 'a');

  load(emu, readPidFilterInstruction(1, 96), f, 5000);
  const tZODADevice r = query(emu, f, 5000);
  EXPECT_EQ(r.ReadbackData[8], 0xC0);  // PID 100 survived the reset
  EXPECT_EQ(r.ReadbackData[9], 100);
}

TEST(EmulatorBoard, MalformedSdiMessagesExecuteNothingAndCountAsErrors) {
  const Bytes good = encodeSdiMessage("Set Serial Num ", encodeInstruction(0x10, {0, 0, 0, 42}));
  struct Bad {
    const char* name;
    Bytes sdi;
  };
  Bytes badMagic = good;
  badMagic[0] = 'X';
  Bytes pastEnd = good;
  pastEnd[24] = 5;  // length 5, only 4 data bytes follow
  Bytes badType = good;
  badType[21] = 0x02;
  Bytes trailing = good;
  trailing.push_back(0x10);  // half an instruction head
  const Bad cases[] = {{"bad magic", badMagic}, {"length past the end", pastEnd}, {"message type", badType},
                       {"trailing byte", trailing}, {"too short", Bytes(good.begin(), good.begin() + 10)}};
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    for (const Bad& c : cases) {
      SCOPED_TRACE(std::string(framingName(f)) + " " + c.name);
      Emulator emu(seeded());
      const tZODADevice before = query(emu, f, 0);
      EXPECT_TRUE(emu.receive(encodeLoadDatagram(f, "Set Serial Num ", 1, c.sdi), 0).empty());
      const tZODADevice after = query(emu, f, 0);
      EXPECT_EQ(after.SerialNumber, before.SerialNumber);
      EXPECT_EQ(after.InstructionCounter, before.InstructionCounter);
      EXPECT_EQ(after.IntRError, before.IntRError + 1);
    }
  }
}

TEST(EmulatorBoard, UnknownOrBadInstructionsAreSkippedTheRestExecuted) {
  Bytes instructions = encodeInstruction(0x77, {1, 2});           // unknown code
  append(instructions, encodeInstruction(0x14, {0}));              // address 0
  append(instructions, encodeInstruction(0x10, {0, 0, 1}));        // serial, 3 bytes
  append(instructions, encodeInstruction(0x10, {0, 0, 1, 0}));     // good
  append(instructions, encodeInstruction(0xE0, {0x12, 0x00}));     // no unit
  Emulator emu(seeded());
  const auto notice = emu.receive(encodeLoadDatagram(Framing::DDToIP, "Instr Test     ", 1,
                                                     encodeSdiMessage("Instr Test     ", instructions)), 0);
  ASSERT_EQ(notice.size(), 1u);
  const tZODADevice d = query(emu, Framing::DDToIP, 0);
  EXPECT_EQ(d.SerialNumber, 256);
  EXPECT_EQ(d.InstructionCounter, 1);
  EXPECT_EQ(d.IntRError, 4);
  EXPECT_EQ(d.AddressByte, 1);
}

TEST(EmulatorBoard, StatusBlockRoundTripsIdentityThroughTheDecoder) {
  EmulatorOptions o = seeded();
  o.sdiAddress = 4;
  o.deviceCode = 0x1B;
  Emulator emu(o);
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    const Bytes a = readAnswer(emu, f, 4, 0);
    EXPECT_EQ(a[f == Framing::DDToIP ? 26 : 9], 0x1B);
    const tZODADevice d = decodeAnswer(a);
    EXPECT_EQ(d.AddressByte, 4);
    EXPECT_EQ(d.DeviceType, emu.board().type);
    EXPECT_EQ(static_cast<std::uint32_t>(d.SerialNumber), emu.board().serial);
    EXPECT_EQ(d.VersionText, "2.07");
    EXPECT_EQ(d.Model, 1);
    EXPECT_EQ(d.LedFlags & 0x80, 0x80);
  }
}
