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
    std::uint32_t serial;
    Bytes data;
  } cases[] = {
      {16, {0x00, 0x00, 0x00, 0x10}},
      {56765, {0x00, 0x00, 0xDD, 0xBD}},
      {2147483648u, {0x80, 0x00, 0x00, 0x00}},
      {4294967295u, {0xFF, 0xFF, 0xFF, 0xFF}},
      {0, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    LabelledInstruction s = setSerialInstruction(c.serial);
    EXPECT_EQ(s.label, "Set Serial Num ");
    EXPECT_EQ(s.opcode, 0x10);
    EXPECT_EQ(s.data, c.data) << c.serial;
  }
}

TEST(GeneralInstructions, Type) {
  struct Case {
    std::uint16_t type;
    Bytes data;
  } cases[] = {{4852, {0x12, 0xF4}}, {4464, {0x11, 0x70}}, {65535, {0xFF, 0xFF}}, {0, {0, 0}}};
  for (const auto& c : cases) {
    LabelledInstruction t = setTypeInstruction(c.type);
    EXPECT_EQ(t.label, "Set Type       ");
    EXPECT_EQ(t.opcode, 0x11);
    EXPECT_EQ(t.data, c.data) << c.type;
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
  LabelledInstruction addr = setAddressInstruction(15);
  Bytes dd = addr.datagram(Framing::DDToIP, 3);
  EXPECT_EQ(dd, concat({bytesOf("DDToIPSet Address    "), Bytes{0x01, 0x85, 0x00, 0x1B, 0x03},
                        bytesOf("DDToIPSet Address    "), Bytes{0x01, 0x14, 0x00, 0x01, 0x0F}}));
}

TEST(GeneralInstructions, MessageLengths) {
  struct Case {
    LabelledInstruction i;
    std::size_t sdi;
  } cases[] = {{setSerialInstruction(1), 29},
               {setTypeInstruction(1), 27},
               {resetInstruction(), 27},
               {setUserTextInstruction(""), 40},
               {setAddressInstruction(1), 26}};
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
    int source, packetSize;
    bool highPriority;
    std::uint8_t byte;
  } cases[] = {{4, 204, false, 0x04}, {0, 188, true, 0xA0}, {8, 188, false, 0x88}, {1, 204, true, 0x21}};
  for (const auto& c : cases) EXPECT_EQ(streamFormatByte(c.source, c.packetSize, c.highPriority), c.byte);
}

TEST(StreamFormat, PacketsBySource) {
  const Bytes formatTs3{0xE0, 0x00, 0x03, 0x27, 0x01, 0x04};
  const Bytes nco3M{0x40, 0x00, 0x05, 0x01, 0x00, 0x2D, 0xC6, 0xC0};
  const Bytes pll3M{0xE0, 0x00, 0x08, 0x28, 0x01, 0x00, 0x22, 0x02, 0x20, 0x13, 0xCC};

  StreamFormatMessage ts = streamFormatMessage({4, 204, false, 3000000, 97753});
  EXPECT_EQ(ts.instructions, formatTs3);
  EXPECT_FALSE(ts.pllReport.has_value());

  StreamFormatMessage nco = streamFormatMessage({0, 188, true, 3000000, 3000000});
  EXPECT_EQ(nco.instructions, concat({nco3M, Bytes{0xE0, 0x00, 0x03, 0x27, 0x01, 0xA0}}));
  EXPECT_FALSE(nco.pllReport.has_value());

  StreamFormatMessage pll = streamFormatMessage({1, 188, false, 120, 3000000});
  EXPECT_EQ(pll.instructions, concat({pll3M, Bytes{0xE0, 0x00, 0x03, 0x27, 0x01, 0x81}}));
  ASSERT_TRUE(pll.pllReport.has_value());
  ASSERT_GE(pll.pllReport->size(), 2u);
  EXPECT_EQ(pll.pllReport->front(), "PLL Info:");
  EXPECT_EQ(pll.pllReport->back(), " h0022 h022013CC");

  EXPECT_EQ(pll.label, "Set Output Form");
  Bytes dd = pll.datagram(Framing::DDToIP, 2);
  EXPECT_EQ(Bytes(dd.begin(), dd.begin() + 26),
            concat({bytesOf("DDToIPSet Output Form"), Bytes{0x01, 0x85, 0x00, 0x28, 0x02}}));
  EXPECT_EQ(nco.datagram(Framing::CwNet, 2),
            concat({bytesOf("CW-Net"), Bytes{0x18, 0x02}, bytesOf("SLoad Data"), nco.sdiMessage()}));
}
