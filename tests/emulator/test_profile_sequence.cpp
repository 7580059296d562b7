// The device's configuration sequence (src/device/ProfileSequence) against the
// emulator's model in virtual time, the board's answers bent where a row says so.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "device/DeviceSession.h"
#include "device/ProfileSequence.h"
#include "instructions/PageInstructions.h"
#include "model/Emulator.h"
#include "profile/ProfileYaml.h"

using namespace tessaly;
using namespace tessaly::testing;

namespace {

constexpr Framing kFraming = Framing::DDToIP;

Bytes datagramOf(const LabelledInstruction& i) { return i.datagram(kFraming, 1); }

struct Rig : ProfileSequenceListener {
  VirtualClock clock;
  VirtualTimer timer{clock};
  FakeEndpoint endpoint{&clock};
  DeviceSession session{timer, endpoint};
  ProfileSequence sequence{session, *this};
  emu::Emulator board;
  // What reaches the board instead of a datagram (the datagram itself when it returns nothing).
  std::function<std::optional<Bytes>(const Bytes&)> bend;
  std::optional<ProfileResult> result;

  Rig() {
    QueryTarget t;
    t.framing = kFraming;
    t.sdiAddress = 1;
    t.deviceIp = "127.0.0.1";
    t.devicePort = 56789;
    session.setTarget(t);
    endpoint.onSend = [this](const SentDatagram& d) {
      const std::optional<Bytes> instead = bend ? bend(d.data) : std::nullopt;
      for (const emu::Answer& a : board.receive(instead.value_or(d.data), clock.now()))
        endpoint.injectAfter(a.delayMs, a.data);
    };
  }
  void finished(const ProfileResult& r) override { result = r; }
};

// An interrupt notice, as the controller sends one for an instruction it forwarded.
Bytes notice() {
  emu::Emulator other;
  const auto answers = other.receive(datagramOf(setTestPcrPidInstruction(1)), 0);
  return answers.empty() ? Bytes{} : answers.front().data;
}

}  // namespace

// A read-back counts only when the status after the read holds that read's data: of
// its kind, and taken by the board since the status before (the instruction counter
// moved). A board that did not take a read still shows the previous row, which would
// otherwise pass for this one.
struct ReadbackCase {
  const char* name;
  // The read the board does not take as asked, and what it does instead.
  std::optional<LabelledInstruction> bent;
  std::optional<LabelledInstruction> instead;  // none: only a notice comes
  ProfileOutcome outcome;
  const char* step;
};

TEST(ProfileSequence, aReadbackCountsOnlyWhenItIsThisReads) {
  const ReadbackCase cases[] = {
      {"every read taken", std::nullopt, std::nullopt, ProfileOutcome::Ok, ""},
      {"a row's read answered by a notice alone", readPidFilterInstruction(1, 8), std::nullopt,
       ProfileOutcome::WrongReadback, "PID filter input 1: PIDs 8..15"},
      {"a PSI read that leaves a PID filter read-back", readPsiInstruction(2), readPidFilterInstruction(1, 0),
       ProfileOutcome::WrongReadback, "PSI flash address 2"},
  };
  for (const ReadbackCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.board.receive(datagramOf(writePidFilterInstruction(1, 9, 700)), 0);
    PsiWrite psi;
    psi.address = 2;
    r.board.receive(datagramOf(writePsiInstruction(psi)), 0);
    if (c.bent) {
      const Bytes bent = datagramOf(*c.bent);
      r.bend = [&r, &c, bent](const Bytes& d) -> std::optional<Bytes> {
        if (d != bent) return std::nullopt;
        if (c.instead) return datagramOf(*c.instead);
        r.endpoint.injectAfter(2, notice());
        return Bytes{};  // nothing reaches the board
      };
    }
    ProfileReadRequest read;
    read.pidInputs = {1};
    read.psiRanges = std::vector<profile::PsiRange>{{2, 2}};
    r.sequence.startRead(read);
    r.clock.runUntilIdle();
    ASSERT_TRUE(r.result.has_value());
    EXPECT_EQ(r.result->outcome, c.outcome) << r.result->reason;
    EXPECT_EQ(r.result->step, c.step);
    if (c.outcome != ProfileOutcome::Ok) continue;
    EXPECT_EQ(r.result->read.pidFilter.at(1), (std::vector<profile::PidEntry>{{9, 700}}));
    ASSERT_EQ(r.result->read.psi.size(), 1u);
    EXPECT_EQ(r.result->read.psi[0].address, 2);
  }
}

namespace {

// Boards behind one controller, each with a session of its own, their sequences
// sharing the controller's bus turns. The bus counts as busy from a datagram's send
// until its answer arrives (for a board whose answers come late, until the late
// answer would have arrived); a send while it is busy is an overlap.
struct SharedBus {
  struct Board : ProfileSequenceListener {
    Board(SharedBus& shared, int index)
        : bus(shared), timer(shared.clock), endpoint(&shared.clock), session(timer, endpoint) {
      QueryTarget t;
      t.framing = kFraming;
      t.sdiAddress = static_cast<std::uint8_t>(index + 1);
      t.deviceIp = "127.0.0.1";
      t.devicePort = 56789;
      session.setTarget(t);
      session.setQueryTimeoutMs(kTimeoutMs);
      sequence.emplace(session, *this, &shared.turns);
      sequence->setNoticeTimeoutMs(kTimeoutMs);
      endpoint.onSend = [this, index](const SentDatagram& d) { bus.carry(index, endpoint, d.data); };
    }
    void finished(const ProfileResult& r) override { result = r; }

    SharedBus& bus;
    VirtualTimer timer;
    FakeEndpoint endpoint;
    DeviceSession session;
    std::optional<ProfileSequence> sequence;
    std::optional<ProfileResult> result;
    std::int64_t lateMs = 0;  // added to each answer's delay
    std::function<void()> onSend;
  };

  static constexpr int kTimeoutMs = 300;

  explicit SharedBus(int boards) : controller(optionsFor(boards)) {
    for (int k = 0; k < boards; ++k) this->boards.push_back(std::make_unique<Board>(*this, k));
  }
  static emu::EmulatorOptions optionsFor(int boards) {
    emu::EmulatorOptions o;
    for (int k = 1; k <= boards; ++k) o.sdiAddresses.push_back(static_cast<std::uint8_t>(k));
    o.eraseMs = 250;
    o.delayMinMs = 2;  // each answer takes the bus this long
    return o;
  }

  void carry(int index, FakeEndpoint& endpoint, const Bytes& data) {
    const std::int64_t now = clock.now();
    if (now < busyUntil) ++overlaps;
    Board& b = *boards[static_cast<std::size_t>(index)];
    busyUntil = now + kTimeoutMs;
    busyWith = index;
    for (const emu::Answer& a : controller.receive(data, now)) {
      endpoint.injectAfter(a.delayMs + b.lateMs, a.data);
      busyUntil = now + a.delayMs + b.lateMs;
    }
    ++sends;
    if (b.onSend) b.onSend();
  }
  // The board's exchange is abandoned: its answer may still cross the bus.
  void abandon(int index) {
    if (busyWith == index) busyUntil = clock.now();
  }

  VirtualClock clock;
  emu::Emulator controller;
  BusTurns turns;
  std::vector<std::unique_ptr<Board>> boards;
  std::int64_t busyUntil = 0;
  int busyWith = -1;
  int overlaps = 0;
  int sends = 0;
};

char outcomeLetter(const std::optional<ProfileResult>& r) {
  if (!r) return '-';
  switch (r->outcome) {
    case ProfileOutcome::Ok:
      return 'o';
    case ProfileOutcome::NoAnswer:
      return 'n';
    case ProfileOutcome::Cancelled:
      return 'c';
    default:
      return '?';
  }
}

}  // namespace

// Boards on one controller apply a profile side by side: never two exchanges on the
// bus at once, a silent board's late answer clears the bus before the next exchange,
// a board cancelled or destroyed gives up its turn, and the boards' exchanges
// interleave (three boards take well under three times one board's time).
struct SharedBusCase {
  const char* name;
  int boards;
  int late;       // the board whose answers come after its time-out (-1: none)
  int cancel;     // the board cancelled while it waits for its first turn (-1: none)
  int destroy;    // the board whose sequence is destroyed while it holds the bus (-1: none)
  const char* outcomes;  // per board: o ok, n no answer, c cancelled, - none told
};

TEST(ProfileSequence, boardsOnOneControllerTakeTurnsPerExchange) {
  const profile::Profile p = profile::parseProfile(
      "profile: 1\n"
      "output: {format: 188, clock: pll, priority: normal, pll_hz: 3000000}\n"
      "sdram_sectors:\n"
      "  1: {enabled: true, start: 0, end: 4095}\n"
      "pid_filter:\n"
      "  1: [{pid: 100}, {pid: 103, remap: 200}]\n",
      "p.yaml");
  std::int64_t oneBoardMs = 0;
  const SharedBusCase cases[] = {
      {"one board", 1, -1, -1, -1, "o"},
      {"three boards", 3, -1, -1, -1, "ooo"},
      {"a board whose answers come after its time-out", 3, 1, -1, -1, "ono"},
      {"a board cancelled while it waits for its turn", 3, -1, 1, -1, "oco"},
      {"a board destroyed while it holds the bus", 3, -1, -1, 1, "o-o"},
  };
  for (const SharedBusCase& c : cases) {
    SCOPED_TRACE(c.name);
    SharedBus bus(c.boards);
    if (c.late >= 0) bus.boards[static_cast<std::size_t>(c.late)]->lateMs = SharedBus::kTimeoutMs + 100;
    if (c.destroy >= 0)
      bus.boards[static_cast<std::size_t>(c.destroy)]->onSend = [&bus, &c] {
        if (bus.sends < 100) return;
        SharedBus::Board& b = *bus.boards[static_cast<std::size_t>(c.destroy)];
        b.onSend = nullptr;
        bus.clock.schedule(bus.clock.now(), [&bus, &b, &c] {
          bus.abandon(c.destroy);
          b.sequence.reset();
        });
      };
    for (auto& b : bus.boards) b->sequence->startApply(p);
    if (c.cancel >= 0) {
      // The first board holds the bus, the others wait for it.
      ASSERT_EQ(bus.turns.waiting(), 2u);
      bus.boards[static_cast<std::size_t>(c.cancel)]->sequence->cancel();
    }
    ASSERT_TRUE(bus.clock.runUntilIdle());
    std::string outcomes;
    for (const auto& b : bus.boards) outcomes += outcomeLetter(b->result);
    EXPECT_EQ(outcomes, c.outcomes);
    EXPECT_EQ(bus.overlaps, 0);
    EXPECT_FALSE(bus.turns.busy());
    EXPECT_EQ(bus.turns.waiting(), 0u);
    if (c.boards == 1) oneBoardMs = bus.clock.now();
    if (std::string(c.outcomes) == "ooo") {
      EXPECT_LT(bus.clock.now(), 2 * oneBoardMs);
    }
  }
}
