// The manufacturer test run, as the panel drives it (transaction engine, virtual
// timer, the test's own state machine), against the emulator in-process: it passes
// against a healthy board and fails with its own messages against a misbehaving one.
#include <gtest/gtest.h>

#include <optional>

#include "EmuTestSupport.h"
#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "link/Engine.h"
#include "mfgtest/MfgMessages.h"
#include "mfgtest/MfgSequence.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;
using tessaly::testing::FakeEndpoint;
using tessaly::testing::SentDatagram;
using tessaly::testing::VirtualClock;
using tessaly::testing::VirtualTimer;

namespace {

class MfgRun {
 public:
  explicit MfgRun(const EmulatorOptions& o) : emu_(o) {
    endpoint_.onSend = [this](const SentDatagram& s) {
      for (const emu::Answer& a : emu_.receive(s.data, clock_.now())) endpoint_.injectAfter(a.delayMs, a.data);
    };
    registerMfgTransactions(
        engine_,
        [this] {
          MfgTimerEvent e;
          e.state = engine_.state();
          e.buffer = engine_.buffer().bytes().data();
          e.bufferSize = engine_.buffer().size();
          e.receivedLength = engine_.receivedLength();
          e.testPort = 58100;
          perform(sequence_.timerFired(e));
        },
        [this](std::uint8_t code, bool) { perform(sequence_.sendFailed(code)); });
  }

  // Runs a whole test; gives the last LabelTest text.
  std::string run(std::int64_t limitMs = 700000) {
    perform(sequence_.start(MfgInputTexts{}));
    while (sequence_.running() && clock_.now() < limitMs && clock_.runNext()) {
    }
    return label_;
  }

  std::optional<MfgOutcome> result() const { return result_; }
  Emulator& emulator() { return emu_; }
  std::int64_t now() const { return clock_.now(); }

 private:
  void perform(const MfgActions& actions) {
    for (const MfgAction& a : actions) {
      switch (a.kind) {
        case MfgAction::Kind::Progress: label_ = a.text; break;
        case MfgAction::Kind::RunFinished: result_ = a.outcome; break;
        case MfgAction::Kind::Send: {
          StartOptions o;
          o.stateAt = a.stateAfterSend ? StateAt::AfterSend : StateAt::BeforeSend;
          o.armMs = a.armMs;
          o.closeAfterSend = a.deactivateAfterSend;
          if (!engine_.start(a.waitState, "127.0.0.1", 56789, a.datagram, o)) return;
          break;
        }
        case MfgAction::Kind::Schedule:
          engine_.setState(a.waitState);
          engine_.armTimer(a.armMs);
          break;
        case MfgAction::Kind::Deactivate: endpoint_.deactivate(); break;
        case MfgAction::Kind::Abort: engine_.abort(); break;
        default: break;
      }
    }
  }

  Emulator emu_;
  VirtualClock clock_;
  VirtualTimer timer_{clock_};
  FakeEndpoint endpoint_{&clock_};
  TransactionEngine engine_{timer_, endpoint_};
  MfgSequence sequence_;
  std::string label_;
  std::optional<MfgOutcome> result_;
};

}  // namespace

TEST(EmulatorMfgTest, PassesAgainstAHealthyBoard) {
  MfgRun run(seeded());
  EXPECT_EQ(run.run(), "Test program loaded successfully.");
  EXPECT_EQ(run.result(), MfgOutcome::Passed);
  // The run left its configuration on the board: a Query over the SDI shows it.
  const tZODADevice d = query(run.emulator(), Framing::DDToIP, run.now());
  EXPECT_EQ(d.NcoFrequency, 2000000);
  EXPECT_EQ(d.OutputFormat, 0x80);
  EXPECT_EQ(d.TestPid, 151);
  EXPECT_TRUE(d.SectorEnable[1]);
  EXPECT_EQ(run.emulator().board().streamPort, 0xDEA8);
}

TEST(EmulatorMfgTest, FailsWithItsOwnMessageAgainstAMisbehavingBoard) {
  auto with = [](auto change) {
    EmulatorOptions o = seeded();
    change(o);
    return o;
  };
  const struct {
    const char* name;
    EmulatorOptions options;
    const char* label;
  } cases[] = {
      {"every answer dropped", with([](EmulatorOptions& o) { o.drop = 1; }), "Error: No ACK answer received (in 2s)."},
      {"no board", with([](EmulatorOptions& o) { o.noDevice = true; }), "Error: No ACK answer received (in 2s)."},
      {"answers too late", with([](EmulatorOptions& o) { o.delayMinMs = o.delayMaxMs = 2100; }),
       "Error: No ACK answer received (in 2s)."},
      {"erase over before the first poll", with([](EmulatorOptions& o) { o.eraseMs = 100; }),
       "PID Filter or PSI Inserter erase failed."},
      {"erase never ends", with([](EmulatorOptions& o) { o.eraseMs = 600000; }),
       "PID Filter or PSI Inserter erase failed."},
      {"every answer damaged", with([](EmulatorOptions& o) { o.corrupt = 1; }), "Error: Unknown message received."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MfgRun run(c.options);
    EXPECT_EQ(run.run(), c.label);
    EXPECT_EQ(run.result(), MfgOutcome::Failed);
  }
}

TEST(EmulatorMfgTest, PcrCorrectorSwitchesReachTheBoard) {
  Emulator emu(seeded());
  auto answers = emu.receive(mfgPcrCorrectorMessage(true), 0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].data.size(), device::StatusSize);
  EXPECT_EQ(answers[0].data[22], device::StatusCode);
  EXPECT_EQ(answers[0].data[device::PcrMode], 0x0F);
  EXPECT_EQ(query(emu, Framing::CwNet, 0).PcrState & 1, 1);
  emu.receive(mfgPcrCorrectorMessage(false), 0);
  EXPECT_EQ(query(emu, Framing::CwNet, 0).PcrState & 1, 0);
}

TEST(EmulatorMfgTest, DirectAnswersCarryUnitFiguresAtTheirOffsets) {
  Emulator emu(seeded());
  const MfgInputs in;
  ASSERT_EQ(emu.receive(mfgConfigurationMessage(in), 0).size(), 1u);
  EXPECT_TRUE(emu.receive(mfgEraseMessage(), 0).empty());
  const auto poll = emu.receive(mfgErasePollMessage(), 100);
  ASSERT_EQ(poll.size(), 1u);
  const Bytes& s = poll[0].data;
  for (std::size_t n = 0; n < 4; ++n) {
    EXPECT_EQ(be(&s[device::Nco + 4 * n], 4), 2000000u);
    EXPECT_EQ(s[device::PsiUnit + device::PsiUnitStride * n] & 1, 1);
  }
  EXPECT_EQ(s[device::PidEraseBits], 0x0F);
  EXPECT_EQ(emu.receive(mfgErasePollMessage(), 3100)[0].data[device::PidEraseBits], 0x00);

  ASSERT_EQ(emu.receive(mfgProgrammingMessage(in), 3100).size(), 1u);
  for (int unit = 1; unit <= 4; ++unit) {
    const auto pid = emu.receive(mfgPidReadBackRequest(unit, in.testPort), 3200);
    ASSERT_EQ(pid.size(), 1u);
    ASSERT_EQ(pid[0].data.size(), device::ReadbackSize);
    EXPECT_EQ(pid[0].data[22], device::ReadbackCode);
    EXPECT_EQ(pid[0].data[device::ReadUnit], unit);
    EXPECT_EQ(Bytes(pid[0].data.begin() + 41, pid[0].data.begin() + 45), (Bytes{0xC0, 0x00, 0xFF, 0xFF}));
    const auto psi = emu.receive(mfgPsiReadBackRequest(unit), 3200);
    ASSERT_EQ(psi.size(), 1u);
    EXPECT_EQ(Bytes(psi[0].data.begin() + 41, psi[0].data.begin() + 48),
              (Bytes{0x00, 0x00, 0x0A, 0x01, 0x47, 0x01, 0xAC}));
    EXPECT_EQ(psi[0].data[41 + 4 + 188], 0xFF);  // past the 188-byte packet: erased flash
  }
}
