#include "status/ChartPoller.h"

#include "instructions/PageInstructions.h"
#include "status/PcrChart.h"

namespace tessaly {

namespace {

ChartAction act(ChartAction::Kind kind, std::int32_t value = 0) {
  ChartAction a;
  a.kind = kind;
  a.value = value;
  return a;
}

ChartAction buttons(bool polling) {
  ChartAction a = act(ChartAction::Kind::SetPollingButtons);
  a.flag = polling;
  return a;
}

ChartAction message(std::string_view text) {
  ChartAction a = act(ChartAction::Kind::Message);
  a.text = std::string(text);
  return a;
}

ChartAction message(std::string_view text, std::uint32_t colour) {
  ChartAction a = message(text);
  a.hasColour = true;
  a.colour = colour;
  return a;
}

// The next request goes out NextPollMs after an answer or its absence.
void scheduleNext(ChartActions& out) {
  out.push_back(act(ChartAction::Kind::SetInterval, chart::NextPollMs));
  out.push_back(act(ChartAction::Kind::SetState, state::ChartPollDue));
}

}  // namespace

ChartActions ChartPoller::start() {
  polling_ = true;
  return {buttons(true),
          act(ChartAction::Kind::SetInterval, chart::FirstPollMs),
          act(ChartAction::Kind::SetState, state::ChartPollDue),
          act(ChartAction::Kind::ClearChart),
          act(ChartAction::Kind::SetBottomMax, chart::StartBottomMax),
          act(ChartAction::Kind::ApplyLeftAxis),
          act(ChartAction::Kind::SetSampleCount, 0),
          act(ChartAction::Kind::EnableTimer)};
}

ChartActions ChartPoller::continueRun(std::int32_t sampleCount) {
  polling_ = true;
  ChartActions out{buttons(true), act(ChartAction::Kind::SetInterval, chart::FirstPollMs),
                   act(ChartAction::Kind::SetState, state::ChartPollDue), act(ChartAction::Kind::ApplyLeftAxis)};
  if (sampleCount < 0 || sampleCount >= chart::SampleLimit) out.push_back(act(ChartAction::Kind::SetSampleCount, 0));
  out.push_back(act(ChartAction::Kind::EnableTimer));
  return out;
}

ChartActions ChartPoller::stop() {
  polling_ = false;
  return {act(ChartAction::Kind::StopPolling), buttons(false), message(kChartStoppedText, colour::ButtonFace)};
}

ChartActions ChartPoller::otherPageShown() {
  if (!polling_) return {};
  return stop();
}

ChartActions ChartPoller::sendFailed() const {
  return {act(ChartAction::Kind::ClearInfoMemo), message(kCommErrorText, colour::LightOrange)};
}

ChartActions ChartPoller::timerFired(const ChartTimerEvent& e) {
  ChartActions out;
  switch (e.state) {
    case state::ChartPollDue:
      out.push_back(act(ChartAction::Kind::SendStatusRequest, state::ChartPollSent));
      out.push_back(message(kChartSentText));
      out.push_back(act(ChartAction::Kind::ArmTimer, chart::AnswerWaitMs));
      break;
    case state::ChartPollSent:
      scheduleNext(out);
      out.push_back(message(kChartNoAnswerText, colour::LightOrange));
      out.push_back(act(ChartAction::Kind::EnableTimer));
      break;
    case state::ChartPollGot: {
      scheduleNext(out);
      const PollAnswerCheck c = e.at ? checkPollAnswer(e.receivedLength, e.at) : checkPollAnswerBytes(0, 0, 0, 0);
      if (c.valid)
        out.push_back(act(ChartAction::Kind::DecodeAndPresent, c.answerBase));
      else
        out.push_back(message(c.message, colour::LightOrange));
      out.push_back(act(ChartAction::Kind::AddSample));
      // AddSample counts this sample; the 3,600th ends the run.
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
                               std::function<void()> sendFailed) {
  engine.registerStep(state::ChartPollDue, [timerFired] { timerFired(state::ChartPollDue); }, HandOver::AtNextTick);
  Transaction poll;
  poll.waiting = state::ChartPollSent;
  poll.received = state::ChartPollGot;
  poll.accepts = Answer::Long;
  poll.handOver = HandOver::AtNextTick;
  poll.timedOut = [timerFired] { timerFired(state::ChartPollSent); };
  poll.answered = [timerFired] { timerFired(state::ChartPollGot); };
  poll.sendFailed = [sendFailed](bool) { sendFailed(); };
  engine.registerTransaction(std::move(poll));
  for (int code = state::ChartPollGot + 1; code <= 255; ++code)
    engine.registerStep(static_cast<std::uint8_t>(code), nullptr, HandOver::AtNextTick);
}

}  // namespace tessaly
