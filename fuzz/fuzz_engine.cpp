// The engine's receive path followed by the timer handler, in every state code the
// panel uses, with the receive buffer as earlier datagrams left it. The handlers are
// the panel's own evaluators of each code: query answers with decoding and the
// report, the instruction test's answer dump, and the manufacturer test run.
#include "FakeEndpoint.h"
#include "FuzzInput.h"
#include "VirtualClock.h"
#include "device/StatusQuery.h"
#include "instructions/InstructionTest.h"
#include "link/Engine.h"
#include "mfgtest/MfgSequence.h"
#include "status/Decode.h"
#include "status/PcrChart.h"
#include "status/StatusReport.h"

using namespace tessaly;
using namespace tessaly::testing;

namespace {
const std::uint8_t kCodes[] = {0,  2,  3,  4,  5,  6,  7,  8,  9,   40,  41,  42,  43,  90,  91,  92,  93,
                               94, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 120, 121, 200, 201, 202};
constexpr int kMaxSteps = 16;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  VirtualClock clock;
  VirtualTimer timer(clock);
  FakeEndpoint endpoint(&clock);
  TransactionEngine engine(timer, endpoint);
  tZODADevice device;
  MfgSequence mfg;
  (void)mfg.start(MfgInputTexts{});

  auto query = [&](Framing framing) {
    QueryContext ctx{framing, "127.0.0.1", 56789, 1};
    const auto& buf = engine.buffer();
    QueryOutcome out = evaluateQueryAnswer(ctx, engine.receivedLength(), [&](std::size_t i) { return buf.at(i); });
    if (out.kind == QueryKind::Ok) {
      device.AnswerBase = out.answerBase;
      DecodeStatus(device, engine.buffer());
      (void)statusReportLines(device);
      (void)pidReadbackLines(device);
      (void)psiReadbackLines(device);
    }
  };
  // The owners' registrations: the interrupt-notice waits, the query, the instruction
  // test, the chart's poll (every code from 200 upward keeps the countdown), the test run.
  auto registerLong = [&](std::uint8_t waiting, std::function<void()> answered, HandOver h = HandOver::After5ms) {
    Transaction t;
    t.waiting = waiting;
    t.received = static_cast<std::uint8_t>(waiting + 1);
    t.accepts = Answer::Long;
    t.handOver = h;
    t.answered = std::move(answered);
    engine.registerTransaction(std::move(t));
  };
  for (std::uint8_t waiting : {2, 4, 6, 8}) {
    Transaction t;
    t.waiting = waiting;
    t.received = static_cast<std::uint8_t>(waiting + 1);
    t.accepts = Answer::Notice;
    engine.registerTransaction(std::move(t));
  }
  // Every code from 200 up is a step of the chart's, but for the poll's own pair.
  for (int code = 200; code <= 255; ++code)
    if (code != state::ChartPollSent && code != state::ChartPollSent + 1)
      engine.registerStep(static_cast<std::uint8_t>(code), nullptr, HandOver::AtNextTick);
  registerLong(state::QueryCwNetWait, [&] { query(Framing::CwNet); });
  registerLong(state::QueryDDToIPWait, [&] { query(Framing::DDToIP); });
  registerLong(state::InstrTestWait, [&] {
    const auto& bytes = engine.buffer().bytes();
    (void)answerLines(bytes.data(), bytes.size(), engine.receivedLength());
  });
  registerLong(state::ChartPollSent, [&] {
    const auto& buf = engine.buffer();
    PollAnswerCheck check = checkPollAnswer(engine.receivedLength(), [&](std::size_t i) { return buf.at(i); });
    if (check.valid) {
      device.AnswerBase = check.answerBase;
      DecodeStatus(device, engine.buffer());
      (void)statusReportLines(device);
    }
    ++device.SampleCount;
    (void)bottomAxisStepAt(device.SampleCount);
    (void)chartValue(device.PcrSlide);
  }, HandOver::AtNextTick);
  registerMfgTransactions(
      engine,
      [&] {
        const auto& bytes = engine.buffer().bytes();
        MfgTimerEvent event{engine.state(), bytes.data(), bytes.size(), engine.receivedLength(), 58100};
        for (const MfgAction& a : mfg.timerFired(event)) (void)a;
      },
      [&](std::uint8_t code, bool) { (void)mfg.sendFailed(code); });

  // A bounded number of steps per input keeps every input cheap, so the run reaches
  // its count; sixteen steps already walk any order of the state codes' handlers.
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    const std::uint8_t code = kCodes[in.byte() % sizeof kCodes];
    engine.setState(code);
    endpoint.activate();
    engine.armTimer(1 + in.byte() % 3 * 1000);
    const int datagrams = in.byte() % 4;
    for (int i = 0; i < datagrams; ++i) {
      // Lengths up to 1600, so both ends of the accepted range are reached.
      auto d = in.chunk(1600);
      if (in.flag() && d.size() < 1600) d.resize(in.flag() ? 1032 : 1049, in.byte());
      endpoint.inject(d);
    }
    clock.runUntilIdle(10000);
  }
  return 0;
}
