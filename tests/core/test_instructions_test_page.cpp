#include <gtest/gtest.h>

#include "instructions/InstructionTest.h"
#include "text/Hex.h"

using namespace tessaly;

namespace {

std::array<InstructionRow, kInstructionRows> noRows() { return {}; }

std::string hexLine(const std::string& prefix, const Bytes& bytes) {
  std::string s = prefix;
  for (auto b : bytes) s += dollarHex(b) + " ";
  return s;
}

}  // namespace

TEST(InstructionTestCleaning, Filters) {
  struct Case {
    const char* in;
    const char* opcode;
    const char* data;
  } cases[] = {
      {"", "0", "0"},
      {"x1F", "1F", "1F"},
      {"a5", "A5", "A5"},
      {"$1f", "$1F", "$1F"},
      {" -5, +6 ,g7", "567", "5,6,7"},
      {"xyz", "0", "0"},
      {",", "0", ","},
      {"$00,$56,$78", "$00$56$78", "$00,$56,$78"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cleanOpcodeText(c.in), c.opcode) << c.in;
    EXPECT_EQ(cleanDataText(c.in), c.data) << c.in;
    // Cleaned texts clean to themselves.
    EXPECT_EQ(cleanDataText(cleanDataText(c.in)), cleanDataText(c.in)) << c.in;
  }
}

TEST(InstructionTestCleaning, NumberRule) {
  struct Case {
    const char* text;
    std::uint8_t value;
  } cases[] = {
      {"$1F", 0x1F}, {"31", 0x1F}, {"1F", 0x00}, {"A5", 0x00}, {"$A5", 0xA5}, {"300", 0x2C},
      {"$100", 0x00}, {"$", 0x00}, {"", 0x00}, {"99999999999", 0x00}, {"$FFFFFFFF", 0xFF},
  };
  for (const auto& c : cases) EXPECT_EQ(typedByte(c.text), c.value) << c.text;
  EXPECT_EQ(typedByte(cleanOpcodeText("x1F")), 0x00);
}

TEST(InstructionTestCleaning, Splitter) {
  struct Case {
    const char* cleaned;
    Bytes bytes;
  } cases[] = {
      {"0", {0x00}},
      {"5,", {0x05}},
      {",5", {0x00, 0x05}},
      {",,", {0x00, 0x00}},
      {"A5", {0x00}},
      {"$A5", {0xA5}},
      {"$00,$56,$78", {0x00, 0x56, 0x78}},
      {"300,$100,$1F,31", {0x2C, 0x00, 0x1F, 0x1F}},
  };
  for (const auto& c : cases) {
    SplitData d = splitDataText(c.cleaned);
    EXPECT_EQ(d.bytes, c.bytes) << c.cleaned;
    EXPECT_EQ(d.count, c.bytes.size()) << c.cleaned;
  }
}

TEST(InstructionTestBuild, DefaultRowOneAlone) {
  auto rows = noRows();
  rows[0] = {true, "$00", "$00,$56,$78"};
  rows[1] = {false, "x!", "junk"};
  InstructionMessage m = buildInstructionMessage(rows, "Quillmarsh Bt.", Framing::DDToIP, 3);

  EXPECT_EQ(m.instructions[0], (Bytes{0x00, 0x00, 0x03, 0x00, 0x56, 0x78}));
  EXPECT_EQ(m.counts[0], 3);
  // A cleared row is neither cleaned nor counted.
  EXPECT_FALSE(m.opcodeTexts[1].has_value());
  EXPECT_FALSE(m.dataTexts[1].has_value());
  EXPECT_FALSE(m.counts[1].has_value());
  EXPECT_TRUE(m.instructions[1].empty());

  const std::string label = std::string("Quillmarsh Bt.") + '\0';
  EXPECT_EQ(m.label, label);
  EXPECT_EQ(m.labelText, "Quillmarsh Bt.");

  Bytes expected = encodeLoadDatagram(Framing::DDToIP, label, 3, encodeSdiMessage(label, m.instructions[0]));
  EXPECT_EQ(m.datagram, expected);
  ASSERT_EQ(m.head.size(), 48u);
  EXPECT_EQ(Bytes(m.datagram.begin(), m.datagram.begin() + 48), m.head);
  EXPECT_EQ(m.head[23], 0x00);
  EXPECT_EQ(m.head[24], 23 + 6);

  auto lines = viewDumpLines(m);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines.back(), "IT1:    $00 $00 $03 $00 $56 $78 ");
}

TEST(InstructionTestBuild, EmptyDataGivesOneZeroByte) {
  auto rows = noRows();
  rows[2] = {true, "", ""};
  InstructionMessage m = buildInstructionMessage(rows, "", Framing::CwNet, 1);
  EXPECT_EQ(m.opcodeTexts[2], "0");
  EXPECT_EQ(m.dataTexts[2], "0");
  EXPECT_EQ(m.counts[2], 1);
  EXPECT_EQ(m.instructions[2], (Bytes{0x00, 0x00, 0x01, 0x00}));
}

TEST(InstructionTestBuild, WriteBacksKeepUnreadableItems) {
  auto rows = noRows();
  rows[0] = {true, "x1F", "a5"};
  rows[4] = {true, "$1f", "5,"};
  InstructionMessage m = buildInstructionMessage(rows, "", Framing::DDToIP, 1);
  EXPECT_EQ(m.opcodeTexts[0], "1F");
  EXPECT_EQ(m.dataTexts[0], "A5");
  EXPECT_EQ(m.instructions[0], (Bytes{0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(m.opcodeTexts[4], "$1F");
  EXPECT_EQ(m.instructions[4], (Bytes{0x1F, 0x00, 0x01, 0x05}));
  // Rows come in their order, nothing between them.
  Bytes tail(m.datagram.begin() + 48, m.datagram.end());
  EXPECT_EQ(tail, (Bytes{0x00, 0x00, 0x01, 0x00, 0x1F, 0x00, 0x01, 0x05}));
}

TEST(InstructionTestBuild, NoRowTicked) {
  struct Case {
    Framing framing;
    std::size_t size;
  } cases[] = {{Framing::DDToIP, 48}, {Framing::CwNet, 40}};
  for (const auto& c : cases) {
    InstructionMessage m = buildInstructionMessage(noRows(), "abc", c.framing, 7);
    EXPECT_EQ(m.datagram.size(), c.size);
    EXPECT_EQ(m.head, m.datagram);
    if (c.framing == Framing::DDToIP) {
      EXPECT_EQ(m.datagram[22], 0x85);
      EXPECT_EQ(m.datagram[23], 0x00);
      EXPECT_EQ(m.datagram[24], 0x17);
      EXPECT_EQ(m.datagram[25], 7);
    } else {
      EXPECT_EQ(m.datagram[6], 0x18);
      EXPECT_EQ(m.datagram[7], 7);
    }
  }
}

TEST(InstructionTestBuild, LongUserTextIsCut) {
  InstructionMessage m = buildInstructionMessage(noRows(), "0123456789ABCDEFGHIJ", Framing::DDToIP, 1);
  EXPECT_EQ(m.label, "0123456789ABCDE");
  EXPECT_EQ(m.labelText, "0123456789ABCDE");
}

TEST(InstructionTestBuild, ViewTwiceGivesSameDump) {
  auto rows = noRows();
  rows[0] = {true, " x$1f ", "1, a5 ,$ff,,"};
  rows[3] = {true, "300", ""};
  InstructionMessage first = buildInstructionMessage(rows, "label", Framing::DDToIP, 2);
  for (std::size_t n = 0; n < rows.size(); ++n) {
    if (first.opcodeTexts[n]) rows[n].opcodeText = *first.opcodeTexts[n];
    if (first.dataTexts[n]) rows[n].dataText = *first.dataTexts[n];
  }
  InstructionMessage second = buildInstructionMessage(rows, first.labelText, Framing::DDToIP, 2);
  EXPECT_EQ(viewDumpLines(first), viewDumpLines(second));
  EXPECT_EQ(first.datagram, second.datagram);
}

TEST(InstructionTestDump, HeadLinesByFraming) {
  auto rows = noRows();
  rows[1] = {true, "$12", "$34"};
  const std::string label = "ABCDEFGHIJKLMNO";

  InstructionMessage dd = buildInstructionMessage(rows, label, Framing::DDToIP, 3);
  const Bytes& h = dd.head;
  auto slice = [&](const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
  };
  std::vector<std::string> view = {
      "Step 1. - DDToIP Message bytes:",
      hexLine("Header: ", slice(h, 0, 11)),
      hexLine("        ", slice(h, 11, 22)),
      hexLine("        ", slice(h, 22, 26)),
      hexLine("        ", slice(h, 26, 37)),
      hexLine("        ", slice(h, 37, 48)),
      hexLine("IT2:    ", {0x12, 0x00, 0x01, 0x34}),
  };
  EXPECT_EQ(viewDumpLines(dd), view);
  EXPECT_EQ(view[3], "        $85 $00 $1B $03 ");

  std::vector<std::string> send = {
      "Step 1. - Processing DDToIP Message",
      hexLine(" Header: ", slice(h, 0, 11)),
      hexLine("         ", slice(h, 11, 22)),
      hexLine("         ", slice(h, 22, 26)),
      hexLine("         ", slice(h, 26, 37)),
      hexLine("         ", slice(h, 37, 48)),
      hexLine(" IT2:    ", {0x12, 0x00, 0x01, 0x34}),
      " ",
      "Step 2. - Sending Message",
  };
  EXPECT_EQ(sendDumpLines(dd), send);

  InstructionMessage cw = buildInstructionMessage(rows, label, Framing::CwNet, 3);
  const Bytes& c = cw.head;
  ASSERT_EQ(c.size(), 40u);
  std::vector<std::string> cwView = {
      "Step 1. - CW-Net Message bytes:",
      hexLine("Header: ", slice(c, 0, 9)),
      hexLine("        ", slice(c, 9, 18)),
      hexLine("        ", slice(c, 18, 29)),
      hexLine("        ", slice(c, 29, 40)),
      hexLine("IT2:    ", {0x12, 0x00, 0x01, 0x34}),
  };
  EXPECT_EQ(viewDumpLines(cw), cwView);
  EXPECT_EQ(sendDumpLines(cw)[0], "Step 1. - Processing CW-Net Message");
}

TEST(InstructionTestReport, SendAndAnswerLines) {
  EXPECT_EQ(sendSuccessLines("192.168.1.20", 56789, 15),
            (std::vector<std::string>{" Message sent sucessfuly.", " Destination IP: 192.168.1.20",
                                      " Destination port: 56789", " Destination SDI address: 15", " ",
                                      "Step 3. - Waiting for answer"}));
  EXPECT_EQ(sendFailureLines(), (std::vector<std::string>{" ", "Communication Error !", "Message cannot be sent."}));

  Bytes buf(1500, 0xEE);
  for (std::size_t i = 0; i < 25; ++i) buf[i] = static_cast<std::uint8_t>(i);
  // 25-byte view of a 27-byte datagram never reads past the view.
  EXPECT_EQ(answerLines(buf.data(), 25, 27),
            (std::vector<std::string>{" Answer received (27 bytes).", " DDToIP body: $16 $17 $18"}));
  // Bytes left in the buffer by an earlier, longer datagram are not shown.
  EXPECT_EQ(answerLines(buf.data(), buf.size(), 27)[1], " DDToIP body: $16 $17 $18 $EE $EE");
}

TEST(InstructionTestBuild, OversizeMessageIsFlagged) {
  auto rows = noRows();
  rows[0] = {true, "1", std::string(40000, ',')};
  rows[1] = {true, "2", std::string(30000, ',')};
  InstructionMessage m = buildInstructionMessage(rows, "", Framing::DDToIP, 1);
  EXPECT_EQ(m.counts[0], 40000);
  EXPECT_GT(m.datagram.size(), kMaxUdpPayload);
  EXPECT_FALSE(fitsOneDatagram(m.datagram));
  Bytes limit(kMaxUdpPayload, 0);
  EXPECT_TRUE(fitsOneDatagram(limit));
}
