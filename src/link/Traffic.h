#pragma once
// What crossed the wire: one record per datagram sent, received or dropped on
// arrival, handed to a tap as it happens. A tap is called on the thread that owns the
// socket, once per datagram, and must return at once (O(1), never waiting on I/O or
// on another thread).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/Bytes.h"

namespace tessaly {

enum class TrafficDirection : std::uint8_t { Sent, Received, Dropped };

// Why an arriving datagram never reached the receiver.
enum class DropReason : std::uint8_t {
  None,
  OtherSender,  // not from the address the last datagram went to
  TooLong,      // longer than the endpoint takes; only its first bytes are kept
  OtherBoard,   // a status answer from a board at another SDI address than the request's
};

struct TrafficRecord {
  std::int64_t monotonicNs = 0;  // steady clock, see trafficNow()
  TrafficDirection direction = TrafficDirection::Sent;
  DropReason dropReason = DropReason::None;
  // IPv4 addresses and ports in host order. The local address is the one the
  // datagram really left from or arrived at (0 when unknown).
  std::uint32_t localAddress = 0;
  std::uint16_t localPort = 0;
  std::uint32_t peerAddress = 0;
  std::uint16_t peerPort = 0;
  // The datagram's length on the wire; data may hold fewer bytes (TooLong).
  std::uint32_t wireLength = 0;
  Bytes data;
};

inline std::int64_t trafficNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class TrafficTap {
 public:
  virtual ~TrafficTap() = default;
  virtual void record(const TrafficRecord& r) = 0;
};

// Hands each record to every tap added, in the order added. Taps are not owned.
class TrafficFanout : public TrafficTap {
 public:
  void add(TrafficTap* tap) {
    if (tap) taps_.push_back(tap);
  }
  void remove(TrafficTap* tap) {
    for (auto it = taps_.begin(); it != taps_.end();)
      it = (*it == tap) ? taps_.erase(it) : it + 1;
  }
  bool empty() const { return taps_.empty(); }
  void record(const TrafficRecord& r) override {
    for (TrafficTap* t : taps_) t->record(r);
  }

 private:
  std::vector<TrafficTap*> taps_;
};

}  // namespace tessaly
