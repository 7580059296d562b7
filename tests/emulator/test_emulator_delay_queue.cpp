// The queue of delayed answers: time order, the cap and what it drops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/DelayQueue.h"

using namespace tessaly::emu;

namespace {

struct Push {
  std::int64_t due;
  int id;
};

std::vector<int> drain(DelayQueue<int>& q) {
  std::vector<int> out;
  for (int v : q.takeDue(INT64_MAX, SIZE_MAX)) out.push_back(v);
  return out;
}

}  // namespace

TEST(EmulatorDelayQueue, CapDropsTheOldestPushedAndCountsIt) {
  const struct {
    const char* name;
    std::size_t cap;
    std::vector<Push> pushes;
    std::vector<int> left;  // in send order
    std::uint64_t dropped;
  } cases[] = {
      {"under the cap", 4, {{30, 1}, {10, 2}, {20, 3}}, {2, 3, 1}, 0},
      {"at the cap", 3, {{30, 1}, {10, 2}, {20, 3}}, {2, 3, 1}, 0},
      // The first pushed goes although it is due last: age, not due time, decides.
      {"beyond, oldest due last", 2, {{30, 1}, {10, 2}, {20, 3}}, {2, 3}, 1},
      {"beyond, oldest due first", 2, {{10, 1}, {20, 2}, {30, 3}, {5, 4}}, {4, 3}, 2},
      {"cap 0 keeps one", 0, {{10, 1}, {20, 2}}, {2}, 1},
      {"same due time keeps arrival order", 3, {{7, 1}, {7, 2}, {7, 3}, {7, 4}}, {2, 3, 4}, 1},
  };
  for (const auto& c : cases) {
    DelayQueue<int> q(c.cap);
    std::uint64_t reported = 0;
    for (const Push& p : c.pushes) reported += q.push(p.due, p.id) ? 1 : 0;
    EXPECT_LE(q.size(), std::max<std::size_t>(c.cap, 1)) << c.name;
    EXPECT_EQ(q.dropped(), c.dropped) << c.name;
    EXPECT_EQ(reported, c.dropped) << c.name;
    EXPECT_EQ(drain(q), c.left) << c.name;
    EXPECT_TRUE(q.empty()) << c.name;
    EXPECT_FALSE(q.nextDue()) << c.name;
  }
}

TEST(EmulatorDelayQueue, TakesOnlyWhatIsDueAndAtMostTheBatch) {
  DelayQueue<int> q(100);
  for (int i = 0; i < 10; ++i) q.push(100 + 10 * (9 - i), i);  // due 190, 180, ... 100
  EXPECT_EQ(q.nextDue(), 100);
  EXPECT_TRUE(q.takeDue(99, 10).empty());
  EXPECT_EQ(q.takeDue(130, 2), (std::vector<int>{9, 8}));  // 100, 110; 120 and 130 wait for the next batch
  EXPECT_EQ(q.nextDue(), 120);
  EXPECT_EQ(q.takeDue(130, 10), (std::vector<int>{7, 6}));
  EXPECT_EQ(q.size(), 6u);
  // After takes, the cap still counts what is left, and the oldest left goes first.
  DelayQueue<int> small(3);
  small.push(10, 1);
  small.push(20, 2);
  small.push(30, 3);
  EXPECT_EQ(small.takeDue(10, 10), (std::vector<int>{1}));
  small.push(40, 4);
  EXPECT_EQ(small.dropped(), 0u);
  small.push(50, 5);
  EXPECT_EQ(small.dropped(), 1u);
  EXPECT_EQ(drain(small), (std::vector<int>{3, 4, 5}));
}
