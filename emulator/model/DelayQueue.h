#pragma once
// Answers waiting for their send time, in one time-ordered queue with a cap.
//
//   DelayQueue<Pending> q(10000);
//   q.push(nowMs + delayMs, pending);        // beyond the cap the oldest entry goes
//   arm one timer for q.nextDue();
//   for (auto& p : q.takeDue(nowMs, 256)) send p;
//
// Entries due at the same time leave in the order they came. "Oldest" is the entry
// pushed first, whatever its due time: under a flood the queue keeps the newest
// answers, which are the ones a client still waits for.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace tessaly::emu {

template <typename T>
class DelayQueue {
 public:
  // A cap of 0 is taken as 1: a queue that holds nothing would drop every answer.
  explicit DelayQueue(std::size_t cap) : cap_(cap == 0 ? 1 : cap) {}

  // Queues `item` for dueMs. Gives true when the oldest entry had to go to make room.
  bool push(std::int64_t dueMs, T item) {
    bool droppedOne = false;
    if (byDue_.size() >= cap_) {
      const auto oldest = bySeq_.begin();
      byDue_.erase(Key{oldest->second, oldest->first});
      bySeq_.erase(oldest);
      ++dropped_;
      droppedOne = true;
    }
    const std::uint64_t seq = nextSeq_++;
    byDue_.emplace(Key{dueMs, seq}, std::move(item));
    bySeq_.emplace(seq, dueMs);
    return droppedOne;
  }

  // The earliest due time, or nothing when the queue is empty.
  std::optional<std::int64_t> nextDue() const {
    if (byDue_.empty()) return std::nullopt;
    return byDue_.begin()->first.first;
  }

  // Up to `max` entries due at or before nowMs, earliest first.
  std::vector<T> takeDue(std::int64_t nowMs, std::size_t max) {
    std::vector<T> out;
    while (out.size() < max && !byDue_.empty() && byDue_.begin()->first.first <= nowMs) {
      const auto first = byDue_.begin();
      bySeq_.erase(first->first.second);
      out.push_back(std::move(first->second));
      byDue_.erase(first);
    }
    return out;
  }

  std::size_t size() const { return byDue_.size(); }
  bool empty() const { return byDue_.empty(); }
  std::size_t cap() const { return cap_; }
  std::uint64_t dropped() const { return dropped_; }  // entries pushed out by the cap, ever

 private:
  using Key = std::pair<std::int64_t, std::uint64_t>;  // due time, arrival number
  std::size_t cap_;
  std::map<Key, T> byDue_;
  std::map<std::uint64_t, std::int64_t> bySeq_;  // arrival number -> due time
  std::uint64_t nextSeq_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace tessaly::emu
