#include <gtest/gtest.h>

#include "instructions/PageInstructions.h"

using namespace tessaly;

namespace {
Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) append(out, p);
  return out;
}
}  // namespace

TEST(PageInstructionsMpx, GeneralFilterMasks) {
  GeneralFilterBoxes input1;
  input1.enable[0] = input1.dataValid[0] = input1.nullPacket[0] = input1.tspError[0] = true;
  GeneralFilterBoxes allEnabled;
  allEnabled.enable.fill(true);
  GeneralFilterBoxes mixed;
  mixed.dataValid[5] = mixed.nullPacket[2] = mixed.tspError[1] = true;

  struct Case {
    GeneralFilterBoxes boxes;
    Bytes data;
  } cases[] = {
      {input1, {0x10, 0x01, 0x01, 0x01, 0x01}},
      {allEnabled, {0x10, 0x3F, 0x00, 0x00, 0x00}},
      {mixed, {0x10, 0x00, 0x20, 0x04, 0x02}},
  };
  for (const auto& c : cases) {
    LabelledInstruction i = setGeneralFilterInstruction(c.boxes);
    EXPECT_EQ(i.opcode, 0xE0);
    EXPECT_EQ(i.data, c.data);
  }
}

TEST(PageInstructionsMpx, WritePidFilter) {
  struct Case {
    int ts;
    const char* pid;
    bool remap;
    const char* remapText;
    Bytes data;
    const char* pidBack;
    std::optional<std::string> remapBack;
  } cases[] = {
      {0, "500", false, "junk", {0x11, 0x01, 0x00, 0x00, 0x01, 0xF4, 0xC1, 0xF4}, "500", std::nullopt},
      {3, "500", true, "8191", {0x11, 0x01, 0x00, 0x03, 0x01, 0xF4, 0xDF, 0xFF}, "500", "8191"},
      {5, "9000", false, "", {0x11, 0x01, 0x00, 0x05, 0x1F, 0xFF, 0xDF, 0xFF}, "8191", std::nullopt},
      {1, "-5", true, "x", {0x11, 0x01, 0x00, 0x01, 0x00, 0x00, 0xC0, 0x00}, "0", "0"},
      {2, "abc", true, "$10", {0x11, 0x01, 0x00, 0x02, 0x00, 0x00, 0xC0, 0x10}, "0", "16"},
  };
  for (const auto& c : cases) {
    WritePidFilter w = writePidFilterInstruction(c.ts, c.pid, c.remap, c.remapText);
    EXPECT_EQ(w.instruction.label, "Write PIDFilter");
    EXPECT_EQ(w.instruction.data, c.data) << c.pid;
    EXPECT_EQ(w.pidText, c.pidBack) << c.pid;
    EXPECT_EQ(w.remapText, c.remapBack) << c.pid;
  }
}

TEST(PageInstructionsMpx, ReadPidFilterStartsAtMultipleOfEight) {
  struct Case {
    const char* pid;
    std::uint8_t hi, lo;
    const char* back;
  } cases[] = {{"503", 0x01, 0xF0, "496"}, {"8191", 0x1F, 0xF8, "8184"}, {"99999", 0x1F, 0xF8, "8184"},
               {"7", 0x00, 0x00, "0"},     {"nope", 0x00, 0x00, "0"}};
  for (const auto& c : cases) {
    ReadPidFilter r = readPidFilterInstruction(4, c.pid);
    EXPECT_EQ(r.instruction.label, "Read  PIDFilter");
    EXPECT_EQ(r.instruction.data, (Bytes{0x14, 0x01, 0x00, 0x04, c.hi, c.lo})) << c.pid;
    EXPECT_EQ(r.pidText, c.back);
  }
}

TEST(PageInstructions, MessageSizesAndLabels) {
  // SDI message length and DDToIP length field of every page instruction.
  struct Case {
    LabelledInstruction i;
    const char* label;
    std::size_t sdiLength;
  } cases[] = {
      {setGeneralFilterInstruction({}), "Set General Fil", 30},
      {erasePidFilterInstruction(), "Erase PIDFilter", 27},
      {writePidFilterInstruction(0, "1", false, "").instruction, "Write PIDFilter", 33},
      {readPidFilterInstruction(0, "1").instruction, "Read  PIDFilter", 31},
      {setSectorInstruction(1, false, "0", "0")->instruction, "Set Sector     ", 34},
      {erasePsiInstruction(), "Erase PSI      ", 27},
      {writePsiInstruction({}).instruction, "Write PSI      ", 238},
      {readPsiInstruction("0").instruction, "Read  PSI      ", 30},
      {setPcrCorrectorInstruction(true, false), "Set PCR Correct", 27},
      {setTestPcrPidInstruction("1").instruction, "Set PCR Correct", 29},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.i.label, c.label);
    EXPECT_EQ(c.i.opcode, 0xE0);
    Bytes sdi = c.i.sdiMessage();
    EXPECT_EQ(sdi.size(), c.sdiLength) << c.label;
    Bytes dd = c.i.datagram(Framing::DDToIP, 9);
    EXPECT_EQ(dd, concat({bytesOf("DDToIP"), bytesOf(c.label),
                          Bytes{0x01, 0x85, 0x00, static_cast<std::uint8_t>(c.sdiLength + 1), 0x09}, sdi}))
        << c.label;
    EXPECT_EQ(c.i.datagram(Framing::CwNet, 9).size(), c.sdiLength + 18);
  }
}

TEST(PageInstructionsPsi, SetSector) {
  struct Case {
    int row;
    bool enabled;
    const char* start;
    const char* end;
    Bytes data;
    const char* startBack;
    const char* endBack;
  } cases[] = {
      {3, true, "4096", "131072", {0x20, 0x01, 0xE2, 0x00, 0x10, 0x00, 0x01, 0xFF, 0xFF}, "4096", "131071"},
      {1, false, "0", "0", {0x20, 0x01, 0x60, 0, 0, 0, 0, 0, 0}, "0", "0"},
      {4, false, "x", "-3", {0x20, 0x01, 0x63, 0, 0, 0, 0, 0, 0}, "0", "0"},
      {2, true, "$1FFFF", "5", {0x20, 0x01, 0xE1, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x05}, "131071", "5"},
  };
  for (const auto& c : cases) {
    auto s = setSectorInstruction(c.row, c.enabled, c.start, c.end);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->instruction.data, c.data) << c.row;
    EXPECT_EQ(s->startText, c.startBack);
    EXPECT_EQ(s->endText, c.endBack);
  }
  for (int row : {0, 5, 12}) EXPECT_FALSE(setSectorInstruction(row, true, "1", "1").has_value());
}

TEST(PageInstructionsPsi, WritePsi) {
  WritePsiInput def{"1000", "0", "10", "15", 0, false};
  WritePsi w = writePsiInstruction(def);
  Bytes expected{0x21, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x47, 0x03, 0xE8, 0x10};
  for (int k = 4; k < 204; ++k) expected.push_back(static_cast<std::uint8_t>(k + 1));
  EXPECT_EQ(w.instruction.data, expected);
  EXPECT_EQ(w.instruction.data.size(), 213u);
  EXPECT_EQ(w.instruction.data.back(), 0xCC);

  WritePsi desc = writePsiInstruction({"1000", "0", "10", "15", 1, true});
  const Bytes& d = desc.instruction.data;
  EXPECT_EQ(d[8], 0x01);
  EXPECT_EQ(Bytes(d.end() - 3, d.end()), (Bytes{0x03, 0x02, 0x01}));
  EXPECT_EQ(d[13], 200);

  WritePsi fix = writePsiInstruction({"1000", "0", "10", "300", 2, false});
  EXPECT_EQ(fix.fixText, "44");
  EXPECT_EQ(Bytes(fix.instruction.data.begin() + 13, fix.instruction.data.end()), Bytes(200, 0x2C));
}

TEST(PageInstructionsPsi, WritePsiFallbacksAndRanges) {
  struct Case {
    WritePsiInput in;
    const char *pid, *address, *timer, *fix;
    Bytes head;  // address, timer, auto CC, sync, PID
  } cases[] = {
      {{"", "", "", "", 2, false}, "1000", "0", "10", "15", {0, 0, 0, 0, 0, 0x0A, 0x00, 0x47, 0x03, 0xE8}},
      {{"9000", "200000", "99999999", "-1", 2, true},
       "8191", "131071", "16777215", "255",
       {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x47, 0x1F, 0xFF}},
      {{"-1", "-1", "-1", "$1FF", 2, false}, "0", "0", "0", "255", {0, 0, 0, 0, 0, 0, 0, 0x47, 0, 0}},
  };
  for (const auto& c : cases) {
    WritePsi w = writePsiInstruction(c.in);
    EXPECT_EQ(w.pidText, c.pid);
    EXPECT_EQ(w.addressText, c.address);
    EXPECT_EQ(w.timerText, c.timer);
    EXPECT_EQ(w.fixText, c.fix);
    EXPECT_EQ(Bytes(w.instruction.data.begin() + 2, w.instruction.data.begin() + 12), c.head) << c.pid;
  }
}

TEST(PageInstructionsPsi, ReadPsi) {
  ReadPsi r = readPsiInstruction("70000");
  EXPECT_EQ(r.instruction.data, (Bytes{0x25, 0x01, 0x01, 0x11, 0x70}));
  EXPECT_EQ(r.addressText, "70000");
  EXPECT_EQ(readPsiInstruction("").addressText, "0");
  EXPECT_EQ(erasePsiInstruction().data, (Bytes{0x22, 0x01}));
}

TEST(PageInstructionsPcr, CorrectorAndTestPid) {
  struct Mode {
    bool on, direct;
    std::uint8_t mode;
  } modes[] = {{false, false, 0x00}, {false, true, 0x00}, {true, false, 0x01}, {true, true, 0x11}};
  for (const auto& m : modes) EXPECT_EQ(setPcrCorrectorInstruction(m.on, m.direct).data, (Bytes{0x30, m.mode}));

  struct Pid {
    const char* text;
    Bytes data;
    const char* back;
  } pids[] = {{"8191", {0x31, 0x01, 0x1F, 0xFF}, "8191"},
              {"10000", {0x31, 0x01, 0x1F, 0xFF}, "8191"},
              {"", {0x31, 0x01, 0x03, 0xE8}, "1000"},
              {"-4", {0x31, 0x01, 0x00, 0x00}, "0"}};
  for (const auto& p : pids) {
    SetTestPcrPid s = setTestPcrPidInstruction(p.text);
    EXPECT_EQ(s.instruction.data, p.data) << p.text;
    EXPECT_EQ(s.pidText, p.back);
  }
}
