#include "wire/AnswerMatch.h"

#include <cstring>

namespace tessaly {

namespace {

int framingOf(const Bytes& d) {
  if (d.size() < 6) return 0;
  if (std::memcmp(d.data(), "DDToIP", 6) == 0) return 1;
  if (std::memcmp(d.data(), "CW-Net", 6) == 0) return 2;
  return 0;
}

}  // namespace

std::int64_t AnswerMatcher::take(const TrafficRecord& r) {
  const int framing = framingOf(r.data);
  if (r.direction == TrafficDirection::Sent) {
    if (framing) lastSent_[Key{r.peerAddress, r.peerPort, r.localPort, framing}] = r.monotonicNs;
    return kNoRequest;
  }
  if (r.direction != TrafficDirection::Received) return kNoRequest;
  bool found = false;
  std::int64_t sentNs = 0;
  for (int f = 1; f <= 2; ++f) {
    if (framing && f != framing) continue;
    const auto it = lastSent_.find(Key{r.peerAddress, r.peerPort, r.localPort, f});
    if (it != lastSent_.end() && (!found || it->second > sentNs)) {
      sentNs = it->second;
      found = true;
    }
  }
  return found ? r.monotonicNs - sentNs : kNoRequest;
}

}  // namespace tessaly
