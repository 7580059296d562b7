#pragma once
// Reads structured values off a fuzzer's byte string; past the end everything is 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>((byte() << 8) | byte()); }
  bool flag() { return byte() & 1; }
  // A chunk of at most `max` bytes, its length taken from the input.
  std::vector<std::uint8_t> chunk(std::size_t max) {
    std::size_t n = u16() % (max + 1);
    if (n > size_ - pos_) n = size_ - pos_;
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::string text(std::size_t max) {
    auto c = chunk(max);
    return std::string(c.begin(), c.end());
  }
  std::vector<std::uint8_t> rest() {
    std::vector<std::uint8_t> out(data_ + pos_, data_ + size_);
    pos_ = size_;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};
