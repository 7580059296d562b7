#pragma once
// The manufacturer test run (states 90..103) and the PCR corrector switches
// (104, 105) as a state machine without widgets. The page feeds it events (start,
// timer fired, send failed, Break, page hidden) and carries out the actions it
// returns, in order.
//
// Carrying out a Send action: set the engine state to waitState, activate and send
// the datagram to the device IP and port; once it has left, deactivate the endpoint
// when deactivateAfterSend is set, arm the timer when armMs > 0 and carry out the
// remaining actions of the list. When the send fails, drop them and carry out
// sendFailed(waitState) instead.
// A Send with stateAfterSend (the PCR corrector switches) sets the state only once
// the datagram went out: a failed switch leaves whatever transaction was waiting
// untouched.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <functional>

#include "text/Bytes.h"
#include "link/Engine.h"
#include "mfgtest/MfgMessages.h"
#include "protocol/Protocol.h"
#include "status/Palette.h"

namespace tessaly {

// The test run's and the PCR switches' transaction state codes.
namespace state {
constexpr std::uint8_t MfgConfigWait = 90, MfgConfigGot = 91;
constexpr std::uint8_t MfgEraseWait = 92, MfgEraseGot = 93;
constexpr std::uint8_t MfgProgramDue = 94;
constexpr std::uint8_t MfgProgramWait = 96, MfgProgramGot = 97;
constexpr std::uint8_t MfgPidReadDue = 98, MfgPidReadWait = 99, MfgPidReadGot = 100;
constexpr std::uint8_t MfgPsiReadDue = 101, MfgPsiReadWait = 102, MfgPsiReadGot = 103;
constexpr std::uint8_t MfgPcrWait = 104, MfgPcrGot = 105;
}  // namespace state

// Registers the codes 90..105 with the engine: `timerFired` runs for every one of
// them, `sendFailed(waitState, late)` when a Send could not go out. The erase poll
// and read-back answers are evaluated when the running interval ends.
void registerMfgTransactions(TransactionEngine& engine, std::function<void()> timerFired,
                             std::function<void(std::uint8_t waitState, bool late)> sendFailed);

// The five steps the run highlights in turn (HighlightStep 0..4).
inline constexpr std::array<std::string_view, 5> kMfgStepTexts{
    "Set up NCOs and stream formats", "Erase PID Filters and PSI Inserters", "Program PID Filters and PSI Ins.",
    "Read PID Filters", "Read PSI Inserters"};

// Colours of the unit panels: button face, light yellow, light green, red.
enum class UnitPanelState { NotSeen, InProgress, Done, Failed };
enum class UnitGroup { Pid, Psi, Pcr };
// PanelTest colours: button face, light green, red.
enum class ResultColour { Neutral, Success, Failure };
// The edits written back: EditTP, EditAP1..3, EditMIP1..4.
enum class MfgField { TestPort, AdditionalPid1, AdditionalPid2, AdditionalPid3, Multicast1, Multicast2, Multicast3, Multicast4 };

constexpr std::uint32_t kColourInProgress = colour::LightYellow;
constexpr std::uint32_t kColourDone = colour::LightGreen;
constexpr std::uint32_t kColourFailed = colour::Red;
constexpr std::uint32_t kColourRunningStep = colour::Blue;

constexpr std::size_t kMfgStatusAnswerSize = device::StatusSize;
constexpr std::size_t kMfgReadBackAnswerSize = device::ReadbackSize;
constexpr std::uint8_t kMfgStatusType = device::StatusCode;
constexpr std::uint8_t kMfgReadBackType = device::ReadbackCode;
constexpr std::int32_t kMfgNcoFrequency = 2000000;
constexpr int kMfgEraseLimitSeconds = 512;
constexpr int kMfgMaxUnansweredPolls = 5;

struct MfgAction {
  enum class Kind {
    SetLabelTest,       // text
    HighlightStep,      // step: 0..4 = Label94..Label98 blue, the others black; -1 all black
    SetUnitPanel,       // group, unit (1..4), panel
    SetResultPanel,     // colour; caption = text when hasCaption, else the caption stays
    SetRunning,         // flag: true = ButtonMS disabled and ButtonBreak enabled; false = the reverse
    WriteBack,          // field, text
    Send,               // waitState, datagram, armMs, deactivateAfterSend, stateAfterSend
    Schedule,           // waitState, armMs: set the state, arm the timer
    Deactivate,         // close the endpoint
    Abort,              // disable the timer and close the endpoint (Break)
    AddChartSample,     // one point of the PCR correction chart from the status record
    StoreNcoFrequency,  // value: into the status record's NcoFrequency
  };
  Kind kind = Kind::SetLabelTest;
  std::string text;
  int step = -1;
  UnitGroup group = UnitGroup::Pid;
  int unit = 0;
  UnitPanelState panel = UnitPanelState::NotSeen;
  ResultColour colour = ResultColour::Neutral;
  bool hasCaption = false;
  bool flag = false;
  MfgField field = MfgField::TestPort;
  std::uint8_t waitState = 0;
  Bytes datagram;
  int armMs = 0;
  bool deactivateAfterSend = false;
  bool stateAfterSend = false;  // waitState is set after a successful send, not before
  std::int32_t value = 0;

  // How a Send starts its transaction.
  StartOptions startOptions() const {
    StartOptions o;
    o.stateAt = stateAfterSend ? StateAt::AfterSend : StateAt::BeforeSend;
    o.armMs = armMs;
    o.closeAfterSend = deactivateAfterSend;
    return o;
  }
};
using MfgActions = std::vector<MfgAction>;

// Carries out the actions that concern the engine alone (Schedule, Deactivate,
// Abort), the same for every front end; any other action is left to the caller.
inline void applyEngineAction(TransactionEngine& engine, const MfgAction& a) {
  switch (a.kind) {
    case MfgAction::Kind::Schedule:
      engine.setState(a.waitState);
      engine.armTimer(a.armMs);
      break;
    case MfgAction::Kind::Deactivate: engine.endpoint().deactivate(); break;
    case MfgAction::Kind::Abort: engine.abort(); break;
    default: break;
  }
}

// What the timer handler hands over: the state code, the receive buffer and the
// length of the last accepted datagram, and the current text of EditTP.
struct MfgTimerEvent {
  std::uint8_t state = 0;
  const std::uint8_t* buffer = nullptr;
  std::size_t bufferSize = 0;
  std::size_t receivedLength = 0;
  std::string_view testPortText;
};

class MfgSequence {
 public:
  // "Program Test Configuration".
  MfgActions start(const MfgInputTexts& inputs);
  // The timer fired in `state` (the engine has disabled it and closed the endpoint).
  MfgActions timerFired(const MfgTimerEvent& event);
  // The Send action with this waitState could not go out (at once, or when its host
  // name's lookup failed): the actions after that Send were never carried out.
  MfgActions sendFailed(std::uint8_t waitState);
  // "Break".
  MfgActions breakRun();
  // The page was hidden: Break when a run is active, otherwise nothing.
  MfgActions pageHidden();
  // "Enable PCR Correctors" / "Disable PCR Correctors".
  MfgActions pcrSwitch(bool on) const;

  bool running() const { return running_; }
  const MfgInputs& inputs() const { return inputs_; }
  UnitPanelState panel(UnitGroup group, int unit) const;
  int elapsedSeconds() const { return elapsed_; }
  int unansweredPolls() const { return timeouts_; }
  int unitCounter() const { return unit_; }

 private:
  struct Answer;
  void setPanel(MfgActions& out, UnitGroup group, int unit, UnitPanelState state);
  bool allDone(UnitGroup group) const;
  void fail(MfgActions& out, std::string_view text);
  void pollErase(MfgActions& out) const;

  MfgActions onConfigurationAnswer(const Answer& a);
  MfgActions onEraseTimeout();
  MfgActions onEraseAnswer(const Answer& a);
  MfgActions onProgrammingDue();
  MfgActions onProgrammingAnswer(const Answer& a);
  MfgActions onPidReadBackDue(std::string_view testPortText);
  MfgActions onPidReadBackAnswer(const Answer& a);
  MfgActions onPsiReadBackDue();
  MfgActions onPsiReadBackAnswer(const Answer& a);

  bool running_ = false;
  MfgInputs inputs_;
  std::array<UnitPanelState, 4> pid_{}, psi_{}, pcr_{};
  int elapsed_ = 0;
  int timeouts_ = 0;
  int unit_ = 1;
};

}  // namespace tessaly
