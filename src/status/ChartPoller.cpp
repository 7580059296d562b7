#include "status/ChartPoller.h"

#include "link/ReceiveBuffer.h"
#include "text/Bytes.h"
#include "status/Decode.h"
#include "status/PcrChart.h"
#include "status/StatusReport.h"

namespace tessaly {

namespace {

ChartAction act(ChartAction::Kind kind, std::int32_t value = 0) {
  ChartAction a;
  a.kind = kind;
  a.value = value;
  return a;
}

ChartAction started(bool fresh) {
  ChartAction a = act(ChartAction::Kind::PollingStarted);
  a.flag = fresh;
  return a;
}

// The next request goes out NextPollMs after an answer or its absence.
void scheduleNext(ChartActions& out) {
  out.push_back(act(ChartAction::Kind::SetInterval, chart::NextPollMs));
  out.push_back(act(ChartAction::Kind::SetState, state::ChartPollDue));
}

// The figures of a status answer at `answerBase`, through the status decoder.
ChartSample sampleOf(const ChartTimerEvent& e, int answerBase) {
  ReceiveBuffer buffer(e.receivedLength);
  Bytes bytes(e.receivedLength);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = e.at(i);
  buffer.store(bytes.data(), bytes.size());
  tZODADevice d;
  d.AnswerBase = answerBase;
  DecodeStatus(d, buffer);
  ChartSample s;
  s.answered = true;
  s.slide = d.PcrSlide;
  s.cor = chartValue(d.PcrSlide);
  s.baseError = d.PcrBaseError & 0x7FFF;
  s.gradientUp = (d.PcrBaseError >> 15) & 1;
  s.pids = d.PcrPidCount;
  s.newPids = d.NewPcrPidCount;
  s.discontinuities = d.PcrDiscontinuity;
  s.largeErrors = d.LargePcrErrors;
  return s;
}

}  // namespace

ChartActions ChartPoller::start() {
  polling_ = true;
  return {started(true),
          act(ChartAction::Kind::SetInterval, chart::FirstPollMs),
          act(ChartAction::Kind::SetState, state::ChartPollDue),
          act(ChartAction::Kind::SetSampleCount, 0),
          act(ChartAction::Kind::EnableTimer)};
}

ChartActions ChartPoller::continueRun(std::int32_t sampleCount) {
  polling_ = true;
  ChartActions out{started(false), act(ChartAction::Kind::SetInterval, chart::FirstPollMs),
                   act(ChartAction::Kind::SetState, state::ChartPollDue)};
  if (sampleCount < 0 || sampleCount >= chart::SampleLimit) out.push_back(act(ChartAction::Kind::SetSampleCount, 0));
  out.push_back(act(ChartAction::Kind::EnableTimer));
  return out;
}

ChartActions ChartPoller::stop() {
  polling_ = false;
  return {act(ChartAction::Kind::StopPolling), act(ChartAction::Kind::PollingStopped)};
}

ChartActions ChartPoller::otherPageShown() {
  if (!polling_) return {};
  return stop();
}

ChartActions ChartPoller::sendFailed() const { return {act(ChartAction::Kind::RequestNotSent)}; }

ChartActions ChartPoller::timerFired(const ChartTimerEvent& e) {
  ChartActions out;
  switch (e.state) {
    case state::ChartPollDue:
      out.push_back(act(ChartAction::Kind::SendStatusRequest, state::ChartPollSent));
      out.push_back(act(ChartAction::Kind::RequestSent));
      out.push_back(act(ChartAction::Kind::ArmTimer, chart::AnswerWaitMs));
      break;
    case state::ChartPollSent:
      scheduleNext(out);
      out.push_back(act(ChartAction::Kind::NoAnswer));
      out.push_back(act(ChartAction::Kind::EnableTimer));
      break;
    case state::ChartPollGot: {
      scheduleNext(out);
      const PollAnswerCheck c = e.at ? checkPollAnswer(e.receivedLength, e.at) : checkPollAnswerBytes(0, 0, 0, 0);
      ChartAction sample = act(ChartAction::Kind::Sample);
      if (c.valid) {
        out.push_back(act(ChartAction::Kind::TakeStatus, c.answerBase));
        sample.sample = sampleOf(e, c.answerBase);
      } else {
        ChartAction refused = act(ChartAction::Kind::AnswerRefused);
        refused.fault = c.fault;
        out.push_back(refused);
      }
      // A refused answer still counts as a sample; the 3,600th ends the run.
      out.push_back(sample);
      if (static_cast<std::int64_t>(e.sampleCount) + 1 < chart::SampleLimit) {
        out.push_back(act(ChartAction::Kind::EnableTimer));
      } else {
        for (auto& a : stop()) out.push_back(std::move(a));
      }
      break;
    }
    default: break;
  }
  return out;
}

void registerChartTransactions(TransactionEngine& engine, std::function<void(std::uint8_t code)> timerFired,
                               std::function<void()> sendFailed, std::function<std::uint8_t()> polledAddress) {
  engine.registerStep(state::ChartPollDue, [timerFired] { timerFired(state::ChartPollDue); }, HandOver::AtNextTick);
  Transaction poll;
  poll.waiting = state::ChartPollSent;
  poll.received = state::ChartPollGot;
  poll.accepts = Answer::Long;
  poll.handOver = HandOver::AtNextTick;
  poll.timedOut = [timerFired] { timerFired(state::ChartPollSent); };
  poll.answered = [timerFired] { timerFired(state::ChartPollGot); };
  poll.sendFailed = [sendFailed](bool) { sendFailed(); };
  // The answer is taken by its length in either framing, and so is screened in both.
  poll.screen = [polledAddress](const std::uint8_t* data, std::size_t length) {
    const std::uint8_t sdi = polledAddress();
    return isOtherBoardsStatus(Framing::CwNet, sdi, data, length) || isOtherBoardsStatus(Framing::DDToIP, sdi, data, length)
               ? DropReason::OtherBoard
               : DropReason::None;
  };
  engine.registerTransaction(std::move(poll));
  for (int code = state::ChartPollGot + 1; code <= 255; ++code)
    engine.registerStep(static_cast<std::uint8_t>(code), nullptr, HandOver::AtNextTick);
}

}  // namespace tessaly
