#pragma once
// Which request an answer answers, as the Wireshark dissector pairs them: the last
// datagram sent to the answer's sender from the port it arrived at, in the same
// framing ("DDToIP" or "CW-Net" at its start). An answer with neither magic (a
// short interrupt notice) belongs to the last request in either framing.
#include <cstdint>
#include <map>
#include <tuple>

#include "link/Traffic.h"

namespace tessaly {

class AnswerMatcher {
 public:
  static constexpr std::int64_t kNoRequest = -1;

  // Takes the records in the order they crossed the wire. For a received datagram
  // that answers a request seen before, gives the time since that request in
  // nanoseconds; kNoRequest for everything else (sent, dropped, unmatched).
  std::int64_t take(const TrafficRecord& r);
  void clear() { lastSent_.clear(); }

 private:
  // peer address, peer port, local port, framing (1 DDToIP, 2 CW-Net)
  using Key = std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, int>;
  std::map<Key, std::int64_t> lastSent_;  // when the last request went
};

}  // namespace tessaly
