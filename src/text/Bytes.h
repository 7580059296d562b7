#pragma once
// The byte string every datagram is built from and read as.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

using Bytes = std::vector<std::uint8_t>;

// The 8-bit characters of a text, byte for byte.
inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Appends by resize and copy. GCC 12 at -O2 reports impossible sizes for copies
// into a freshly grown vector (a known false positive), so it is silenced here only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
inline void appendRaw(Bytes& to, const void* data, std::size_t size) {
  if (size == 0) return;
  const std::size_t at = to.size();
  to.resize(at + size);
  std::memcpy(to.data() + at, data, size);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
inline void append(Bytes& to, const Bytes& more) { appendRaw(to, more.data(), more.size()); }
inline void append(Bytes& to, std::string_view text) { appendRaw(to, text.data(), text.size()); }

// Big-endian numbers of 1 to 4 bytes; each byte is the low 8 bits of its shift.
inline void appendBE16(Bytes& to, std::uint32_t v) {
  to.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  to.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
inline void appendBE24(Bytes& to, std::uint32_t v) {
  to.push_back(static_cast<std::uint8_t>((v >> 16) & 0xFF));
  appendBE16(to, v);
}
inline void appendBE32(Bytes& to, std::uint32_t v) {
  to.push_back(static_cast<std::uint8_t>((v >> 24) & 0xFF));
  appendBE24(to, v);
}

}  // namespace tessaly
