#include <gtest/gtest.h>

#include "link/Framing.h"

using namespace tessaly;

namespace {
Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) append(out, p);
  return out;
}
}  // namespace

TEST(Framing, InstructionWithoutDataIsThreeBytes) {
  EXPECT_EQ(encodeInstruction(0x01, {}), (Bytes{0x01, 0x00, 0x00}));
  Bytes big(300, 0xAB);
  Bytes enc = encodeInstruction(0xE0, big);
  ASSERT_EQ(enc.size(), 303u);
  EXPECT_EQ(enc[1], 0x01);
  EXPECT_EQ(enc[2], 0x2C);
}

TEST(Framing, WorkedExampleSetAddressInBothFramings) {
  const std::string label = "Set Address    ";
  Bytes sdi = encodeSdiMessage(label, encodeInstruction(0x14, {0x05}));
  EXPECT_EQ(sdi, concat({bytesOf("DDToIP"), bytesOf(label), Bytes{0x01, 0x14, 0x00, 0x01, 0x05}}));
  ASSERT_EQ(sdi.size(), 26u);

  Bytes dd = encodeLoadDatagram(Framing::DDToIP, label, 3, sdi);
  EXPECT_EQ(dd, concat({bytesOf("DDToIP"), bytesOf(label), Bytes{0x01, 0x85, 0x00, 0x1B, 0x03}, sdi}));
  EXPECT_EQ(dd.size(), 52u);

  Bytes cw = encodeLoadDatagram(Framing::CwNet, label, 3, sdi);
  EXPECT_EQ(cw, concat({bytesOf("CW-Net"), Bytes{0x18, 0x03}, bytesOf("SLoad Data"), sdi}));
  EXPECT_EQ(cw.size(), 44u);
}

TEST(Framing, ReadRequests) {
  struct Case {
    Framing framing;
    std::uint8_t address;
    Bytes expected;
  } cases[] = {
      {Framing::DDToIP, 15,
       concat({bytesOf("DDToIPQuillmarsh  SDI"), Bytes{0x01, 0x86, 0x00, 0x03, 0x0F, 0x04, 0x00}})},
      {Framing::DDToIP, 1, concat({bytesOf("DDToIPQuillmarsh  SDI"), Bytes{0x01, 0x86, 0x00, 0x03, 0x01, 0x04, 0x00}})},
      {Framing::CwNet, 15, concat({bytesOf("CW-Net"), Bytes{0x09, 0x0F}, bytesOf("Read Data ")})},
  };
  for (const auto& c : cases) {
    Bytes got = encodeReadDatagram(c.framing, c.address);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(got.size(), c.framing == Framing::DDToIP ? 28u : 18u);
  }
}

TEST(Framing, UserLabelIsCutOrZeroFilled) {
  EXPECT_EQ(userLabel("ab"), std::string("ab") + std::string(13, '\0'));
  EXPECT_EQ(userLabel("0123456789ABCDEFGH"), "0123456789ABCDE");
  EXPECT_EQ(userLabel(""), std::string(15, '\0'));
}

TEST(Framing, AnswerClassification) {
  struct Case {
    std::size_t length;
    std::uint8_t b6, b22;
    std::optional<int> base;
  } cases[] = {
      {1032, 0x09, 0x00, 8},  {1032, 0x08, 0xF3, std::nullopt}, {1049, 0x00, 0xF3, 25},
      {1049, 0x09, 0xF2, std::nullopt}, {1048, 0x09, 0xF3, std::nullopt}, {1033, 0x09, 0xF3, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(classifyStatusAnswer(c.length, c.b6, c.b22), c.base) << c.length;
  // Over whole datagrams, a short one never reads past its end.
  Bytes dd(1049, 0);
  dd[22] = 0xF3;
  EXPECT_EQ(classifyStatusAnswer(dd), 25);
  EXPECT_EQ(classifyStatusAnswer(Bytes{}), std::nullopt);
  EXPECT_EQ(classifyStatusAnswer(Bytes(7, 0x09)), std::nullopt);
  EXPECT_TRUE(isInterruptNotice(0));
  EXPECT_TRUE(isInterruptNotice(26));
  EXPECT_FALSE(isInterruptNotice(27));
}
