#pragma once
// The PCR chart's polling loop (states 200..202) as a state machine without
// widgets. The page feeds it events (Start, Continue, Stop, another page shown,
// the timer fired, the request could not go out) and carries out the actions it
// returns, in order.
//
// Carrying out SendStatusRequest: start the poll transaction (waitState) with a
// status request to the device; the remaining actions of the list follow once it
// has left. When the send fails, the engine runs the poll's send-failure handler,
// which carries out sendFailed(), and the remaining actions are dropped.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Engine.h"
#include "status/Palette.h"
#include "status/PcrChart.h"  // the polling codes 200..202

namespace tessaly {

struct ChartAction {
  enum class Kind {
    SetPollingButtons,  // flag: Stop and Clear enabled, the others disabled; false the reverse
    SetState,           // value: the engine's state code
    SetInterval,        // value: the timer's interval in ms
    EnableTimer,        // the timer runs with the interval it has
    ArmTimer,           // value: set the interval, then enable the timer
    SendStatusRequest,  // value: the waiting state; see above
    Message,            // text on the status panel; then colour when hasColour
    DecodeAndPresent,   // value: the answer base; decode the buffer, present on every page
    AddSample,          // one point from the status record (SampleCount goes up by one)
    ClearChart,
    SetBottomMax,       // value
    ApplyLeftAxis,      // automatic with Auto Scale checked, else -120..120
    SetSampleCount,     // value: the status record's SampleCount
    ClearInfoMemo,      // the Main page's information memo
    StopPolling,        // disable the timer and close the endpoint
  };
  Kind kind = Kind::Message;
  std::int32_t value = 0;
  bool flag = false;
  std::string text;
  bool hasColour = false;
  std::uint32_t colour = 0;

  bool operator==(const ChartAction& o) const {
    return kind == o.kind && value == o.value && flag == o.flag && text == o.text && hasColour == o.hasColour &&
           colour == o.colour;
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
void registerChartTransactions(TransactionEngine& engine, std::function<void(std::uint8_t code)> timerFired,
                               std::function<void()> sendFailed);

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
