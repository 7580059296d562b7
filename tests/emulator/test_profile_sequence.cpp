// The device's configuration sequence (src/device/ProfileSequence) against the
// emulator's model in virtual time, the board's answers bent where a row says so.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "device/DeviceSession.h"
#include "device/ProfileSequence.h"
#include "instructions/PageInstructions.h"
#include "model/Emulator.h"

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
