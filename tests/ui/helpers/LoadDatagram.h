#pragma once
// The load datagram a page is expected to send for one 0xE0 instruction, laid out
// byte by byte here rather than with the production encoders, so that a page test
// checks the framing as well as the data.
#include <QByteArray>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "text/Bytes.h"
#include "helpers/UiHarness.h"

namespace uitest {

// framing 0 CW-Net, 1 DDToIP; the same label outside and inside.
inline tessaly::Bytes expectedLoadDatagram(int framing, std::uint8_t sdi, std::string_view label,
                                           const tessaly::Bytes& data, std::uint8_t opcode = 0xE0) {
  auto text = [](tessaly::Bytes& b, std::string_view s) {
    for (char c : s) b.push_back(static_cast<std::uint8_t>(c));
  };
  tessaly::Bytes message;
  text(message, "DDToIP");
  text(message, label);
  message.push_back(0x01);
  message.push_back(opcode);
  message.push_back(static_cast<std::uint8_t>(data.size() >> 8));
  message.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
  message.insert(message.end(), data.begin(), data.end());

  tessaly::Bytes d;
  if (framing == 1) {
    text(d, "DDToIP");
    text(d, label);
    d.push_back(0x01);
    d.push_back(0x85);
    const std::size_t n = message.size() + 1;
    d.push_back(static_cast<std::uint8_t>(n >> 8));
    d.push_back(static_cast<std::uint8_t>(n & 0xFF));
    d.push_back(sdi);
  } else {
    text(d, "CW-Net");
    d.push_back(0x18);
    d.push_back(sdi);
    text(d, "SLoad Data");
  }
  d.insert(d.end(), message.begin(), message.end());
  return d;
}

// Hex text of a byte string, for readable failure messages.
inline QByteArray hexOf(const tessaly::Bytes& b) {
  return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())).toHex(' ');
}

// The one datagram a click sent: to 127.0.0.1 at the device port, byte for byte the
// expected load datagram, with the lengths an SDI message of sdiLength bytes gives.
// Check QTest::currentTestFailed() after it.
inline void verifyOneInstructionSent(Harness& h, int framing, int sdi, std::string_view label,
                                     const tessaly::Bytes& data, std::size_t sdiLength) {
  QCOMPARE(h.endpoint.sent.size(), std::size_t{1});
  const auto& s = h.endpoint.sent[0];
  QCOMPARE(s.host, std::string("127.0.0.1"));
  QCOMPARE(s.port, h.devicePort);
  const tessaly::Bytes expected = expectedLoadDatagram(framing, static_cast<std::uint8_t>(sdi), label, data);
  QCOMPARE(hexOf(s.data), hexOf(expected));
  QCOMPARE(s.data.size(), sdiLength + (framing ? 26 : 18));
  if (framing) QCOMPARE(std::size_t(s.data[23] << 8 | s.data[24]), sdiLength + 1);
}

// One instruction button of a page: how to fill the page, the button, the label and
// data it must send, and the edit texts the send writes back.
struct InstructionCase {
  const char* name;
  std::function<void(Harness&)> setup;
  const char* button;
  const char* label;
  tessaly::Bytes data;
  std::size_t sdiLength;  // length of the SDI message inside
  std::vector<std::pair<const char*, const char*>> editsAfter;
};

// Rows "CW-Net: <name>" at SDI address cwNetSdi and "DDToIP: <name>" at ddtoipSdi,
// with the columns index, framing and sdi.
inline void addInstructionRows(const std::vector<InstructionCase>& cases, int cwNetSdi, int ddtoipSdi) {
  QTest::addColumn<int>("index");
  QTest::addColumn<int>("framing");
  QTest::addColumn<int>("sdi");
  for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
    QTest::addRow("CW-Net: %s", cases[static_cast<std::size_t>(i)].name) << i << 0 << cwNetSdi;
    QTest::addRow("DDToIP: %s", cases[static_cast<std::size_t>(i)].name) << i << 1 << ddtoipSdi;
  }
}

// Clicks the case's button on a fresh window and checks the one datagram and the
// edits written back.
inline void verifyInstructionCase(const InstructionCase& c, int framing, int sdi) {
  Harness h;
  h.selectLink(framing, sdi);
  c.setup(h);
  h.click(c.button);
  verifyOneInstructionSent(h, framing, sdi, c.label, c.data, c.sdiLength);
  if (QTest::currentTestFailed()) return;
  for (const auto& [edit, text] : c.editsAfter) QCOMPARE(h.text(edit), QString(text));
  QCOMPARE(h.nonLoopbackSends(), 0);
}

}  // namespace uitest
