#include "device/ProfileSequence.h"

#include <algorithm>
#include <sstream>

#include "instructions/GeneralInstructions.h"
#include "instructions/NoticeWait.h"
#include "instructions/PageInstructions.h"
#include "profile/ProfileStatus.h"
#include "protocol/Protocol.h"

namespace tessaly {

namespace {

constexpr std::int32_t kLastPidRow = kPidMax - (profile::kPidsPerRead - 1);  // 8184

std::string pidRowText(int input, std::int32_t start) {
  return "PID filter input " + std::to_string(input) + ": PIDs " + std::to_string(start) + ".." +
         std::to_string(start + profile::kPidsPerRead - 1);
}

ProfileOutcome outcomeOf(QueryKind k) {
  switch (k) {
    case QueryKind::Ok:
      return ProfileOutcome::Ok;
    case QueryKind::NoDevice:
      return ProfileOutcome::NoDevice;
    case QueryKind::NotRemux:
      return ProfileOutcome::NotRemux;
    case QueryKind::UnknownAnswer:
      return ProfileOutcome::UnknownAnswer;
    case QueryKind::Timeout:
      return ProfileOutcome::NoAnswer;
    case QueryKind::SendFailed:
      return ProfileOutcome::SendFailed;
  }
  return ProfileOutcome::UnknownAnswer;
}

// "a.b.c.d" in host order; none for a host name.
std::optional<std::uint32_t> dottedAddress(const std::string& text) {
  std::istringstream in(text);
  std::uint32_t address = 0;
  for (int k = 0; k < 4; ++k) {
    unsigned part = 0;
    char dot = 0;
    if (!(in >> part) || part > 255 || (k < 3 && (!(in >> dot) || dot != '.'))) return std::nullopt;
    address = (address << 8) | part;
  }
  char rest = 0;
  if (in >> rest) return std::nullopt;
  return address;
}

}  // namespace

ProfileReadRequest readRequestFor(const profile::Profile& p) {
  ProfileReadRequest r;
  for (const auto& [input, entries] : p.pidFilter) r.pidInputs.insert(input);
  r.psiRanges = p.psiRanges;
  r.withIdentity = p.identity.has_value();
  return r;
}

void registerProfileTransactions(TransactionEngine& engine, std::function<void(bool received)> notice,
                                 std::function<void()> sendFailed, std::function<void()> pollDue) {
  registerNoticeWait(engine, state::ProfileNoticeWait, state::ProfileNoticeGot, std::move(notice),
                     [sendFailed = std::move(sendFailed)](bool) {
                       if (sendFailed) sendFailed();
                     });
  engine.registerStep(state::ProfilePollDue, std::move(pollDue));
}

ProfileSequence::ProfileSequence(DeviceSession& session, ProfileSequenceListener& listener, BusTurns* turns)
    : session_(session), listener_(listener), turns_(turns) {
  if (turns_) session_.traffic().add(this);
  registerProfileTransactions(
      session_.engine(), [this](bool got) { noticeOutcome(got); },
      [this] { end(ProfileOutcome::SendFailed, std::string(kCommErrorCheckText)); }, [this] { poll(); });
}

ProfileSequence::~ProfileSequence() {
  if (running_) {
    session_.engine().abort();
    session_.setQueryListener(savedListener_);
  }
  releaseTurn();
  if (turns_) session_.traffic().remove(this);
}

void ProfileSequence::onBus(std::function<void()> send) {
  if (!turns_) {
    send();
    return;
  }
  releaseTurn();
  // The turn may come (and, on a send that fails at once, end) before request returns.
  const std::uint64_t ask = ++busAsks_;
  const BusTurns::Ticket t = turns_->request([this, send = std::move(send)](BusTurns::Ticket held) {
    turn_ = held;
    const QueryTarget target = session_.target();
    busPort_ = static_cast<std::uint16_t>(target.devicePort);
    busAddress_ = dottedAddress(target.deviceIp);
    send();
  });
  if (busAsks_ == ask && turn_ != t) turn_ = t;
}

void ProfileSequence::releaseTurn() {
  const BusTurns::Ticket t = turn_;
  turn_ = 0;
  if (turns_ && t != 0) turns_->release(t);
}

void ProfileSequence::record(const TrafficRecord& r) {
  if (r.direction == TrafficDirection::Sent || !turns_ || !turns_->holds(turn_)) return;
  if (r.peerPort != busPort_ || (busAddress_ && r.peerAddress != *busAddress_)) return;
  releaseTurn();
}

void ProfileSequence::appendRead(std::vector<Op>& ops, const ProfileReadRequest& r) {
  Op status;
  status.kind = Op::Status;
  status.what = "Status";
  ops.push_back(status);
  for (const int input : r.pidInputs)
    for (std::int32_t start = 0; start <= kLastPidRow; start += profile::kPidsPerRead) {
      Op row;
      row.kind = Op::PidRow;
      row.input = input;
      row.start = start;
      row.what = pidRowText(input, start);
      ops.push_back(row);
    }
  if (r.psiRanges)
    for (const profile::PsiRange& range : *r.psiRanges)
      for (std::int32_t address = range.first; address <= range.last; ++address) {
        Op record;
        record.kind = Op::PsiRecord;
        record.start = address;
        record.what = "PSI flash address " + std::to_string(address);
        ops.push_back(record);
      }
}

void ProfileSequence::startRead(const ProfileReadRequest& r) { readThen({}, r, std::nullopt); }

void ProfileSequence::startCompare(const profile::Profile& p) { readThen({}, readRequestFor(p), p); }

void ProfileSequence::startApply(const profile::Profile& p) {
  std::vector<Op> ops;
  // The SDI address goes last of all: the read-back then asks the board at its new address.
  const std::optional<LabelledInstruction> newAddress =
      p.identity && p.identity->sdiAddress != session_.link().sdiAddress
          ? std::optional<LabelledInstruction>(setAddressInstruction(static_cast<std::uint8_t>(p.identity->sdiAddress)))
          : std::nullopt;
  for (const profile::ApplyStep& s : profile::applyPlan(p)) {
    Op op;
    op.kind = Op::Instruction;
    op.what = s.what;
    op.label = s.label;
    op.sdiMessage = s.sdiMessage;
    op.after = s.after;
    if (newAddress && s.label == newAddress->label && s.sdiMessage == newAddress->sdiMessage())
      op.sdiAfter = static_cast<std::uint8_t>(p.identity->sdiAddress);
    ops.push_back(std::move(op));
  }
  readThen(std::move(ops), readRequestFor(p), p);
}

void ProfileSequence::readThen(std::vector<Op> ops, const ProfileReadRequest& r,
                               std::optional<profile::Profile> expected) {
  appendRead(ops, r);
  if (expected) ops.push_back(Op{Op::Diff, "Compare", {}, {}, profile::ApplyStep::Notice, 0, 0, 0});
  withIdentity_ = r.withIdentity;
  read_ = profile::Profile{};
  if (r.psiRanges) read_.psiRanges = r.psiRanges;
  begin(std::move(ops), std::move(expected));
}

void ProfileSequence::begin(std::vector<Op> ops, std::optional<profile::Profile> expected) {
  if (running_) cancel();
  ops_ = std::move(ops);
  expected_ = std::move(expected);
  at_ = 0;
  done_ = 0;
  total_ = static_cast<std::size_t>(std::count_if(ops_.begin(), ops_.end(), [](const Op& o) { return o.kind != Op::Diff; }));
  counter_.reset();
  counterBeforeRead_.reset();
  running_ = true;
  // The sequence hears its own Queries; whoever listened before hears them again afterwards.
  savedListener_ = session_.queryListener();
  session_.setQueryListener(this);
  next();
}

void ProfileSequence::next() {
  if (!running_) return;
  if (at_ >= ops_.size()) {
    end(ProfileOutcome::Ok, {});
    return;
  }
  const Op& op = ops_[at_];
  listener_.progress(ProfileProgress{op.what, done_, total_});
  switch (op.kind) {
    case Op::Status:
      phase_ = Phase::Query;
      onBus([this] { session_.query(); });
      return;
    case Op::Instruction:
      sendInstruction(op);
      return;
    case Op::PidRow:
    case Op::PsiRecord: {
      // A read: the instruction, then (at its notice) the Query that carries its data.
      const LabelledInstruction i = op.kind == Op::PidRow ? readPidFilterInstruction(op.input, op.start)
                                                          : readPsiInstruction(op.start);
      Op send = op;
      send.label = i.label;
      send.sdiMessage = i.sdiMessage();
      counterBeforeRead_ = counter_;
      sendInstruction(send);
      return;
    }
    case Op::Diff: {
      ProfileResult r;
      r.read = read_;
      r.differences = profile::diffProfiles(*expected_, read_);
      r.outcome = r.differences.empty() ? ProfileOutcome::Ok : ProfileOutcome::Differs;
      if (!r.differences.empty())
        r.reason = std::to_string(r.differences.size()) + (r.differences.size() == 1 ? " field differs" : " fields differ");
      releaseTurn();
      finish(r);
      return;
    }
  }
}

void ProfileSequence::sendInstruction(const Op& op) {
  phase_ = Phase::Notice;
  onBus([this, label = op.label, message = op.sdiMessage] {
    const QueryTarget t = session_.target();
    StartOptions o;
    o.armMs = noticeTimeoutMs_;
    session_.engine().start(state::ProfileNoticeWait, t.deviceIp, t.devicePort,
                            encodeLoadDatagram(t.framing, label, t.sdiAddress, message), o);
  });
}

void ProfileSequence::noticeOutcome(bool got) {
  if (!running_ || phase_ != Phase::Notice) return;
  if (!got) {
    end(ProfileOutcome::NoAnswer, std::string(noticeOutcomeText(false)));
    return;
  }
  releaseTurn();
  const Op& op = ops_[at_];
  // The board now answers at its new address; the device and ports stay as they are.
  if (op.sdiAfter != 0) session_.link().sdiAddress = op.sdiAfter;
  if (op.kind == Op::Instruction && op.after == profile::ApplyStep::Notice) {
    ++done_;
    ++at_;
    next();
    return;
  }
  if (op.kind == Op::Instruction) {
    // An erase: the flash is busy until the status says it is free.
    phase_ = Phase::FlashPoll;
    pollsLeft_ = kFlashFreeLimitMs / kFlashPollIntervalMs;
    onBus([this] { session_.query(); });
    return;
  }
  // A read: its data comes with the next status answer.
  phase_ = Phase::Query;
  onBus([this] { session_.query(); });
}

void ProfileSequence::poll() {
  if (!running_) return;
  if (phase_ == Phase::Rest) {
    const ProfileResult r = *restResult_;
    releaseTurn();
    finish(r);
    return;
  }
  if (phase_ != Phase::FlashPoll) return;
  onBus([this] { session_.query(); });
}

bool ProfileSequence::takeStatus(const QueryOutcome& o) {
  if (o.kind != QueryKind::Ok) {
    const std::string reason = o.kind == QueryKind::Timeout      ? "No answer received (in 1s)."
                               : o.kind == QueryKind::SendFailed ? std::string(kCommErrorCheckText)
                                                                 : queryProblemText(o);
    end(outcomeOf(o.kind), reason, o);
    return false;
  }
  counter_ = session_.device().InstructionCounter;
  return true;
}

void ProfileSequence::queryEnded(const QueryOutcome& o) {
  // Only the sequence's own Queries: none other belongs while it runs.
  if (!running_ || (phase_ != Phase::Query && phase_ != Phase::FlashPoll)) return;
  if (o.kind != QueryKind::Timeout) releaseTurn();
  if (!takeStatus(o)) return;
  const Op& op = ops_[at_];
  const tZODADevice& d = session_.device();
  if (phase_ == Phase::FlashPoll) {
    const bool pid = op.after == profile::ApplyStep::FlashPidFree;
    const std::uint8_t busy = (pid ? d.PidFilterState : d.PsiInserterState) & 1;
    if (busy) {
      if (pollsLeft_-- <= 0) {
        end(ProfileOutcome::FlashBusy,
            std::string(pid ? "The PID filter" : "The PSI flash") + " is still busy " +
                std::to_string(kFlashFreeLimitMs / 1000) + " s after its erase.");
        return;
      }
      session_.engine().setState(state::ProfilePollDue);
      session_.engine().armTimer(kFlashPollIntervalMs);
      return;
    }
  } else if (op.kind == Op::Status) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(block::Size));
    const ReceiveBuffer& buffer = session_.engine().buffer();
    for (std::size_t k = 0; k < block.size(); ++k) block[k] = buffer.at(static_cast<std::size_t>(o.answerBase) + k);
    const profile::Profile status =
        profile::profileFromStatus(d, withIdentity_, profile::statusBlockExtras(block.data(), block.size()));
    read_.identity = status.identity;
    read_.inputs = status.inputs;
    read_.output = status.output;
    read_.sectors = status.sectors;
    read_.pcrCorrector = status.pcrCorrector;
  } else if (op.kind == Op::PidRow || op.kind == Op::PsiRecord) {
    const bool pid = op.kind == Op::PidRow;
    // Only the read-back of this read: of its kind, and taken by the board since the last status.
    if (d.ReadbackKind != (pid ? kReadbackPid : kReadbackPsi) || !counterBeforeRead_ ||
        *counterBeforeRead_ == d.InstructionCounter) {
      end(ProfileOutcome::WrongReadback,
          std::string("The status answer holds no ") + (pid ? "PID filter" : "PSI inserter") +
              " read-back of this read (read-back kind " + std::to_string(d.ReadbackKind) +
              ", instruction counter " + std::to_string(d.InstructionCounter) + ").",
          o);
      return;
    }
    if (pid) {
      auto& entries = read_.pidFilter[op.input];
      for (const profile::PidEntry& e : profile::pidEntriesFromReadback(op.start, d.ReadbackData)) entries.push_back(e);
    } else if (auto record = profile::psiRecordFromReadback(op.start, d.ReadbackData)) {
      read_.psi.push_back(std::move(*record));
    }
  }
  ++done_;
  ++at_;
  next();
}

void ProfileSequence::cancel() {
  if (!running_) return;
  session_.engine().abort();
  if (phase_ == Phase::Rest) {
    const ProfileResult r = *restResult_;
    releaseTurn();
    finish(r);
    return;
  }
  end(ProfileOutcome::Cancelled, "Cancelled.");
}

void ProfileSequence::end(ProfileOutcome outcome, std::string reason, std::optional<QueryOutcome> q) {
  if (!running_ || phase_ == Phase::Rest) return;
  ProfileResult r;
  r.outcome = outcome;
  r.reason = std::move(reason);
  r.query = std::move(q);
  if (at_ < ops_.size()) r.step = ops_[at_].what;
  if (outcome == ProfileOutcome::Ok) r.read = read_;
  if (outcome == ProfileOutcome::NoAnswer && turns_ && turns_->holds(turn_)) {
    // Nothing came: the bus stays ours until a late answer has had its time.
    phase_ = Phase::Rest;
    restResult_ = std::move(r);
    session_.engine().setState(state::ProfilePollDue);
    session_.engine().armTimer(noticeTimeoutMs_);
    return;
  }
  releaseTurn();
  finish(r);
}

void ProfileSequence::finish(const ProfileResult& r) {
  running_ = false;
  phase_ = Phase::Idle;
  restResult_.reset();
  session_.setQueryListener(savedListener_);
  listener_.finished(r);
}

}  // namespace tessaly
