#pragma once
// Big-endian puts at fixed offsets of a byte string, for the status block and the
// device answers. Every put stays inside the string: a put that would not fit
// writes nothing (the layouts are fixed, so that only guards against mistakes).
#include <cstddef>
#include <cstdint>

#include "text/Bytes.h"

namespace tessaly::emu {

class BlockWriter {
 public:
  BlockWriter(Bytes& out, std::size_t base) : out_(out), base_(base) {}

  void put8(std::size_t off, std::uint32_t v) { put(off, v, 1); }
  void put16(std::size_t off, std::uint32_t v) { put(off, v, 2); }
  void put24(std::size_t off, std::uint32_t v) { put(off, v, 3); }
  void put32(std::size_t off, std::uint32_t v) { put(off, v, 4); }
  void putBytes(std::size_t off, const std::uint8_t* data, std::size_t n) {
    if (base_ + off + n > out_.size()) return;
    for (std::size_t i = 0; i < n; ++i) out_[base_ + off + i] = data[i];
  }

 private:
  void put(std::size_t off, std::uint32_t v, int n) {
    if (base_ + off + static_cast<std::size_t>(n) > out_.size()) return;
    for (int i = 0; i < n; ++i)
      out_[base_ + off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((v >> (8 * (n - 1 - i))) & 0xFF);
  }
  Bytes& out_;
  std::size_t base_;
};

}  // namespace tessaly::emu
