#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <stdexcept>
#include <vector>

#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "link/Engine.h"

using namespace tessaly;
using namespace tessaly::testing;

namespace {

// The panel's codes, as their owners register them.
namespace state {
constexpr std::uint8_t GeneralWait = 2, GeneralGot = 3, MpxWait = 4, PsiWait = 6;
constexpr std::uint8_t QueryCwNetWait = 40, QueryCwNetGot = 41, QueryDDToIPWait = 42, QueryDDToIPGot = 43;
constexpr std::uint8_t MfgConfigWait = 90, InstrTestWait = 120, ChartPollSent = 201;
}  // namespace state

struct Row {
  std::uint8_t waiting, received;
  Answer accepts;
  HandOver handOver;
};
constexpr Row kTable[] = {
    {2, 3, Answer::Notice, HandOver::After5ms},   {4, 5, Answer::Notice, HandOver::After5ms},
    {6, 7, Answer::Notice, HandOver::After5ms},   {8, 9, Answer::Notice, HandOver::After5ms},
    {40, 41, Answer::Long, HandOver::After5ms},   {42, 43, Answer::Long, HandOver::After5ms},
    {90, 91, Answer::Long, HandOver::After5ms},   {92, 93, Answer::Long, HandOver::AtNextTick},
    {96, 97, Answer::Long, HandOver::After5ms},   {99, 100, Answer::Long, HandOver::AtNextTick},
    {102, 103, Answer::Long, HandOver::AtNextTick}, {104, 105, Answer::Long, HandOver::After5ms},
    {120, 121, Answer::Long, HandOver::After5ms}, {201, 202, Answer::Long, HandOver::AtNextTick},
};

struct Rig {
  VirtualClock clock;
  VirtualTimer timer{clock};
  FakeEndpoint endpoint{&clock};
  TransactionEngine engine{timer, endpoint};
  std::vector<std::pair<int, std::int64_t>> ran;  // (state code, time) of each handler run

  std::array<std::function<void()>, 256> sendFailures;  // by waiting code

  Rig() {
    // Every code records its run; the chart's codes from 200 upward keep the countdown.
    for (const Row& row : kTable) registerRow(row);
    for (int code = 0; code < 256; ++code)
      if (!engine.isRegistered(static_cast<std::uint8_t>(code)))
        engine.registerStep(static_cast<std::uint8_t>(code), record(code),
                            code >= 200 ? HandOver::AtNextTick : HandOver::After5ms);
  }
  std::function<void()> record(int code) {
    return [this, code] { ran.emplace_back(code, clock.now()); };
  }
  void registerRow(const Row& row) {
    Transaction t{row.waiting, row.received, row.accepts, row.handOver, record(row.waiting), record(row.received), {}, {}};
    t.sendFailed = [this, code = row.waiting](bool) {
      if (sendFailures[code]) sendFailures[code]();
    };
    engine.registerTransaction(std::move(t));
  }
  // The send-failure handler of the transaction waiting in `code`.
  void onSendFailure(std::uint8_t code, std::function<void()> handler) { sendFailures[code] = std::move(handler); }
  // A page transaction: waiting code, send, arm.
  void start(std::uint8_t code, int timeoutMs) {
    engine.setState(code);
    ASSERT_TRUE(engine.activateAndSend("127.0.0.1", 5000, Bytes{1, 2, 3}));
    engine.armTimer(timeoutMs);
  }
};

Bytes datagram(std::size_t n, std::uint8_t fill = 0x55) { return Bytes(n, fill); }

}  // namespace

TEST(VirtualTimerContract, RestartRules) {
  VirtualClock clock;
  VirtualTimer t(clock);
  t.setInterval(1000);
  EXPECT_EQ(t.dueAt(), -1);  // disabled: setting an interval starts nothing
  t.setEnabled(true);
  EXPECT_EQ(t.dueAt(), 1000);
  clock.advance(400);
  t.setEnabled(true);  // enabling an enabled timer changes nothing
  t.setInterval(1000);  // nor does the same interval
  EXPECT_EQ(t.dueAt(), 1000);
  t.setInterval(5);  // a different interval restarts the countdown
  EXPECT_EQ(t.dueAt(), 405);
  t.setEnabled(false);
  t.setInterval(300);
  EXPECT_EQ(t.dueAt(), -1);
}

TEST(Engine, NoticeAfter300msIsReportedAbout5msLater) {
  Rig r;
  r.start(state::GeneralWait, 1000);
  r.endpoint.injectAfter(300, datagram(10));
  r.clock.runUntilIdle(5000);
  ASSERT_EQ(r.ran.size(), 1u);
  EXPECT_EQ(r.ran[0], std::make_pair(int(state::GeneralGot), std::int64_t{305}));
  EXPECT_FALSE(r.endpoint.isActive());
  EXPECT_FALSE(r.timer.enabled());
}

TEST(Engine, NoNoticeTimesOutAfterOneSecond) {
  Rig r;
  r.start(state::MpxWait, 1000);
  r.clock.runUntilIdle(5000);
  ASSERT_EQ(r.ran.size(), 1u);
  EXPECT_EQ(r.ran[0], std::make_pair(int(state::MpxWait), std::int64_t{1000}));
}

TEST(Engine, SecondTransactionWithinTheFirstSecondTimesOutWhenTheFirstSecondEnds) {
  Rig r;
  r.start(state::GeneralWait, 1000);
  r.clock.advance(400);
  r.start(state::PsiWait, 1000);
  r.clock.runUntilIdle(5000);
  ASSERT_EQ(r.ran.size(), 1u);
  EXPECT_EQ(r.ran[0], std::make_pair(int(state::PsiWait), std::int64_t{1000}));
}

TEST(Engine, NoticeBoundaryAndLongDatagramWhileWaitingForNotice) {
  struct Case {
    std::size_t length;
    int expectedState;
  } cases[] = {{0, state::GeneralGot}, {26, state::GeneralGot}, {27, state::GeneralWait}};
  for (const auto& c : cases) {
    Rig r;
    r.start(state::GeneralWait, 1000);
    r.endpoint.injectAfter(100, datagram(c.length));
    r.clock.runUntilIdle(5000);
    ASSERT_EQ(r.ran.size(), 1u) << c.length;
    // Either way the wait ends about 5 ms after the datagram.
    EXPECT_EQ(r.ran[0], std::make_pair(c.expectedState, std::int64_t{105})) << c.length;
    EXPECT_EQ(r.engine.receivedLength(), c.length);
  }
}

TEST(Engine, LongestAcceptedDatagramIs1499Bytes) {
  for (std::size_t length : {std::size_t{1499}, std::size_t{1500}, std::size_t{8192}}) {
    Rig r;
    r.start(state::QueryDDToIPWait, 1000);
    r.endpoint.injectAfter(100, datagram(length, 0x77));
    r.clock.runUntilIdle(5000);
    ASSERT_EQ(r.ran.size(), 1u);
    if (length == 1499) {
      EXPECT_EQ(r.ran[0], std::make_pair(int(state::QueryDDToIPGot), std::int64_t{105}));
      EXPECT_EQ(r.engine.receivedLength(), 1499u);
      EXPECT_EQ(r.engine.buffer().at(1498), 0x77);
    } else {
      EXPECT_EQ(r.ran[0], std::make_pair(int(state::QueryDDToIPWait), std::int64_t{1000})) << length;
      EXPECT_EQ(r.engine.receivedLength(), 0u);
    }
  }
}

TEST(Engine, TwoAnswersBeforeTheTick) {
  Rig r;
  r.start(state::QueryCwNetWait, 1000);
  r.endpoint.inject(datagram(40, 0x11));
  r.endpoint.inject(datagram(30, 0x22));
  EXPECT_EQ(r.engine.state(), state::QueryCwNetGot);
  EXPECT_EQ(r.engine.receivedLength(), 30u);
  EXPECT_EQ(r.engine.buffer().at(0), 0x22);
  // The first, longer datagram's tail stays behind the second.
  EXPECT_EQ(r.engine.buffer().at(35), 0x11);
  r.clock.runUntilIdle(5000);
  ASSERT_EQ(r.ran.size(), 1u);
  EXPECT_EQ(r.ran[0].first, state::QueryCwNetGot);
}

TEST(Engine, DatagramAfterTheTickIsNeverDelivered) {
  Rig r;
  r.start(state::GeneralWait, 1000);
  r.endpoint.injectAfter(1200, datagram(10));
  r.clock.runUntilIdle(5000);
  ASSERT_EQ(r.ran.size(), 1u);
  EXPECT_EQ(r.ran[0].first, state::GeneralWait);
  EXPECT_EQ(r.engine.state(), state::GeneralWait);
  EXPECT_EQ(r.engine.receivedLength(), 0u);
}

TEST(Engine, ShortDatagramIgnoredAboveState10) {
  for (std::uint8_t code : {state::QueryCwNetWait, state::InstrTestWait, state::MfgConfigWait, state::ChartPollSent}) {
    Rig r;
    r.start(code, 1000);
    r.endpoint.inject(datagram(26));
    EXPECT_EQ(r.engine.state(), code);
    EXPECT_EQ(r.engine.receivedLength(), 0u);
    EXPECT_EQ(r.timer.dueAt(), 1000);
  }
}

TEST(Engine, LongDatagramTransitionsAndHandOver) {
  struct Case {
    std::uint8_t from, to;
    bool handOver;  // the answer is handled 5 ms later; otherwise when the running interval ends
  } cases[] = {
      {40, 41, true},   {42, 43, true},   {90, 91, true},    {92, 93, false},  {96, 97, true},
      {99, 100, false}, {102, 103, false}, {104, 105, true}, {120, 121, true}, {201, 202, false},
      {200, 200, false}, {0, 0, true},     {2, 2, true},      {94, 94, true},   {98, 98, true},
      {101, 101, true}, {121, 121, true},  {202, 202, false}, {255, 255, false},
  };
  for (const auto& c : cases) {
    Rig r;
    r.start(c.from, 1000);
    r.clock.advance(100);
    r.endpoint.inject(datagram(100));
    EXPECT_EQ(r.engine.state(), c.to) << int(c.from);
    EXPECT_EQ(r.timer.dueAt(), c.handOver ? 105 : 1000) << int(c.from);
  }
}

TEST(Engine, ShortDatagramTransitionsAlwaysSetHandOver) {
  struct Case {
    std::uint8_t from, to;
  } cases[] = {{2, 3}, {4, 5}, {6, 7}, {8, 9}, {0, 0}, {3, 3}, {10, 10}};
  for (const auto& c : cases) {
    Rig r;
    r.start(c.from, 1000);
    r.clock.advance(50);
    r.endpoint.inject(datagram(5));
    EXPECT_EQ(r.engine.state(), c.to) << int(c.from);
    EXPECT_EQ(r.timer.dueAt(), 55) << int(c.from);
  }
}

// A code has one owner: a second registration is refused and the first owner keeps
// the code, its answer rule and its handlers.
TEST(Engine, SecondRegistrationOfACodeIsRefused) {
  struct Case {
    const char* what;
    std::function<void(TransactionEngine&)> second;
  } cases[] = {
      {"transaction on a waiting code",
       [](TransactionEngine& e) { e.registerTransaction({40, 60, Answer::Long, HandOver::After5ms, {}, {}, {}, {}}); }},
      {"transaction on a received code",
       [](TransactionEngine& e) { e.registerTransaction({60, 41, Answer::Long, HandOver::After5ms, {}, {}, {}, {}}); }},
      {"transaction whose received code is its waiting code",
       [](TransactionEngine& e) { e.registerTransaction({60, 60, Answer::Long, HandOver::After5ms, {}, {}, {}, {}}); }},
      {"step on a waiting code", [](TransactionEngine& e) { e.registerStep(40, {}); }},
      {"step on a received code", [](TransactionEngine& e) { e.registerStep(41, {}, HandOver::AtNextTick); }},
      {"step on a step", [](TransactionEngine& e) { e.registerStep(94, {}); }},
  };
  for (const auto& c : cases) {
    VirtualClock clock;
    VirtualTimer timer(clock);
    FakeEndpoint endpoint(&clock);
    TransactionEngine engine(timer, endpoint);
    std::vector<int> ran;
    engine.registerTransaction({40, 41, Answer::Long, HandOver::After5ms, [&] { ran.push_back(40); },
                                [&] { ran.push_back(41); }, {}, {}});
    engine.registerStep(94, [&] { ran.push_back(94); });
    EXPECT_THROW(c.second(engine), std::logic_error) << c.what;
    EXPECT_FALSE(engine.isRegistered(60)) << c.what;
    // The first owner's transaction still runs as registered.
    engine.setState(40);
    ASSERT_TRUE(engine.activateAndSend("127.0.0.1", 1, {1}));
    engine.armTimer(1000);
    clock.advance(10);
    endpoint.inject(datagram(100));
    clock.runUntilIdle();
    engine.setState(94);
    engine.armTimer(10);
    clock.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<int>{41, 94})) << c.what;
  }
}

TEST(Engine, TimerHandlerDisablesClosesThenDispatches) {
  VirtualClock clock;
  VirtualTimer timer(clock);
  FakeEndpoint endpoint(&clock);
  TransactionEngine engine(timer, endpoint);
  bool sawClosed = false;
  engine.registerStep(7, [&] { sawClosed = !endpoint.isActive() && !timer.enabled(); });
  engine.setState(7);
  ASSERT_TRUE(engine.activateAndSend("127.0.0.1", 1, {}));
  engine.armTimer(10);
  clock.runUntilIdle();
  EXPECT_TRUE(sawClosed);
  // A code without a handler does nothing.
  engine.setState(55);
  engine.armTimer(10);
  clock.runUntilIdle();
  EXPECT_EQ(engine.state(), 55);
}

TEST(Engine, SendFailureLeavesEndpointClosedAndCodeSet) {
  Rig r;
  r.endpoint.failSend = true;
  r.engine.setState(state::GeneralWait);
  EXPECT_FALSE(r.engine.activateAndSend("127.0.0.1", 1, {1}));
  EXPECT_FALSE(r.endpoint.isActive());
  EXPECT_EQ(r.engine.state(), state::GeneralWait);
  r.endpoint.failSend = false;
  r.endpoint.failActivate = true;
  EXPECT_FALSE(r.engine.activateAndSend("127.0.0.1", 1, {1}));
}

// A send to a host name waits for its lookup; the transaction's own wait starts
// when the datagram has left. Rows: how the lookup ends, and when.
TEST(Engine, SendWaitingForItsLookup) {
  struct Row {
    const char* name;
    std::int64_t lookupEndsAt;  // -1: never
    bool resolves;
    bool answer;                // the device answers 300 ms after the datagram goes out
    std::vector<std::pair<int, std::int64_t>> ran;  // time-out/answer handlers
    std::vector<std::int64_t> failures;             // send-failure handler runs
    std::vector<std::int64_t> left;                 // the sender's after-send step
    std::size_t sent;
  };
  const Row rows[] = {
      {"answers at once, device answers", 0, true, true, {{3, 305}}, {}, {0}, 1},
      {"answers later, device answers", 400, true, true, {{3, 705}}, {}, {400}, 1},
      {"answers later, device silent: the wait starts when it left", 400, true, false, {{2, 1400}}, {}, {400}, 1},
      {"answers after a second, device answers", 1500, true, true, {{3, 1805}}, {}, {1500}, 1},
      {"fails", 400, false, false, {}, {400}, {}, 0},
      {"never answers: the lookup's own limit", -1, false, false, {}, {kLookupLimitMs}, {}, 0},
      {"answers after the limit", kLookupLimitMs + 100, true, false, {}, {kLookupLimitMs}, {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Rig r;
    std::vector<std::int64_t> failures, left;
    bool closedAndStopped = false;
    r.onSendFailure(state::GeneralWait, [&] {
      failures.push_back(r.clock.now());
      closedAndStopped = !r.endpoint.isActive() && !r.timer.enabled();
    });
    r.endpoint.namesWait = true;
    r.endpoint.onSend = [&](const SentDatagram&) {
      if (row.answer) r.endpoint.injectAfter(300, datagram(10));
    };
    StartOptions o;
    o.armMs = 1000;
    ASSERT_TRUE(r.engine.start(state::GeneralWait, "board.lab", 5000, Bytes{1}, o,
                               [&] { left.push_back(r.clock.now()); }));
    EXPECT_TRUE(r.engine.sendPending());
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(r.engine.state(), state::GeneralWait);
    if (row.lookupEndsAt >= 0)
      r.clock.schedule(row.lookupEndsAt, [&r, &row] { r.endpoint.finishLookup(row.resolves); });
    r.clock.runUntilIdle(20000);
    EXPECT_EQ(r.ran, row.ran);
    EXPECT_EQ(failures, row.failures);
    EXPECT_EQ(left, row.left);
    EXPECT_EQ(r.endpoint.sent.size(), row.sent);
    if (!failures.empty()) {
      EXPECT_TRUE(closedAndStopped);
      EXPECT_EQ(r.engine.state(), state::GeneralWait);  // as a failed send leaves it
    }
    EXPECT_FALSE(r.engine.sendPending());
    EXPECT_FALSE(r.endpoint.sendPending());
  }
}

// A send waiting for its lookup, and the next action. Rows: what the action is.
TEST(Engine, ASendWaitingForItsLookupEndsWithTheNextAction) {
  struct Row {
    const char* name;
    std::function<void(Rig&)> action;
    int failures;          // the waiting send's failure handler runs
    std::uint8_t state;    // afterwards
    std::size_t sent;      // once the old lookup has answered
  };
  const Row rows[] = {
      {"a newer send", [](Rig& r) { r.engine.start(state::MpxWait, "127.0.0.1", 5000, Bytes{2}, StartOptions{}); },
       1, state::MpxWait, 1},
      {"a newer send to another name",
       [](Rig& r) { r.engine.start(state::MpxWait, "other.lab", 5000, Bytes{2}, StartOptions{}); }, 1,
       state::MpxWait, 1},
      {"a new state", [](Rig& r) { r.engine.setState(state::ChartPollSent - 1); }, 1, state::ChartPollSent - 1, 0},
      {"the timer armed", [](Rig& r) { r.engine.armTimer(100); }, 1, state::GeneralWait, 0},
      {"a new action about to show its own", [](Rig& r) { r.engine.endPendingSend(); }, 1, state::GeneralWait, 0},
      {"abort", [](Rig& r) { r.engine.abort(); }, 0, state::GeneralWait, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Rig r;
    int failures = 0;
    r.onSendFailure(state::GeneralWait, [&] { ++failures; });
    r.endpoint.namesWait = true;
    bool left = false;
    StartOptions o;
    o.armMs = 1000;
    ASSERT_TRUE(r.engine.start(state::GeneralWait, "board.lab", 5000, Bytes{1}, o, [&] { left = true; }));
    r.clock.advance(100);
    row.action(r);
    EXPECT_EQ(failures, row.failures);
    EXPECT_EQ(r.engine.state(), row.state);
    // The old lookup answers now: nothing of the old send goes out.
    r.endpoint.finishLookup(true);
    r.clock.runUntilIdle(3000);
    EXPECT_FALSE(left);
    EXPECT_EQ(failures, row.failures);
    EXPECT_EQ(r.endpoint.sent.size(), row.sent);
    for (const SentDatagram& d : r.endpoint.sent) EXPECT_EQ(d.data, Bytes{2});
  }
}

// Where the state is set, with a send waiting for its lookup: only once the
// datagram has left for the codes set after the send, and a failure leaves it as a
// failed send does. Nothing taken in before the datagram left moves it.
TEST(Engine, StateOfASendWaitingForItsLookup) {
  struct Row {
    StateAt at;
    bool resolves;
    std::uint8_t whilePending, afterwards;
  };
  const Row rows[] = {
      {StateAt::BeforeSend, true, state::InstrTestWait, state::InstrTestWait},
      {StateAt::BeforeSend, false, state::InstrTestWait, state::InstrTestWait},
      {StateAt::AfterSend, true, state::MfgConfigWait, state::InstrTestWait},
      {StateAt::AfterSend, false, state::MfgConfigWait, state::MfgConfigWait},
      {StateAt::AfterArm, true, state::MfgConfigWait, state::InstrTestWait},
      {StateAt::AfterArm, false, state::MfgConfigWait, state::MfgConfigWait},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.at) * 2 + row.resolves);
    Rig r;
    r.engine.setState(state::MfgConfigWait);
    r.endpoint.namesWait = true;
    StartOptions o;
    o.stateAt = row.at;
    o.armMs = 1000;
    ASSERT_TRUE(r.engine.start(state::InstrTestWait, "board.lab", 5000, Bytes{1}, o));
    EXPECT_EQ(r.engine.state(), row.whilePending);
    r.endpoint.inject(datagram(100));
    EXPECT_EQ(r.engine.receivedLength(), 0u);
    EXPECT_EQ(r.engine.state(), row.whilePending);
    r.clock.advance(200);
    r.endpoint.finishLookup(row.resolves);
    EXPECT_EQ(r.engine.state(), row.afterwards);
    EXPECT_EQ(r.timer.enabled(), row.resolves);
    if (row.resolves) EXPECT_EQ(r.timer.dueAt(), 1200);
  }
}

TEST(ReceiveBufferTest, ReadsNeverLeaveTheStream) {
  ReceiveBuffer b(4);
  const std::uint8_t d[] = {0x12, 0x34, 0x56, 0x78};
  b.store(d, 4);
  EXPECT_EQ(b.readAt(0, 4), 0x12345678u);
  EXPECT_EQ(b.readAt(2, 4), 0x56780000u);
  EXPECT_EQ(b.readAt(1000000, 2), 0u);
  EXPECT_EQ(b.readAt(SIZE_MAX - 1, 4), 0u);
  const std::uint8_t big[6] = {1, 2, 3, 4, 5, 6};
  b.store(big, 6);  // grows
  EXPECT_EQ(b.size(), 6u);
  EXPECT_EQ(b.readAt(4, 2), 0x0506u);
}
