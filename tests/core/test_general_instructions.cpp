#include <gtest/gtest.h>

#include "instructions/GeneralInstructions.h"

using namespace tessaly;

namespace {
Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) append(out, p);
  return out;
}
}  // namespace

TEST(GeneralInstructions, SerialNumber) {
  struct Case {
    const char* text;
    Bytes data;
    const char* back;
  } cases[] = {
      {"$10", {0x00, 0x00, 0x00, 0x10}, "16"},
      {"56765", {0x00, 0x00, 0xDD, 0xBD}, "56765"},
      {"2147483648", {0x00, 0x00, 0x00, 0x00}, "0"},
      {"$FFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"-1", {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"abc", {0x00, 0x00, 0x00, 0x00}, "0"},
  };
  for (const auto& c : cases) {
    SerialInstruction s = setSerialInstruction(c.text);
    EXPECT_EQ(s.instruction.label, "Set Serial Num ");
    EXPECT_EQ(s.instruction.opcode, 0x10);
    EXPECT_EQ(s.instruction.data, c.data) << c.text;
    EXPECT_EQ(s.serialText, c.back) << c.text;
  }
}

TEST(GeneralInstructions, Type) {
  struct Case {
    const char* text;
    Bytes data;
    const char* back;
  } cases[] = {
      {"4852", {0x12, 0xF4}, "4852"}, {"70000", {0x11, 0x70}, "4464"}, {"-1", {0xFF, 0xFF}, "65535"}, {"", {0, 0}, "0"}};
  for (const auto& c : cases) {
    TypeInstruction t = setTypeInstruction(c.text);
    EXPECT_EQ(t.instruction.label, "Set Type       ");
    EXPECT_EQ(t.instruction.opcode, 0x11);
    EXPECT_EQ(t.instruction.data, c.data) << c.text;
    EXPECT_EQ(t.typeText, c.back) << c.text;
  }
}

TEST(GeneralInstructions, ResetUserTextAddress) {
  LabelledInstruction reset = resetInstruction();
  EXPECT_EQ(reset.label, "Set Type       ");
  EXPECT_EQ(reset.encoded(), (Bytes{0x01, 0x00, 0x02, 0x01, 0x00}));

  EXPECT_EQ(setUserTextInstruction("ab").data, concat({bytesOf("ab"), Bytes(13, 0x00)}));
  EXPECT_EQ(setUserTextInstruction("ABCDEFGHIJKLMNO").data, bytesOf("ABCDEFGHIJKLMNO"));
  EXPECT_EQ(setUserTextInstruction("ABCDEFGHIJKLMNOPQ").data, bytesOf("ABCDEFGHIJKLMNO"));
  EXPECT_EQ(setUserTextInstruction("x").label, "Set User Text  ");

  // Address 15 chosen as the new address, sent to the board at SDI address 3.
  LabelledInstruction addr = setAddressInstruction(14);
  Bytes dd = addr.datagram(Framing::DDToIP, 3);
  EXPECT_EQ(dd, concat({bytesOf("DDToIPSet Address    "), Bytes{0x01, 0x85, 0x00, 0x1B, 0x03},
                        bytesOf("DDToIPSet Address    "), Bytes{0x01, 0x14, 0x00, 0x01, 0x0F}}));
}

TEST(GeneralInstructions, MessageLengths) {
  struct Case {
    LabelledInstruction i;
    std::size_t sdi;
  } cases[] = {{setSerialInstruction("1").instruction, 29},
               {setTypeInstruction("1").instruction, 27},
               {resetInstruction(), 27},
               {setUserTextInstruction(""), 40},
               {setAddressInstruction(0), 26}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.i.sdiMessage().size(), c.sdi);
    Bytes dd = c.i.datagram(Framing::DDToIP, 1);
    EXPECT_EQ(dd.size(), c.sdi + 26);
    EXPECT_EQ(dd[24], c.sdi + 1);
    EXPECT_EQ(c.i.datagram(Framing::CwNet, 1).size(), c.sdi + 18);
  }
}

TEST(StreamFormat, FormatByte) {
  struct Case {
    int source, format, priority;
    std::uint8_t byte;
  } cases[] = {{4, 1, 0, 0x04}, {0, 0, 1, 0xA0}, {8, 0, 0, 0x88}, {1, 1, 1, 0x21}};
  for (const auto& c : cases) EXPECT_EQ(streamFormatByte(c.source, c.format, c.priority), c.byte);
}

TEST(StreamFormat, PacketsBySource) {
  const Bytes formatTs3{0xE0, 0x00, 0x03, 0x27, 0x01, 0x04};
  const Bytes nco3M{0x40, 0x00, 0x05, 0x01, 0x00, 0x2D, 0xC6, 0xC0};
  const Bytes pll3M{0xE0, 0x00, 0x08, 0x28, 0x01, 0x00, 0x22, 0x02, 0x20, 0x13, 0xCC};

  StreamFormatMessage ts = streamFormatMessage({4, 1, 0, "abc", "1000"});
  EXPECT_EQ(ts.instructions, formatTs3);
  EXPECT_FALSE(ts.memoLines.has_value());
  EXPECT_EQ(ts.ncoText, "3000000");
  EXPECT_EQ(ts.pllText, "97753");

  StreamFormatMessage nco = streamFormatMessage({0, 0, 1, "3000000", "3000000"});
  EXPECT_EQ(nco.instructions, concat({nco3M, Bytes{0xE0, 0x00, 0x03, 0x27, 0x01, 0xA0}}));
  EXPECT_FALSE(nco.memoLines.has_value());

  StreamFormatMessage pll = streamFormatMessage({1, 0, 0, "50", "3000000"});
  EXPECT_EQ(pll.ncoText, "120");
  EXPECT_EQ(pll.instructions, concat({pll3M, Bytes{0xE0, 0x00, 0x03, 0x27, 0x01, 0x81}}));
  ASSERT_TRUE(pll.memoLines.has_value());
  ASSERT_GE(pll.memoLines->size(), 2u);
  EXPECT_EQ(pll.memoLines->front(), "PLL Info:");
  EXPECT_EQ(pll.memoLines->back(), " h0022 h022013CC");

  EXPECT_EQ(pll.label, "Set Output Form");
  Bytes dd = pll.datagram(Framing::DDToIP, 2);
  EXPECT_EQ(Bytes(dd.begin(), dd.begin() + 26),
            concat({bytesOf("DDToIPSet Output Form"), Bytes{0x01, 0x85, 0x00, 0x28, 0x02}}));
  EXPECT_EQ(nco.datagram(Framing::CwNet, 2),
            concat({bytesOf("CW-Net"), Bytes{0x18, 0x02}, bytesOf("SLoad Data"), nco.sdiMessage()}));
}

TEST(StreamFormat, WriteBacksAreClamped) {
  StreamFormatMessage m = streamFormatMessage({2, 0, 0, "99999999", "1000"});
  EXPECT_EQ(m.ncoText, "40500000");
  EXPECT_EQ(m.pllText, "97753");
}
