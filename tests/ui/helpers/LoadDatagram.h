#pragma once
// The load datagram a page is expected to send for one 0xE0 instruction, laid out
// byte by byte here rather than with the production encoders, so that a page test
// checks the framing as well as the data.
#include <QByteArray>
#include <cstdint>
#include <string_view>

#include "link/Bytes.h"

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

}  // namespace uitest
