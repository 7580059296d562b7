#pragma once
// The receive buffer: a growable byte stream that holds the last accepted datagram
// from position 0. Bytes past the current datagram keep what an earlier, longer
// datagram left there. Reads never leave the stream: a byte outside it reads as 0.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly {

class ReceiveBuffer {
 public:
  explicit ReceiveBuffer(std::size_t initialSize = 1500) : data_(initialSize, 0) {}

  // Writes the datagram from position 0, growing the stream when needed.
  void store(const std::uint8_t* data, std::size_t length);

  std::size_t size() const { return data_.size(); }
  std::size_t position() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos; }

  // The byte at an absolute offset (0 outside the stream); does not move the position.
  std::uint8_t at(std::size_t offset) const { return offset < data_.size() ? data_[offset] : 0; }

  // Reads n (1..4) bytes at the position as one unsigned big-endian number and advances.
  std::uint32_t read(int n);
  std::uint32_t readAt(std::size_t offset, int n) {
    seek(offset);
    return read(n);
  }

  const std::vector<std::uint8_t>& bytes() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace tessaly
