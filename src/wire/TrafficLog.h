#pragma once
// The last datagrams that crossed the wire, as a tap: at most maxRecords records
// and maxBytes of their data (the oldest go first), each with a sequence number that
// only grows, so a reader can tell what arrived and what left since it last looked.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "link/Traffic.h"

namespace tessaly {

class TrafficLog : public TrafficTap {
 public:
  static constexpr std::size_t kDefaultMaxRecords = 100000;
  static constexpr std::size_t kDefaultMaxBytes = 64u * 1024u * 1024u;

  explicit TrafficLog(std::size_t maxRecords = kDefaultMaxRecords, std::size_t maxBytes = kDefaultMaxBytes);

  void record(const TrafficRecord& r) override;
  void clear();

  // Sequence numbers held: [firstSeq, endSeq). The first record ever is number 1.
  std::uint64_t firstSeq() const { return endSeq_ - records_.size(); }
  std::uint64_t endSeq() const { return endSeq_; }
  std::size_t size() const { return records_.size(); }
  std::size_t droppedCount() const { return dropped_; }  // of the records held
  std::size_t dataBytes() const { return bytes_; }
  // The record with that number, or null when it is not held (any more).
  const TrafficRecord* find(std::uint64_t seq) const {
    return seq >= firstSeq() && seq < endSeq_ ? &records_[static_cast<std::size_t>(seq - firstSeq())] : nullptr;
  }
  // When the first record since the last clear arrived (its monotonicNs); 0 before.
  std::int64_t originNs() const { return originNs_; }
  std::vector<TrafficRecord> records() const { return {records_.begin(), records_.end()}; }

 private:
  void evictOldest();

  std::size_t maxRecords_;
  std::size_t maxBytes_;
  std::deque<TrafficRecord> records_;
  std::uint64_t endSeq_ = 1;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
  std::int64_t originNs_ = 0;
  bool haveOrigin_ = false;
};

}  // namespace tessaly
