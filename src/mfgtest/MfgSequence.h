#pragma once
// The manufacturer test run (states 90..103) and the PCR corrector switches
// (104, 105) as a state machine without widgets. A front end feeds it events
// (start, timer fired, send failed, Break, page hidden) and carries out the actions
// it returns, in order: what happened (progress, steps, units, the outcome), which
// the front end shows in its own way, and the transactions to run.
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

// The run's five steps, in order (StepStarted 0..4).
inline constexpr std::array<std::string_view, 5> kMfgStepTexts{
    "Set up NCOs and stream formats", "Erase PID Filters and PSI Inserters", "Program PID Filters and PSI Ins.",
    "Read PID Filters", "Read PSI Inserters"};

// Where a PID filter, PSI inserter or PCR corrector stands in the run.
enum class UnitState { NotSeen, InProgress, Done, Failed };
enum class UnitGroup { Pid, Psi, Pcr };
// How a run ended: it passed; it failed; its first message could not go out (the
// run never started); it was broken off.
enum class MfgOutcome { Passed, Failed, NotStarted, Stopped };
// Why a run failed.
enum class MfgFailure {
  None,
  SendFailed,     // a message could not go out
  NoAnswer,       // a message went unanswered (an acknowledgement, or five erase polls)
  UnknownAnswer,  // an answer of the wrong kind or length
  NcoNotSet,      // the board reports another NCO frequency
  EraseFailed,    // a unit was still erasing when the erase time ran out
  ReadBackFailed  // a unit read back other contents than programmed
};
// The result's caption for a run that ended with an outcome ("" for Stopped).
std::string_view mfgOutcomeCaption(MfgOutcome outcome);
// The normalised inputs written back: test port, additional PIDs 1..3, multicast octets 1..4.
enum class MfgField { TestPort, AdditionalPid1, AdditionalPid2, AdditionalPid3, Multicast1, Multicast2, Multicast3, Multicast4 };

constexpr std::size_t kMfgStatusAnswerSize = device::StatusSize;
constexpr std::size_t kMfgReadBackAnswerSize = device::ReadbackSize;
constexpr std::uint8_t kMfgStatusType = device::StatusCode;
constexpr std::uint8_t kMfgReadBackType = device::ReadbackCode;
constexpr std::int32_t kMfgNcoFrequency = 2000000;
constexpr int kMfgEraseLimitSeconds = 512;
constexpr int kMfgMaxUnansweredPolls = 5;

struct MfgAction {
  enum class Kind {
    // What happened.
    Progress,           // text: what the run is doing, or why it ended
    StepStarted,        // step: 0..4
    UnitResult,         // group, unit (1..4), unitState
    RunStarted,         // a run begins: no outcome any more
    RunUnderway,        // its first message has left: the run can be broken off
    RunFinished,        // outcome, failure
    WriteBack,          // field, text: an input as it was normalised
    // Its transactions and the status record.
    Send,               // waitState, datagram, armMs, deactivateAfterSend, stateAfterSend
    Schedule,           // waitState, armMs: set the state, arm the timer
    Deactivate,         // close the endpoint
    Abort,              // disable the timer and close the endpoint (Break)
    AddChartSample,     // one point of the PCR correction chart from the status record
    StoreNcoFrequency,  // value: into the status record's NcoFrequency
  };
  Kind kind = Kind::Progress;
  std::string text;
  int step = -1;
  UnitGroup group = UnitGroup::Pid;
  int unit = 0;
  UnitState unitState = UnitState::NotSeen;
  MfgOutcome outcome = MfgOutcome::Passed;
  MfgFailure failure = MfgFailure::None;
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
// length of the last accepted datagram, and the test port as it stands now (a
// read-back goes to the port given at that moment, normalised as at the start).
struct MfgTimerEvent {
  std::uint8_t state = 0;
  const std::uint8_t* buffer = nullptr;
  std::size_t bufferSize = 0;
  std::size_t receivedLength = 0;
  std::int32_t testPort = 58100;
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
  UnitState unitState(UnitGroup group, int unit) const;
  int elapsedSeconds() const { return elapsed_; }
  int unansweredPolls() const { return timeouts_; }
  int unitCounter() const { return unit_; }

 private:
  struct Answer;
  void setUnit(MfgActions& out, UnitGroup group, int unit, UnitState state);
  bool allDone(UnitGroup group) const;
  void fail(MfgActions& out, MfgFailure failure, std::string_view text);
  void pollErase(MfgActions& out) const;

  MfgActions onConfigurationAnswer(const Answer& a);
  MfgActions onEraseTimeout();
  MfgActions onEraseAnswer(const Answer& a);
  MfgActions onProgrammingDue();
  MfgActions onProgrammingAnswer(const Answer& a);
  MfgActions onPidReadBackDue(std::int32_t testPort);
  MfgActions onPidReadBackAnswer(const Answer& a);
  MfgActions onPsiReadBackDue();
  MfgActions onPsiReadBackAnswer(const Answer& a);

  bool running_ = false;
  MfgInputs inputs_;
  std::array<UnitState, 4> pid_{}, psi_{}, pcr_{};
  int elapsed_ = 0;
  int timeouts_ = 0;
  int unit_ = 1;
};

}  // namespace tessaly
