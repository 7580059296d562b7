#pragma once
// What a datagram says, for people: one line ("DDToIP read, SDI 1, 1024 bytes",
// "CW-Net status answer, SDI 1, device h1A") and, on request, every field with its
// byte offset and length. Reads only the bytes it is given: a length field that
// runs past the end is shown as such, never followed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/Traffic.h"

namespace tessaly {

struct WireField {
  int depth = 0;            // 0 for the outer framing; nested parts one deeper
  std::string name;
  std::string value;
  std::size_t offset = 0;   // into the datagram
  std::size_t length = 0;   // bytes of the datagram the field covers (0: none present)
};

struct WireDecode {
  std::string summary;
  std::vector<WireField> fields;
};

// Which way a datagram went, seen from the panel. Only an answer can be an
// interrupt notice (any answer of 26 bytes or fewer is one); a short datagram the
// panel sent is read for what it holds.
enum class WireSide { Either, Sent, Received };

// The one line only: cheap enough for every row a table paints.
std::string summarizeDatagram(const std::uint8_t* data, std::size_t size, WireSide side = WireSide::Either);
inline std::string summarizeDatagram(const Bytes& d, WireSide side = WireSide::Either) {
  return summarizeDatagram(d.data(), d.size(), side);
}
// The line and the fields.
WireDecode decodeDatagram(const std::uint8_t* data, std::size_t size, WireSide side = WireSide::Either);

// A traffic record: a dropped datagram says why before what it holds.
std::string summarizeRecord(const TrafficRecord& r);
WireDecode decodeRecord(const TrafficRecord& r);

}  // namespace tessaly
