#pragma once
// A board's configuration read into a profile, and a profile applied to a board, as
// sequences of exchanges on one DeviceSession, one transaction at a time, without Qt.
//
// Read: a Query of the status; for each PID filter input asked, READPIDFILTER for
// each row of eight PIDs (start 0, 8, ..., 8184), its interrupt notice, then a Query
// whose read-back is that row's; for each PSI flash address asked, READPSI, notice,
// Query. A read-back counts only when the status says it holds that kind of
// read-back and the board's instruction counter moved since the status before the
// read: a board that did not take the read still shows the previous row, which is
// never taken for this one.
// Apply: the profile's plan (profile/ProfilePlan.h), each instruction's notice
// awaited, an erase followed by Queries about every 100 ms until its flash is free
// (up to 300 polls, about 30 s); then the read of what the profile names and the comparison.
//
// Any step that goes wrong ends the run (no retries, so a late answer is never
// taken for a later request). The sequence tells its listener how far it is and how
// it ended; a front end (tessaly-cli config, the panel's File menu) shows it.
//
// Given the BusTurns of the board's controller, every datagram it sends (an
// instruction, a Query, a flash poll) first waits for its turn on the bus, and the
// turn ends as soon as a datagram from the controller arrives at the session or the
// wait ends (time-out, send failure, cancel, the sequence's end). After a time-out the
// turn is kept for one more notice time-out before it passes on, so that an answer
// still on its way has left the bus first; the run's outcome is told after it.
// Without turns nothing waits and nothing is kept.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/BusTurns.h"
#include "device/DeviceSession.h"
#include "profile/Profile.h"
#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"

namespace tessaly {

// The sequence's codes: its instructions' wait for the interrupt notice (notices
// count only while the state is 10 or below) and a step due when the timer fires
// (the next poll of a busy flash, the end of the bus's rest after a time-out).
namespace state {
constexpr std::uint8_t ProfileNoticeWait = 1, ProfileNoticeGot = 10;
constexpr std::uint8_t ProfilePollDue = 130;
}  // namespace state

// Registers the codes 1, 10 and 130: `notice(received)` when the wait for an
// instruction's notice ends, `sendFailed` when its datagram could not go out,
// `pollDue` when the next poll of a busy flash is due.
void registerProfileTransactions(TransactionEngine& engine, std::function<void(bool received)> notice,
                                 std::function<void()> sendFailed, std::function<void()> pollDue);

constexpr int kProfileNoticeTimeoutMs = 1000;
constexpr int kFlashPollIntervalMs = 100;
constexpr int kFlashFreeLimitMs = 30000;

// What a read asks of the board beside its status.
struct ProfileReadRequest {
  std::set<int> pidInputs;                                // inputs 1..6 whose PID filter is read
  std::optional<std::vector<profile::PsiRange>> psiRanges;  // the PSI flash addresses read
  bool withIdentity = false;
};
// What reading back `p` takes: its PID filter inputs, its PSI ranges, its identity.
ProfileReadRequest readRequestFor(const profile::Profile& p);

enum class ProfileOutcome {
  Ok,             // read; or applied and the board matches
  Differs,        // applied (or compared), and the board does not match
  NoAnswer,       // a Query or an interrupt notice did not come in time
  NoDevice,       // the controller answered: nothing on the SDI
  NotRemux,       // a device that is not a remultiplexer answered
  UnknownAnswer,  // an answer the Query does not know
  WrongReadback,  // the status after a read does not hold that read's data
  FlashBusy,      // a flash stayed busy after its erase beyond the limit
  SendFailed,     // a datagram could not go out
  Cancelled,      // cancel() ended it
};

struct ProfileProgress {
  std::string what;        // "PID filter input 1: PIDs 496..503", "Sector 3", ...
  std::size_t done = 0;    // exchanges finished so far
  std::size_t total = 0;   // exchanges the run takes without flash waits
};

struct ProfileResult {
  ProfileOutcome outcome = ProfileOutcome::Ok;
  std::string reason;                             // not Ok: one line, e.g. "No SDI IRQ received (in 1s)."
  std::string step;                               // not Ok: the step it ended on
  std::optional<QueryOutcome> query;              // the Query whose answer ended it, when one did
  profile::Profile read;                          // what was read (Ok, Differs)
  std::vector<profile::Difference> differences;   // Differs: expected (the profile) against the board
};

class ProfileSequenceListener {
 public:
  virtual ~ProfileSequenceListener() = default;
  virtual void progress(const ProfileProgress& /*p*/) {}
  // Once per run; the engine is idle by then, so the listener may start the next run.
  virtual void finished(const ProfileResult& r) = 0;
};

class ProfileSequence : private StatusQueryListener, private TrafficTap {
 public:
  // Registers the codes 1, 10 and 130 with the session's engine (once per engine: the
  // sequence lives as long as the session). `turns`, when given, is the bus of the
  // board's controller, shared with the other boards' sequences; it outlives this one.
  ProfileSequence(DeviceSession& session, ProfileSequenceListener& listener, BusTurns* turns = nullptr);
  ~ProfileSequence() override;
  ProfileSequence(const ProfileSequence&) = delete;
  ProfileSequence& operator=(const ProfileSequence&) = delete;

  // Each runs against the session's target; while it runs, the session's query
  // listener is the sequence (the earlier one is put back at the end).
  void startRead(const ProfileReadRequest& r);
  // The profile must be valid. Applies it, reads back what it names and compares.
  void startApply(const profile::Profile& p);
  // Reads what `p` names and compares (nothing is sent but reads).
  void startCompare(const profile::Profile& p);
  // Ends a run at once: nothing more is sent, its turn on the bus is given up;
  // finished(Cancelled) (or, while the bus rests after a time-out, that outcome).
  void cancel();
  bool running() const { return running_; }
  // How long an instruction's interrupt notice is awaited (default 1 s).
  void setNoticeTimeoutMs(int ms) { noticeTimeoutMs_ = ms; }

 private:
  struct Op {
    enum Kind { Status, Instruction, PidRow, PsiRecord, Diff } kind = Status;
    std::string what;
    std::string label;
    Bytes sdiMessage;
    profile::ApplyStep::Wait after = profile::ApplyStep::Notice;
    int input = 0;                // PidRow
    std::int32_t start = 0;       // PidRow: first PID; PsiRecord: the address
    std::uint8_t sdiAfter = 0;    // Instruction: the board's SDI address from here on (0: unchanged)
  };

  void begin(std::vector<Op> ops, std::optional<profile::Profile> expected);
  // `ops`, then the read of `r`, then (with `expected`) the comparison with it.
  void readThen(std::vector<Op> ops, const ProfileReadRequest& r, std::optional<profile::Profile> expected);
  void appendRead(std::vector<Op>& ops, const ProfileReadRequest& r);
  void next();
  void sendInstruction(const Op& op);
  void noticeOutcome(bool got);
  void poll();
  void queryEnded(const QueryOutcome& o) override;
  bool takeStatus(const QueryOutcome& o);
  void end(ProfileOutcome outcome, std::string reason, std::optional<QueryOutcome> q = std::nullopt);
  void finish(const ProfileResult& r);
  // Runs `send` in the sequence's turn on the bus (at once without turns).
  void onBus(std::function<void()> send);
  void releaseTurn();
  // A datagram from the controller ends the turn.
  void record(const TrafficRecord& r) override;

  DeviceSession& session_;
  ProfileSequenceListener& listener_;
  StatusQueryListener* savedListener_ = nullptr;
  bool running_ = false;
  int noticeTimeoutMs_ = kProfileNoticeTimeoutMs;

  std::vector<Op> ops_;
  std::size_t at_ = 0;            // the op running
  std::size_t total_ = 0;         // exchanges of the run
  std::size_t done_ = 0;
  enum class Phase { Idle, Notice, Query, FlashPoll, Rest } phase_ = Phase::Idle;
  BusTurns* turns_ = nullptr;
  BusTurns::Ticket turn_ = 0;           // the turn held or asked for last
  std::uint64_t busAsks_ = 0;
  std::uint16_t busPort_ = 0;           // where the datagram of the turn went
  std::optional<std::uint32_t> busAddress_;
  std::optional<ProfileResult> restResult_;  // told once the bus's rest ends
  int pollsLeft_ = 0;
  std::optional<std::uint8_t> counter_;  // the instruction counter of the last status
  std::optional<std::uint8_t> counterBeforeRead_;
  bool withIdentity_ = false;
  std::optional<profile::Profile> expected_;
  profile::Profile read_;
};

}  // namespace tessaly
