#include "wire/TrafficLog.h"

namespace tessaly {

TrafficLog::TrafficLog(std::size_t maxRecords, std::size_t maxBytes)
    : maxRecords_(maxRecords ? maxRecords : 1), maxBytes_(maxBytes) {}

void TrafficLog::record(const TrafficRecord& r) {
  if (!haveOrigin_) {
    originNs_ = r.monotonicNs;
    haveOrigin_ = true;
  }
  records_.push_back(r);
  bytes_ += r.data.size();
  if (r.direction == TrafficDirection::Dropped) ++dropped_;
  ++endSeq_;
  // The newest record always stays, even one larger than the whole budget.
  while (records_.size() > maxRecords_ || (bytes_ > maxBytes_ && records_.size() > 1)) evictOldest();
}

void TrafficLog::evictOldest() {
  const TrafficRecord& old = records_.front();
  bytes_ -= old.data.size();
  if (old.direction == TrafficDirection::Dropped) --dropped_;
  records_.pop_front();
}

void TrafficLog::clear() {
  // Numbers go on from where they were: a reader sees everything it held leave.
  records_.clear();
  bytes_ = 0;
  dropped_ = 0;
  haveOrigin_ = false;
  originNs_ = 0;
}

}  // namespace tessaly
