#pragma once
// The PCR chart's polling loop (states 200..202) as a state machine without
// widgets. A front end feeds it events (Start, Continue, Stop, another page shown,
// the timer fired, the request could not go out) and carries out the actions it
// returns, in order: what happened (polling started or stopped, a request sent,
// no answer, a refused answer, a sample), which the front end shows in its own
// way, and the transactions to run.
//
// Carrying out SendStatusRequest: start the poll transaction (waitState) with a
// status request to the device; the remaining actions of the list follow once it
// has left. When the send fails, the engine runs the poll's send-failure handler,
// which carries out sendFailed(), and the remaining actions are dropped.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/Engine.h"
#include "status/PcrChart.h"  // the polling codes 200..202

namespace tessaly {

// The PCR figures of one answered poll, from the status block.
struct ChartSample {
  bool answered = false;          // false: the answer was refused, the figures are all 0
  std::int32_t slide = 0;         // the corrector's slide
  std::int32_t cor = 0;           // the correction coefficient @ 40 ms (the plotted value)
  std::int32_t baseError = 0;     // the PCR base error in 90 kHz ticks (15 bits)
  bool gradientUp = false;        // the base error's gradient bit
  std::int32_t pids = 0;          // PCR PIDs
  std::int32_t newPids = 0;       // new PCR PIDs
  std::int32_t discontinuities = 0;
  std::int32_t largeErrors = 0;

  double baseErrorSeconds() const { return baseError / 90000.0; }
  bool operator==(const ChartSample& o) const {
    return answered == o.answered && slide == o.slide && cor == o.cor && baseError == o.baseError &&
           gradientUp == o.gradientUp && pids == o.pids && newPids == o.newPids &&
           discontinuities == o.discontinuities && largeErrors == o.largeErrors;
  }
};

struct ChartAction {
  enum class Kind {
    // What happened.
    PollingStarted,     // flag: a fresh chart (Start) rather than going on (Continue)
    PollingStopped,
    RequestSent,        // the status request left; its answer is awaited
    NoAnswer,           // the request went unanswered
    AnswerRefused,      // fault: the answer is no remultiplexer's status
    RequestNotSent,     // the request could not go out: polling rests until Stop or Continue
    Sample,             // sample: one more point (SampleCount goes up by one)
    // Its transactions and the status record.
    SetState,           // value: the engine's state code
    SetInterval,        // value: the timer's interval in ms
    EnableTimer,        // the timer runs with the interval it has
    ArmTimer,           // value: set the interval, then enable the timer
    SendStatusRequest,  // value: the waiting state; see above
    TakeStatus,         // value: the answer base; decode the buffer into the status record
    SetSampleCount,     // value: the status record's SampleCount
    StopPolling,        // disable the timer and close the endpoint
  };
  Kind kind = Kind::PollingStopped;
  std::int32_t value = 0;
  bool flag = false;
  PollFault fault = PollFault::None;
  ChartSample sample;

  bool operator==(const ChartAction& o) const {
    return kind == o.kind && value == o.value && flag == o.flag && fault == o.fault && sample == o.sample;
  }
};
using ChartActions = std::vector<ChartAction>;

// What the timer handler hands over: the state code, the length of the last
// accepted datagram, a reader of the receive buffer's bytes and the status
// record's SampleCount as it stands.
struct ChartTimerEvent {
  std::uint8_t state = 0;
  std::size_t receivedLength = 0;
  std::function<std::uint8_t(std::size_t)> at;
  std::int32_t sampleCount = 0;
};

// Registers the polling codes with the engine: 200 a step, 201 -> 202 on a long
// answer; every code from 200 up leaves the countdown alone. `timerFired` gets the
// code the timer fired in; `sendFailed` runs when a request could not go out.
// `polledAddress` gives the SDI address the request on its way went to: another
// board's status (a late answer to an earlier request) is no answer to it.
void registerChartTransactions(TransactionEngine& engine, std::function<void(std::uint8_t code)> timerFired,
                               std::function<void()> sendFailed, std::function<std::uint8_t()> polledAddress);

class ChartPoller {
 public:
  // "Start": a fresh chart from sample 0.
  ChartActions start();
  // "Continue": the chart goes on from the sample count it has, unless that count
  // is outside 0..3599.
  ChartActions continueRun(std::int32_t sampleCount);
  // "Stop" (also after the 3,600th sample and when another page is shown).
  ChartActions stop();
  // Another page was shown: Stop while polling, otherwise nothing.
  ChartActions otherPageShown();
  // The timer fired in `event.state` (the engine has disabled it and closed the endpoint).
  ChartActions timerFired(const ChartTimerEvent& event);
  // The status request could not go out: polling rests, Stop still enabled, until
  // Stop or Continue.
  ChartActions sendFailed() const;

  bool polling() const { return polling_; }

 private:
  bool polling_ = false;
};

}  // namespace tessaly
