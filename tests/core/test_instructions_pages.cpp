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
    int input;
    std::int32_t pid, outputPid;
    Bytes data;
  } cases[] = {
      {1, 500, 500, {0x11, 0x01, 0x00, 0x00, 0x01, 0xF4, 0xC1, 0xF4}},
      {4, 500, 8191, {0x11, 0x01, 0x00, 0x03, 0x01, 0xF4, 0xDF, 0xFF}},
      {6, 8191, 8191, {0x11, 0x01, 0x00, 0x05, 0x1F, 0xFF, 0xDF, 0xFF}},
      {2, 0, 0, {0x11, 0x01, 0x00, 0x01, 0x00, 0x00, 0xC0, 0x00}},
      {3, 0, 16, {0x11, 0x01, 0x00, 0x02, 0x00, 0x00, 0xC0, 0x10}},
  };
  for (const auto& c : cases) {
    LabelledInstruction w = writePidFilterInstruction(c.input, c.pid, c.outputPid);
    EXPECT_EQ(w.label, "Write PIDFilter");
    EXPECT_EQ(w.data, c.data) << c.pid;
  }
}

TEST(PageInstructionsMpx, ReadPidFilterStartsAtMultipleOfEight) {
  struct Case {
    std::int32_t pid;
    std::uint8_t hi, lo;
    std::int32_t start;
  } cases[] = {{503, 0x01, 0xF0, 496}, {8191, 0x1F, 0xF8, 8184}, {8184, 0x1F, 0xF8, 8184},
               {7, 0x00, 0x00, 0},     {0, 0x00, 0x00, 0}};
  for (const auto& c : cases) {
    LabelledInstruction r = readPidFilterInstruction(5, c.pid);
    EXPECT_EQ(r.label, "Read  PIDFilter");
    EXPECT_EQ(r.data, (Bytes{0x14, 0x01, 0x00, 0x04, c.hi, c.lo})) << c.pid;
    EXPECT_EQ(pidFilterReadStart(c.pid), c.start);
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
      {writePidFilterInstruction(1, 1, 1), "Write PIDFilter", 33},
      {readPidFilterInstruction(1, 1), "Read  PIDFilter", 31},
      {*setSectorInstruction(1, false, 0, 0), "Set Sector     ", 34},
      {erasePsiInstruction(), "Erase PSI      ", 27},
      {writePsiInstruction({}), "Write PSI      ", 238},
      {readPsiInstruction(0), "Read  PSI      ", 30},
      {setPcrCorrectorInstruction(true, false), "Set PCR Correct", 27},
      {setTestPcrPidInstruction(1), "Set PCR Correct", 29},
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
    int sector;
    bool enabled;
    std::int32_t start, end;
    Bytes data;
  } cases[] = {
      {3, true, 4096, 131071, {0x20, 0x01, 0xE2, 0x00, 0x10, 0x00, 0x01, 0xFF, 0xFF}},
      {1, false, 0, 0, {0x20, 0x01, 0x60, 0, 0, 0, 0, 0, 0}},
      {4, false, 0, 0, {0x20, 0x01, 0x63, 0, 0, 0, 0, 0, 0}},
      {2, true, 131071, 5, {0x20, 0x01, 0xE1, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x05}},
  };
  for (const auto& c : cases) {
    auto s = setSectorInstruction(c.sector, c.enabled, c.start, c.end);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->data, c.data) << c.sector;
  }
  for (int sector : {0, 5, 12}) EXPECT_FALSE(setSectorInstruction(sector, true, 1, 1).has_value());
  // The board's own twelve sectors, beyond the page's four rows.
  struct Any {
    int sector;
    bool enabled;
    std::optional<std::uint8_t> sectorByte;
  } any[] = {{1, false, 0x60}, {5, false, 0x64}, {12, true, 0xEB}, {0, true, std::nullopt}, {13, true, std::nullopt}};
  for (const auto& a : any) {
    auto s = sectorInstruction(a.sector, a.enabled, 0, 4095);
    ASSERT_EQ(s.has_value(), a.sectorByte.has_value()) << a.sector;
    if (s) EXPECT_EQ(s->data, (Bytes{0x20, 0x01, *a.sectorByte, 0, 0, 0, 0x00, 0x0F, 0xFF})) << a.sector;
  }
}

TEST(PageInstructionsPsi, WritePsi) {
  PsiWrite def{1000, 0, 10, PsiPacketType::Ascending, 15, false};
  LabelledInstruction w = writePsiInstruction(def);
  Bytes expected{0x21, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x47, 0x03, 0xE8, 0x10};
  for (int k = 4; k < 204; ++k) expected.push_back(static_cast<std::uint8_t>(k + 1));
  EXPECT_EQ(w.data, expected);
  EXPECT_EQ(w.data.size(), 213u);
  EXPECT_EQ(w.data.back(), 0xCC);
  EXPECT_EQ(writePsiInstruction({}).data, expected);  // the page's starting values

  LabelledInstruction desc = writePsiInstruction({1000, 0, 10, PsiPacketType::Descending, 15, true});
  const Bytes& d = desc.data;
  EXPECT_EQ(d[8], 0x01);
  EXPECT_EQ(Bytes(d.end() - 3, d.end()), (Bytes{0x03, 0x02, 0x01}));
  EXPECT_EQ(d[13], 200);

  LabelledInstruction fix = writePsiInstruction({1000, 0, 10, PsiPacketType::Fix, 44, false});
  EXPECT_EQ(Bytes(fix.data.begin() + 13, fix.data.end()), Bytes(200, 0x2C));

  // A record's own packet goes out byte for byte, after the same head.
  Bytes packet(204, 0xA5);
  packet[0] = 0x47;
  LabelledInstruction raw = writePsiRecordInstruction(70000, 10, true, packet);
  Bytes head{0x21, 0x01, 0x01, 0x11, 0x70, 0x00, 0x00, 0x0A, 0x01};
  EXPECT_EQ(Bytes(raw.data.begin(), raw.data.begin() + 9), head);
  EXPECT_EQ(Bytes(raw.data.begin() + 9, raw.data.end()), packet);
}

TEST(PageInstructionsPsi, WritePsiFieldsAtTheirLimits) {
  struct Case {
    PsiWrite in;
    Bytes head;  // address, timer, auto CC, sync, PID
  } cases[] = {
      {{1000, 0, 10, PsiPacketType::Fix, 15, false}, {0, 0, 0, 0, 0, 0x0A, 0x00, 0x47, 0x03, 0xE8}},
      {{8191, 131071, 16777215, PsiPacketType::Fix, 255, true},
       {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x47, 0x1F, 0xFF}},
      {{0, 0, 0, PsiPacketType::Fix, 255, false}, {0, 0, 0, 0, 0, 0, 0, 0x47, 0, 0}},
  };
  for (const auto& c : cases) {
    LabelledInstruction w = writePsiInstruction(c.in);
    EXPECT_EQ(Bytes(w.data.begin() + 2, w.data.begin() + 12), c.head) << c.in.pid;
    EXPECT_EQ(w.data.back(), c.in.fix);
  }
}

TEST(PageInstructionsPsi, ReadPsi) {
  EXPECT_EQ(readPsiInstruction(70000).data, (Bytes{0x25, 0x01, 0x01, 0x11, 0x70}));
  EXPECT_EQ(readPsiInstruction(0).data, (Bytes{0x25, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(erasePsiInstruction().data, (Bytes{0x22, 0x01}));
}

TEST(PageInstructionsPcr, CorrectorAndTestPid) {
  struct Mode {
    bool on, direct;
    std::uint8_t mode;
  } modes[] = {{false, false, 0x00}, {false, true, 0x00}, {true, false, 0x01}, {true, true, 0x11}};
  for (const auto& m : modes) EXPECT_EQ(setPcrCorrectorInstruction(m.on, m.direct).data, (Bytes{0x30, m.mode}));

  struct Pid {
    std::int32_t pid;
    Bytes data;
  } pids[] = {{8191, {0x31, 0x01, 0x1F, 0xFF}}, {1000, {0x31, 0x01, 0x03, 0xE8}}, {0, {0x31, 0x01, 0x00, 0x00}}};
  for (const auto& p : pids) EXPECT_EQ(setTestPcrPidInstruction(p.pid).data, p.data) << p.pid;
}
