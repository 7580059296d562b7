#include "mfgtest/MfgSequence.h"

#include "protocol/Protocol.h"

namespace tessaly {

namespace {

constexpr std::size_t kAnswerTypeOffset = device::AnswerCode;
constexpr std::size_t kNcoOffsets[] = {device::Nco, device::Nco + device::NcoStride, device::Nco + 2 * device::NcoStride,
                                       device::Nco + 3 * device::NcoStride};
constexpr std::size_t kPidEraseFlagsOffset = device::PidEraseBits;
constexpr std::size_t kPsiEraseFlagOffsets[] = {device::PsiUnit, device::PsiUnit + device::PsiUnitStride,
                                                device::PsiUnit + 2 * device::PsiUnitStride,
                                                device::PsiUnit + 3 * device::PsiUnitStride};
constexpr std::size_t kReadBackOffset = device::ReadData;
const Bytes kPidReadBackExpected{0xC0, 0x00, 0xFF, 0xFF};
const Bytes kPsiReadBackExpected{0x00, 0x00, 0x0A, 0x01, 0x47, 0x01, 0xAC};

const char* const kErasingText = "Erasing PID Filters and PSI Inserters...";
const char* const kUnknownText = "Error: Unknown message received.";

MfgAction progress(std::string text) {
  MfgAction a;
  a.kind = MfgAction::Kind::Progress;
  a.text = std::move(text);
  return a;
}

MfgAction stepStarted(int step) {
  MfgAction a;
  a.kind = MfgAction::Kind::StepStarted;
  a.step = step;
  return a;
}

MfgAction finished(MfgOutcome outcome, MfgFailure failure = MfgFailure::None) {
  MfgAction a;
  a.kind = MfgAction::Kind::RunFinished;
  a.outcome = outcome;
  a.failure = failure;
  return a;
}

MfgAction writeBack(MfgField field, std::string text) {
  MfgAction a;
  a.kind = MfgAction::Kind::WriteBack;
  a.field = field;
  a.text = std::move(text);
  return a;
}

MfgAction send(std::uint8_t waitState, Bytes datagram, int armMs, bool deactivateAfter = false) {
  MfgAction a;
  a.kind = MfgAction::Kind::Send;
  a.waitState = waitState;
  a.datagram = std::move(datagram);
  a.armMs = armMs;
  a.deactivateAfterSend = deactivateAfter;
  return a;
}

MfgAction schedule(std::uint8_t state, int ms) {
  MfgAction a;
  a.kind = MfgAction::Kind::Schedule;
  a.waitState = state;
  a.armMs = ms;
  return a;
}

MfgAction simple(MfgAction::Kind kind) {
  MfgAction a;
  a.kind = kind;
  return a;
}

}  // namespace

// The last accepted datagram. Bytes are read only inside both the datagram and the buffer.
struct MfgSequence::Answer {
  const std::uint8_t* data;
  std::size_t length;  // usable bytes

  explicit Answer(const MfgTimerEvent& e)
      : data(e.buffer), length(e.buffer && e.bufferSize >= e.receivedLength ? e.receivedLength : 0) {}

  std::uint8_t at(std::size_t i) const { return i < length ? data[i] : 0; }
  bool is(std::size_t size, std::uint8_t type) const { return length == size && at(kAnswerTypeOffset) == type; }
  bool statusBlock() const { return is(kMfgStatusAnswerSize, kMfgStatusType); }
  bool readBack() const { return is(kMfgReadBackAnswerSize, kMfgReadBackType); }
  std::int32_t be32(std::size_t i) const {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | at(i + k);
    return static_cast<std::int32_t>(v);
  }
  bool matches(std::size_t offset, const Bytes& expected) const {
    for (std::size_t k = 0; k < expected.size(); ++k)
      if (offset + k >= length || data[offset + k] != expected[k]) return false;
    return true;
  }
};

std::string_view mfgOutcomeCaption(MfgOutcome outcome) {
  switch (outcome) {
    case MfgOutcome::Passed: return "Programming succeeded";
    case MfgOutcome::Failed: return "Programming failed";
    case MfgOutcome::NotStarted: return "Programming Failed";
    case MfgOutcome::Stopped: break;
  }
  return "";
}

UnitState MfgSequence::unitState(UnitGroup group, int unit) const {
  if (unit < 1 || unit > 4) return UnitState::NotSeen;
  const auto i = static_cast<std::size_t>(unit - 1);
  switch (group) {
    case UnitGroup::Pid: return pid_[i];
    case UnitGroup::Psi: return psi_[i];
    case UnitGroup::Pcr: return pcr_[i];
  }
  return UnitState::NotSeen;
}

void MfgSequence::setUnit(MfgActions& out, UnitGroup group, int unit, UnitState state) {
  if (unit < 1 || unit > 4) return;
  auto& panels = group == UnitGroup::Pid ? pid_ : group == UnitGroup::Psi ? psi_ : pcr_;
  panels[static_cast<std::size_t>(unit - 1)] = state;
  MfgAction a;
  a.kind = MfgAction::Kind::UnitResult;
  a.group = group;
  a.unit = unit;
  a.unitState = state;
  out.push_back(a);
}

bool MfgSequence::allDone(UnitGroup group) const {
  for (int u = 1; u <= 4; ++u)
    if (unitState(group, u) != UnitState::Done) return false;
  return true;
}

void MfgSequence::fail(MfgActions& out, MfgFailure failure, std::string_view text) {
  out.push_back(progress(std::string(text)));
  out.push_back(finished(MfgOutcome::Failed, failure));
  running_ = false;
}

void MfgSequence::pollErase(MfgActions& out) const {
  out.push_back(send(state::MfgEraseWait, mfgErasePollMessage(), 2000));
}

MfgActions MfgSequence::start(const MfgInputTexts& texts) {
  MfgActions out;
  out.push_back(simple(MfgAction::Kind::RunStarted));
  out.push_back(stepStarted(0));
  for (UnitGroup g : {UnitGroup::Pid, UnitGroup::Psi, UnitGroup::Pcr})
    for (int u = 1; u <= 4; ++u) setUnit(out, g, u, UnitState::NotSeen);

  const NormalisedMfgInputs n = normaliseMfgInputs(texts);
  inputs_ = n.values;
  out.push_back(writeBack(MfgField::TestPort, n.testPortText));
  for (std::size_t i = 0; i < 3; ++i)
    out.push_back(writeBack(static_cast<MfgField>(static_cast<int>(MfgField::AdditionalPid1) + static_cast<int>(i)),
                            n.additionalPidText[i]));
  for (std::size_t i = 0; i < 4; ++i)
    out.push_back(writeBack(static_cast<MfgField>(static_cast<int>(MfgField::Multicast1) + static_cast<int>(i)),
                            n.multicastText[i]));

  elapsed_ = 0;
  timeouts_ = 0;
  unit_ = 1;
  running_ = true;
  out.push_back(progress("Programming in progress..."));
  out.push_back(send(state::MfgConfigWait, mfgConfigurationMessage(inputs_), 2000));
  out.push_back(simple(MfgAction::Kind::RunUnderway));
  return out;
}

MfgActions MfgSequence::sendFailed(std::uint8_t waitState) {
  MfgActions out;
  if (waitState == state::MfgPcrWait) {
    out.push_back(simple(MfgAction::Kind::Deactivate));
    return out;
  }
  if (waitState == state::MfgConfigWait) {
    out.push_back(progress("Communication Error!"));
    out.push_back(finished(MfgOutcome::NotStarted, MfgFailure::SendFailed));
    running_ = false;
  } else if (running_) {
    fail(out, MfgFailure::SendFailed, "Communication Error!");
  }
  out.push_back(simple(MfgAction::Kind::Deactivate));
  return out;
}

MfgActions MfgSequence::breakRun() {
  MfgActions out;
  out.push_back(simple(MfgAction::Kind::Abort));
  out.push_back(progress("Programming stopped."));
  out.push_back(finished(MfgOutcome::Stopped));
  running_ = false;
  return out;
}

MfgActions MfgSequence::pageHidden() { return running_ ? breakRun() : MfgActions{}; }

MfgActions MfgSequence::pcrSwitch(bool on) const {
  // Independent of any run: the state moves to 104 only when the message went out.
  MfgAction a = send(state::MfgPcrWait, mfgPcrCorrectorMessage(on), 1000);
  a.stateAfterSend = true;
  return {a};
}

MfgActions MfgSequence::timerFired(const MfgTimerEvent& event) {
  const Answer a(event);
  if (event.state == state::MfgPcrGot) {
    MfgActions out;
    if (a.statusBlock()) out.push_back(simple(MfgAction::Kind::AddChartSample));
    return out;
  }
  if (!running_) return {};

  MfgActions out;
  switch (event.state) {
    case state::MfgConfigWait:
    case state::MfgProgramWait:
      fail(out, MfgFailure::NoAnswer, "Error: No ACK answer received (in 2s).");
      return out;
    case state::MfgPidReadWait:
    case state::MfgPsiReadWait:
      fail(out, MfgFailure::NoAnswer, "Error: No ACK answer received (in 1s).");
      return out;
    case state::MfgConfigGot: return onConfigurationAnswer(a);
    case state::MfgEraseWait: return onEraseTimeout();
    case state::MfgEraseGot: return onEraseAnswer(a);
    case state::MfgProgramDue: return onProgrammingDue();
    case state::MfgProgramGot: return onProgrammingAnswer(a);
    case state::MfgPidReadDue: return onPidReadBackDue(event.testPort);
    case state::MfgPidReadGot: return onPidReadBackAnswer(a);
    case state::MfgPsiReadDue: return onPsiReadBackDue();
    case state::MfgPsiReadGot: return onPsiReadBackAnswer(a);
    default: return {};
  }
}

MfgActions MfgSequence::onConfigurationAnswer(const Answer& a) {
  MfgActions out;
  if (!a.statusBlock()) {
    fail(out, MfgFailure::UnknownAnswer, kUnknownText);
    return out;
  }
  out.push_back(simple(MfgAction::Kind::AddChartSample));
  // The four NCOs are read in turn into the record, which keeps the last one.
  std::int32_t nco = 0;
  for (std::size_t offset : kNcoOffsets) nco = a.be32(offset);
  MfgAction store = simple(MfgAction::Kind::StoreNcoFrequency);
  store.value = nco;
  out.push_back(store);
  if (nco != kMfgNcoFrequency) {
    fail(out, MfgFailure::NcoNotSet, "Error: Setting NCO frequency failed.");
    return out;
  }
  out.push_back(progress(kErasingText));
  out.push_back(stepStarted(1));
  elapsed_ = 0;
  timeouts_ = 0;
  // No answer to the erase message is wanted: the endpoint closes right after it.
  out.push_back(send(state::MfgEraseWait, mfgEraseMessage(), 200, true));
  return out;
}

MfgActions MfgSequence::onEraseTimeout() {
  MfgActions out;
  elapsed_ += 2;
  timeouts_ += 1;
  if (timeouts_ > kMfgMaxUnansweredPolls) {
    fail(out, MfgFailure::NoAnswer, "No ACK received (5 times) !");
    return out;
  }
  out.push_back(progress(std::string(kErasingText) + " (" + std::to_string(elapsed_) + " sec)"));
  pollErase(out);
  return out;
}

MfgActions MfgSequence::onEraseAnswer(const Answer& a) {
  MfgActions out;
  elapsed_ += 2;
  if (!a.statusBlock()) {
    fail(out, MfgFailure::UnknownAnswer, kUnknownText);
    return out;
  }
  out.push_back(progress(std::string(kErasingText) + " (" + std::to_string(elapsed_) + " sec)"));

  auto update = [&](UnitGroup group, int unit, bool erasing) {
    const UnitState now = unitState(group, unit);
    if (erasing) {
      if (now != UnitState::InProgress) setUnit(out, group, unit, UnitState::InProgress);
    } else if (now == UnitState::InProgress) {
      setUnit(out, group, unit, UnitState::Done);
    }
  };
  const std::uint8_t pidFlags = a.at(kPidEraseFlagsOffset);
  for (int u = 1; u <= 4; ++u) update(UnitGroup::Pid, u, (pidFlags >> (u - 1)) & 1);
  for (int u = 1; u <= 4; ++u)
    update(UnitGroup::Psi, u, a.at(kPsiEraseFlagOffsets[static_cast<std::size_t>(u - 1)]) & 1);

  if (elapsed_ <= kMfgEraseLimitSeconds) {
    if (allDone(UnitGroup::Pid) && allDone(UnitGroup::Psi)) {
      out.push_back(progress("PID Filter and PSI Inserter erase succeeded."));
      out.push_back(schedule(state::MfgProgramDue, 1000));
    } else {
      pollErase(out);
    }
    return out;
  }
  for (UnitGroup g : {UnitGroup::Pid, UnitGroup::Psi})
    for (int u = 1; u <= 4; ++u)
      if (unitState(g, u) != UnitState::Done) setUnit(out, g, u, UnitState::Failed);
  fail(out, MfgFailure::EraseFailed, "PID Filter or PSI Inserter erase failed.");
  return out;
}

MfgActions MfgSequence::onProgrammingDue() {
  MfgActions out;
  out.push_back(stepStarted(2));
  out.push_back(progress("Programming PID Filters..."));
  out.push_back(send(state::MfgProgramWait, mfgProgrammingMessage(inputs_), 2000));
  return out;
}

MfgActions MfgSequence::onProgrammingAnswer(const Answer& a) {
  MfgActions out;
  if (!a.statusBlock()) {
    fail(out, MfgFailure::UnknownAnswer, kUnknownText);
    return out;
  }
  out.push_back(stepStarted(3));
  out.push_back(progress("Reading back PID Filter 1..."));
  unit_ = 1;
  out.push_back(schedule(state::MfgPidReadDue, 200));
  return out;
}

MfgActions MfgSequence::onPidReadBackDue(std::int32_t testPort) {
  MfgActions out;
  if (unit_ >= 5) {
    if (allDone(UnitGroup::Pid)) {
      out.push_back(stepStarted(4));
      out.push_back(progress("Reading back PSI Inserter 1..."));
      unit_ = 1;
      out.push_back(schedule(state::MfgPsiReadDue, 200));
    } else {
      fail(out, MfgFailure::ReadBackFailed, "PID Filter read error!");
    }
    return out;
  }
  out.push_back(progress("Reading back PID Filter " + std::to_string(unit_) + "..."));
  inputs_.testPort = testPort;
  out.push_back(writeBack(MfgField::TestPort, std::to_string(inputs_.testPort)));
  out.push_back(send(state::MfgPidReadWait, mfgPidReadBackRequest(unit_, inputs_.testPort), 1000));
  return out;
}

MfgActions MfgSequence::onPidReadBackAnswer(const Answer& a) {
  MfgActions out;
  if (!a.readBack()) {
    fail(out, MfgFailure::UnknownAnswer, kUnknownText);
    return out;
  }
  if (!a.matches(kReadBackOffset, kPidReadBackExpected)) setUnit(out, UnitGroup::Pid, unit_, UnitState::Failed);
  unit_ += 1;
  out.push_back(schedule(state::MfgPidReadDue, 200));
  return out;
}

MfgActions MfgSequence::onPsiReadBackDue() {
  MfgActions out;
  if (unit_ >= 5) {
    if (allDone(UnitGroup::Psi)) {
      out.push_back(progress("Test program loaded successfully."));
      out.push_back(finished(MfgOutcome::Passed));
      running_ = false;
    } else {
      fail(out, MfgFailure::ReadBackFailed, "PSI Inserter read error!");
    }
    return out;
  }
  out.push_back(progress("Reading back PSI Inserter " + std::to_string(unit_) + "..."));
  out.push_back(send(state::MfgPsiReadWait, mfgPsiReadBackRequest(unit_), 1000));
  return out;
}

MfgActions MfgSequence::onPsiReadBackAnswer(const Answer& a) {
  MfgActions out;
  if (!a.readBack()) {
    fail(out, MfgFailure::UnknownAnswer, kUnknownText);
    return out;
  }
  if (!a.matches(kReadBackOffset, kPsiReadBackExpected)) setUnit(out, UnitGroup::Psi, unit_, UnitState::Failed);
  unit_ += 1;
  out.push_back(schedule(state::MfgPsiReadDue, 200));
  return out;
}


void registerMfgTransactions(TransactionEngine& engine, std::function<void()> timerFired,
                             std::function<void(std::uint8_t, bool)> sendFailed) {
  struct Row {
    std::uint8_t waiting, received;
    HandOver handOver;
  };
  const Row rows[] = {{state::MfgConfigWait, state::MfgConfigGot, HandOver::After5ms},
                      {state::MfgEraseWait, state::MfgEraseGot, HandOver::AtNextTick},
                      {state::MfgProgramWait, state::MfgProgramGot, HandOver::After5ms},
                      {state::MfgPidReadWait, state::MfgPidReadGot, HandOver::AtNextTick},
                      {state::MfgPsiReadWait, state::MfgPsiReadGot, HandOver::AtNextTick},
                      {state::MfgPcrWait, state::MfgPcrGot, HandOver::After5ms}};
  for (const Row& r : rows) {
    Transaction t;
    t.waiting = r.waiting;
    t.received = r.received;
    t.accepts = Answer::Long;
    t.handOver = r.handOver;
    t.timedOut = timerFired;
    t.answered = timerFired;
    const std::uint8_t code = r.waiting;
    t.sendFailed = [sendFailed, code](bool late) { sendFailed(code, late); };
    engine.registerTransaction(std::move(t));
  }
  for (std::uint8_t due : {state::MfgProgramDue, state::MfgPidReadDue, state::MfgPsiReadDue})
    engine.registerStep(due, timerFired);
}

}  // namespace tessaly
