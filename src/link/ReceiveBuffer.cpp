#include "link/ReceiveBuffer.h"

#include <algorithm>
#include <cstdint>

namespace tessaly {

void ReceiveBuffer::store(const std::uint8_t* data, std::size_t length) {
  if (length > data_.size()) data_.resize(length, 0);
  if (length > 0) std::copy(data, data + length, data_.begin());
  pos_ = length;
}

std::uint32_t ReceiveBuffer::read(int n) {
  if (n < 1) n = 1;
  if (n > 4) n = 4;
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t offset = pos_ + static_cast<std::size_t>(i);
    v = (v << 8) | (offset < pos_ ? 0 : at(offset));  // a position near the top never wraps to 0
  }
  pos_ = pos_ + static_cast<std::size_t>(n) < pos_ ? SIZE_MAX : pos_ + static_cast<std::size_t>(n);
  return v;
}

}  // namespace tessaly
