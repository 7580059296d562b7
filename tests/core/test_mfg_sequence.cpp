#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "link/Engine.h"
#include "mfgtest/MfgSequence.h"

using namespace tessaly;

namespace {

// A page model that carries out the sequence's actions the way the real page does,
// with a receive step that moves waiting codes as the engine's receive handler does.
struct Page {
  MfgSequence seq;
  std::uint8_t state = 0;
  int armedMs = 0;
  bool endpointOpen = false;
  bool failSendOnce = false;
  std::vector<Bytes> sent;
  Bytes buffer = Bytes(1500, 0);
  std::size_t received = 0;

  std::string labelTest = "Press 'Program Test Configuration' !";
  int step = -2;
  std::optional<MfgOutcome> outcome;
  MfgFailure failure = MfgFailure::None;
  std::string resultCaption;
  bool running = false;
  std::map<MfgField, std::string> edits;
  std::string testPortText = "58100";
  int chartSamples = 0;
  std::int32_t nco = 0;

  void apply(const MfgActions& actions) {
    for (const auto& a : actions) {
      switch (a.kind) {
        case MfgAction::Kind::Progress: labelTest = a.text; break;
        case MfgAction::Kind::StepStarted: step = a.step; break;
        case MfgAction::Kind::UnitResult: break;  // read back through seq.unitState()
        case MfgAction::Kind::RunStarted: outcome.reset(); break;
        case MfgAction::Kind::RunUnderway: running = true; break;
        case MfgAction::Kind::RunFinished:
          outcome = a.outcome;
          failure = a.failure;
          if (!mfgOutcomeCaption(a.outcome).empty()) resultCaption = mfgOutcomeCaption(a.outcome);
          if (a.outcome != MfgOutcome::NotStarted) running = false;
          break;
        case MfgAction::Kind::WriteBack:
          edits[a.field] = a.text;
          if (a.field == MfgField::TestPort) testPortText = a.text;
          break;
        case MfgAction::Kind::Send:
          if (!a.stateAfterSend) state = a.waitState;
          if (failSendOnce) {
            failSendOnce = false;
            endpointOpen = false;
            apply(seq.sendFailed(a.waitState));
            return;
          }
          if (a.stateAfterSend) state = a.waitState;
          sent.push_back(a.datagram);
          endpointOpen = !a.deactivateAfterSend;
          if (a.armMs > 0) armedMs = a.armMs;
          break;
        case MfgAction::Kind::Schedule:
          state = a.waitState;
          armedMs = a.armMs;
          break;
        case MfgAction::Kind::Deactivate: endpointOpen = false; break;
        case MfgAction::Kind::Abort:
          endpointOpen = false;
          armedMs = 0;
          break;
        case MfgAction::Kind::AddChartSample: ++chartSamples; break;
        case MfgAction::Kind::StoreNcoFrequency: nco = a.value; break;
      }
    }
  }

  void start(const MfgInputTexts& in = {}) { apply(seq.start(in)); }

  // A datagram arrives while the endpoint is open.
  void answer(const Bytes& d) {
    ASSERT_TRUE(endpointOpen) << "answer while the endpoint is closed";
    std::copy(d.begin(), d.end(), buffer.begin());
    received = d.size();
    static const std::map<std::uint8_t, std::uint8_t> moves = {{90, 91}, {92, 93}, {96, 97},
                                                               {99, 100}, {102, 103}, {104, 105}};
    auto it = moves.find(state);
    if (it != moves.end()) state = it->second;
  }

  // The timer fires: disable, close, dispatch.
  void tick() {
    armedMs = 0;
    endpointOpen = false;
    apply(seq.timerFired({state, buffer.data(), buffer.size(), received, normaliseTestPort(testPortText)}));
  }

  void answerAndTick(const Bytes& d) {
    answer(d);
    tick();
  }
};

Bytes statusAnswer(std::uint8_t pidFlags = 0, std::uint8_t psiFlags = 0, std::int32_t nco401 = 2000000,
                   std::int32_t otherNcos = 2000000) {
  Bytes d(kMfgStatusAnswerSize, 0);
  d[22] = kMfgStatusType;
  auto put = [&](std::size_t at, std::int32_t v) {
    for (int k = 0; k < 4; ++k) d[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (24 - 8 * k));
  };
  put(389, otherNcos);
  put(393, otherNcos);
  put(397, otherNcos);
  put(401, nco401);
  d[544] = pidFlags;
  const std::size_t psi[] = {583, 606, 629, 652};
  for (int u = 0; u < 4; ++u) d[psi[u]] = (psiFlags >> u) & 1;
  return d;
}

Bytes readBack(const Bytes& at41) {
  Bytes d(kMfgReadBackAnswerSize, 0);
  d[22] = kMfgReadBackType;
  std::copy(at41.begin(), at41.end(), d.begin() + 41);
  return d;
}
const Bytes kPidOk{0xC0, 0x00, 0xFF, 0xFF};
const Bytes kPsiOk{0x00, 0x00, 0x0A, 0x01, 0x47, 0x01, 0xAC};

// Start, configuration answered, the 200 ms pause, then one poll answered "erasing"
// and one answered "done": erase finished, programming due.
void runThroughErase(Page& p) {
  p.start();
  p.answerAndTick(statusAnswer());
  p.tick();                               // pause after the erase message
  p.answerAndTick(statusAnswer(0x0F, 0x0F));  // all erasing
  p.answerAndTick(statusAnswer(0x00, 0x00));  // all done
}

void runThroughProgramming(Page& p) {
  runThroughErase(p);
  p.tick();  // 94: programming sent
  p.answerAndTick(statusAnswer());
}

}  // namespace

TEST(MfgSequence, SuccessfulRun) {
  Page p;
  p.start();
  EXPECT_TRUE(p.running);
  EXPECT_EQ(p.state, 90);
  EXPECT_EQ(p.armedMs, 2000);
  EXPECT_EQ(p.step, 0);
  EXPECT_EQ(p.labelTest, "Programming in progress...");
  ASSERT_EQ(p.sent.size(), 1u);
  EXPECT_EQ(p.sent[0], mfgConfigurationMessage(normaliseMfgInputs({}).values));

  p.answerAndTick(statusAnswer());
  EXPECT_EQ(p.chartSamples, 1);
  EXPECT_EQ(p.nco, 2000000);
  EXPECT_EQ(p.state, 92);
  EXPECT_EQ(p.sent.back(), mfgEraseMessage());
  EXPECT_FALSE(p.endpointOpen);  // no answer to the erase message
  EXPECT_EQ(p.armedMs, 200);
  EXPECT_EQ(p.step, 1);
  EXPECT_EQ(p.labelTest, "Erasing PID Filters and PSI Inserters...");

  p.tick();
  EXPECT_EQ(p.labelTest, "Erasing PID Filters and PSI Inserters... (2 sec)");
  EXPECT_EQ(p.sent.back(), mfgErasePollMessage());
  EXPECT_EQ(p.armedMs, 2000);

  p.answerAndTick(statusAnswer(0x05, 0x02));
  EXPECT_EQ(p.labelTest, "Erasing PID Filters and PSI Inserters... (4 sec)");
  EXPECT_EQ(p.seq.unitState(UnitGroup::Pid, 1), UnitState::InProgress);
  EXPECT_EQ(p.seq.unitState(UnitGroup::Pid, 2), UnitState::NotSeen);
  EXPECT_EQ(p.seq.unitState(UnitGroup::Psi, 2), UnitState::InProgress);
  p.answerAndTick(statusAnswer(0x0F, 0x0F));
  p.answerAndTick(statusAnswer(0x00, 0x00));
  EXPECT_EQ(p.labelTest, "PID Filter and PSI Inserter erase succeeded.");
  EXPECT_EQ(p.state, 94);
  EXPECT_EQ(p.armedMs, 1000);
  EXPECT_EQ(p.seq.elapsedSeconds(), 8);

  p.tick();
  EXPECT_EQ(p.step, 2);
  EXPECT_EQ(p.labelTest, "Programming PID Filters...");
  EXPECT_EQ(p.state, 96);
  EXPECT_EQ(p.sent.back(), mfgProgrammingMessage(normaliseMfgInputs({}).values));

  p.answerAndTick(statusAnswer());
  EXPECT_EQ(p.step, 3);
  EXPECT_EQ(p.labelTest, "Reading back PID Filter 1...");
  EXPECT_EQ(p.state, 98);
  EXPECT_EQ(p.armedMs, 200);

  for (int unit = 1; unit <= 4; ++unit) {
    p.tick();
    EXPECT_EQ(p.labelTest, "Reading back PID Filter " + std::to_string(unit) + "...");
    EXPECT_EQ(p.state, 99);
    EXPECT_EQ(p.sent.back(), mfgPidReadBackRequest(unit, 58100));
    p.answerAndTick(readBack(kPidOk));
    EXPECT_EQ(p.state, 98);
  }
  p.tick();
  EXPECT_EQ(p.step, 4);
  EXPECT_EQ(p.labelTest, "Reading back PSI Inserter 1...");
  EXPECT_EQ(p.state, 101);
  for (int unit = 1; unit <= 4; ++unit) {
    p.tick();
    EXPECT_EQ(p.labelTest, "Reading back PSI Inserter " + std::to_string(unit) + "...");
    EXPECT_EQ(p.sent.back(), mfgPsiReadBackRequest(unit));
    p.answerAndTick(readBack(kPsiOk));
  }
  p.tick();
  EXPECT_EQ(p.step, 4);
  EXPECT_EQ(p.labelTest, "Test program loaded successfully.");
  EXPECT_EQ(p.resultCaption, "Programming succeeded");
  EXPECT_EQ(p.outcome, MfgOutcome::Passed);
  EXPECT_EQ(p.failure, MfgFailure::None);
  EXPECT_FALSE(p.running);
  EXPECT_FALSE(p.seq.running());
}

TEST(MfgSequence, StartWritesBackNormalisedInputs) {
  Page p;
  MfgInputTexts in;
  in.testPort = "70000";
  in.additionalPid = {"abc", "9000", "1"};
  in.multicast = {"300", "1", "2", "3"};
  p.start(in);
  EXPECT_EQ(p.edits[MfgField::TestPort], "65535");
  EXPECT_EQ(p.edits[MfgField::AdditionalPid1], "150");
  EXPECT_EQ(p.edits[MfgField::AdditionalPid2], "8191");
  EXPECT_EQ(p.edits[MfgField::AdditionalPid3], "2");
  EXPECT_EQ(p.edits[MfgField::Multicast1], "44");
}

TEST(MfgSequence, NoAnswer) {
  struct Case {
    const char* name;
    void (*reach)(Page&);
    const char* text;
  } cases[] = {
      {"configuration", [](Page& p) { p.start(); }, "Error: No ACK answer received (in 2s)."},
      {"programming", [](Page& p) { runThroughErase(p); p.tick(); }, "Error: No ACK answer received (in 2s)."},
      {"pid read-back", [](Page& p) { runThroughProgramming(p); p.tick(); }, "Error: No ACK answer received (in 1s)."},
      {"psi read-back",
       [](Page& p) {
         runThroughProgramming(p);
         for (int u = 0; u < 4; ++u) {
           p.tick();
           p.answerAndTick(readBack(kPidOk));
         }
         p.tick();
         p.tick();
       },
       "Error: No ACK answer received (in 1s)."},
  };
  for (const auto& c : cases) {
    Page p;
    c.reach(p);
    ASSERT_TRUE(p.running) << c.name;
    p.tick();
    EXPECT_EQ(p.labelTest, c.text) << c.name;
    EXPECT_EQ(p.resultCaption, "Programming failed") << c.name;
    EXPECT_EQ(p.outcome, MfgOutcome::Failed) << c.name;
    EXPECT_EQ(p.failure, MfgFailure::NoAnswer) << c.name;
    EXPECT_FALSE(p.running) << c.name;
    // A late tick after the run ended changes nothing.
    const std::size_t sent = p.sent.size();
    p.tick();
    EXPECT_EQ(p.sent.size(), sent) << c.name;
  }
}

TEST(MfgSequence, WrongAnswerAtEachStep) {
  Bytes shortStatus = statusAnswer();
  shortStatus.resize(1045);
  Bytes wrongTypeStatus = statusAnswer();
  wrongTypeStatus[22] = 0xF3;
  Bytes wrongTypeReadBack = readBack(kPidOk);
  wrongTypeReadBack[22] = 0xF0;
  Bytes longReadBack = readBack(kPidOk);
  longReadBack.push_back(0);

  struct Case {
    const char* name;
    void (*reach)(Page&);
    Bytes answer;
    int step;
  } cases[] = {
      {"config length", [](Page& p) { p.start(); }, shortStatus, 0},
      {"config type", [](Page& p) { p.start(); }, wrongTypeStatus, 0},
      {"config read-back", [](Page& p) { p.start(); }, readBack(kPidOk), 0},
      {"erase length", [](Page& p) { p.start(); p.answerAndTick(statusAnswer()); p.tick(); }, shortStatus, 1},
      {"erase type", [](Page& p) { p.start(); p.answerAndTick(statusAnswer()); p.tick(); }, wrongTypeStatus, 1},
      {"program length", [](Page& p) { runThroughErase(p); p.tick(); }, shortStatus, 2},
      {"program type", [](Page& p) { runThroughErase(p); p.tick(); }, wrongTypeStatus, 2},
      {"pid type", [](Page& p) { runThroughProgramming(p); p.tick(); }, wrongTypeReadBack, 3},
      {"pid length", [](Page& p) { runThroughProgramming(p); p.tick(); }, longReadBack, 3},
      {"pid status", [](Page& p) { runThroughProgramming(p); p.tick(); }, statusAnswer(), 3},
      {"psi type",
       [](Page& p) {
         runThroughProgramming(p);
         for (int u = 0; u < 4; ++u) {
           p.tick();
           p.answerAndTick(readBack(kPidOk));
         }
         p.tick();
         p.tick();
       },
       wrongTypeReadBack, 4},
  };
  for (const auto& c : cases) {
    Page p;
    c.reach(p);
    ASSERT_TRUE(p.running) << c.name;
    p.answerAndTick(c.answer);
    EXPECT_EQ(p.labelTest, "Error: Unknown message received.") << c.name;
    EXPECT_EQ(p.resultCaption, "Programming failed") << c.name;
    EXPECT_EQ(p.failure, MfgFailure::UnknownAnswer) << c.name;
    EXPECT_FALSE(p.running) << c.name;
    EXPECT_EQ(p.step, c.step) << c.name;  // the blue label shows the step that failed
  }
}

TEST(MfgSequence, NcoCheckUsesTheLastFrequency) {
  struct Case {
    std::int32_t at401, others;
    bool passes;
  } cases[] = {{1999999, 2000000, false}, {2000000, 1999999, true}, {2000001, 0, false}};
  for (const auto& c : cases) {
    Page p;
    p.start();
    p.answerAndTick(statusAnswer(0, 0, c.at401, c.others));
    EXPECT_EQ(p.nco, c.at401);
    EXPECT_EQ(p.chartSamples, 1);
    EXPECT_EQ(p.running, c.passes) << c.at401;
    if (!c.passes) {
      EXPECT_EQ(p.labelTest, "Error: Setting NCO frequency failed.");
      EXPECT_EQ(p.failure, MfgFailure::NcoNotSet);
      EXPECT_EQ(p.step, 0);
    }
  }
}

TEST(MfgSequence, UnansweredErasePolls) {
  // One unanswered poll, then answered ones: the run goes on.
  {
    Page p;
    p.start();
    p.answerAndTick(statusAnswer());
    p.tick();  // pause
    p.tick();  // poll 1 unanswered
    EXPECT_EQ(p.seq.unansweredPolls(), 2);
    EXPECT_TRUE(p.running);
    p.answerAndTick(statusAnswer(0x0F, 0x0F));
    p.answerAndTick(statusAnswer(0x00, 0x00));
    EXPECT_EQ(p.state, 94);
    EXPECT_EQ(p.labelTest, "PID Filter and PSI Inserter erase succeeded.");
    EXPECT_EQ(p.seq.elapsedSeconds(), 8);
  }
  // Five unanswered polls in total, with answered ones between: the fifth ends the run.
  {
    Page p;
    p.start();
    p.answerAndTick(statusAnswer());
    p.tick();  // pause counts as the first time-out
    for (int unanswered = 1; unanswered <= 5; ++unanswered) {
      p.answerAndTick(statusAnswer(0x0F, 0x0F));
      ASSERT_TRUE(p.running) << unanswered;
      p.tick();
      if (unanswered < 5) {
        EXPECT_TRUE(p.running) << unanswered;
        EXPECT_EQ(p.sent.back(), mfgErasePollMessage());
      }
    }
    EXPECT_FALSE(p.running);
    EXPECT_EQ(p.labelTest, "No ACK received (5 times) !");
    EXPECT_EQ(p.resultCaption, "Programming failed");
    EXPECT_EQ(p.failure, MfgFailure::NoAnswer);
  }
}

TEST(MfgSequence, EraseNeverFinished) {
  struct Case {
    const char* name;
    std::uint8_t flags;
    UnitState before;
  } cases[] = {{"always erasing", 0x0F, UnitState::InProgress},
               {"finished before first poll", 0x00, UnitState::NotSeen}};
  for (const auto& c : cases) {
    Page p;
    p.start();
    p.answerAndTick(statusAnswer());
    p.tick();  // elapsed 2
    int polls = 0;
    while (p.running && polls < 1000) {
      p.answerAndTick(statusAnswer(c.flags, c.flags));
      ++polls;
      if (p.running) {
        EXPECT_EQ(p.seq.unitState(UnitGroup::Psi, 3), c.before) << c.name;
      }
    }
    // 2 + 2 * 255 = 512 still polls; the 256th answer passes the limit.
    EXPECT_EQ(polls, 256) << c.name;
    EXPECT_EQ(p.seq.elapsedSeconds(), 514);
    EXPECT_EQ(p.labelTest, "PID Filter or PSI Inserter erase failed.") << c.name;
    EXPECT_EQ(p.failure, MfgFailure::EraseFailed) << c.name;
    for (UnitGroup g : {UnitGroup::Pid, UnitGroup::Psi})
      for (int u = 1; u <= 4; ++u) EXPECT_EQ(p.seq.unitState(g, u), UnitState::Failed) << c.name;
  }
  // Units that finished stay green when the limit is passed.
  Page p;
  p.start();
  p.answerAndTick(statusAnswer());
  p.tick();
  p.answerAndTick(statusAnswer(0x0F, 0x0F));
  while (p.running) p.answerAndTick(statusAnswer(0x0E, 0x0F));
  EXPECT_EQ(p.seq.unitState(UnitGroup::Pid, 1), UnitState::Done);
  EXPECT_EQ(p.seq.unitState(UnitGroup::Pid, 2), UnitState::Failed);
}

TEST(MfgSequence, ReadBackMismatch) {
  struct Case {
    const char* name;
    bool pid;
    Bytes bad;
    const char* text;
    int step;
  } cases[] = {
      {"pid", true, {0xC0, 0x00, 0xFF, 0xFE}, "PID Filter read error!", 3},
      {"psi", false, {0x00, 0x00, 0x0A, 0x00, 0x47, 0x01, 0xAC}, "PSI Inserter read error!", 4},
  };
  for (const auto& c : cases) {
    Page p;
    runThroughProgramming(p);
    for (int u = 1; u <= 4; ++u) {
      p.tick();
      p.answerAndTick(readBack(c.pid && u == 2 ? c.bad : kPidOk));
    }
    p.tick();
    if (!c.pid) {
      for (int u = 1; u <= 4; ++u) {
        p.tick();
        p.answerAndTick(readBack(u == 2 ? c.bad : kPsiOk));
      }
      p.tick();
    }
    const UnitGroup g = c.pid ? UnitGroup::Pid : UnitGroup::Psi;
    EXPECT_EQ(p.seq.unitState(g, 2), UnitState::Failed) << c.name;
    EXPECT_EQ(p.seq.unitState(g, 1), UnitState::Done) << c.name;
    EXPECT_EQ(p.seq.unitState(g, 4), UnitState::Done) << c.name;
    EXPECT_EQ(p.labelTest, c.text) << c.name;
    EXPECT_EQ(p.failure, MfgFailure::ReadBackFailed) << c.name;
    EXPECT_EQ(p.step, c.step) << c.name;
    EXPECT_FALSE(p.running) << c.name;
  }
}

TEST(MfgSequence, TestPortIsReReadBeforeEachPidReadBack) {
  Page p;
  runThroughProgramming(p);
  p.tick();
  EXPECT_EQ(p.sent.back(), mfgPidReadBackRequest(1, 58100));
  p.answerAndTick(readBack(kPidOk));
  p.testPortText = "70000";
  p.tick();
  EXPECT_EQ(p.edits[MfgField::TestPort], "65535");
  EXPECT_EQ(p.sent.back(), mfgPidReadBackRequest(2, 65535));
  p.answerAndTick(readBack(kPidOk));
  p.testPortText = "-1";
  p.tick();
  EXPECT_EQ(p.edits[MfgField::TestPort], "0");
  EXPECT_EQ(p.sent.back(), mfgPidReadBackRequest(3, 0));
}

TEST(MfgSequence, SendFailures) {
  // The very first send.
  {
    Page p;
    p.failSendOnce = true;
    p.apply(p.seq.start({}));
    EXPECT_EQ(p.labelTest, "Communication Error!");
    EXPECT_EQ(p.resultCaption, "Programming Failed");
    EXPECT_EQ(p.outcome, MfgOutcome::NotStarted);
    EXPECT_EQ(p.failure, MfgFailure::SendFailed);
    EXPECT_FALSE(p.running);  // the buttons were never switched
    EXPECT_FALSE(p.seq.running());
  }
  // The erase message: the run fails rather than waiting for a timer that was never armed.
  {
    Page p;
    p.start();
    p.failSendOnce = true;
    p.answerAndTick(statusAnswer());
    EXPECT_EQ(p.labelTest, "Communication Error!");
    EXPECT_EQ(p.resultCaption, "Programming failed");
    EXPECT_EQ(p.failure, MfgFailure::SendFailed);
    EXPECT_FALSE(p.running);
  }
  // A PCR switch failure touches nothing of a run.
  {
    Page p;
    p.start();
    p.failSendOnce = true;
    p.apply(p.seq.pcrSwitch(true));
    EXPECT_EQ(p.labelTest, "Programming in progress...");
    EXPECT_TRUE(p.seq.running());
    EXPECT_EQ(p.state, 90);  // the run still waits for its answer
    EXPECT_EQ(p.armedMs, 2000);
  }
}

TEST(MfgSequence, BreakAndPageHidden) {
  Page idle;
  idle.apply(idle.seq.pageHidden());
  EXPECT_EQ(idle.labelTest, "Press 'Program Test Configuration' !");

  Page p;
  p.start();
  p.answerAndTick(statusAnswer());
  p.apply(p.seq.pageHidden());
  EXPECT_EQ(p.labelTest, "Programming stopped.");
  EXPECT_EQ(p.armedMs, 0);
  EXPECT_FALSE(p.running);
  EXPECT_EQ(p.outcome, MfgOutcome::Stopped);
  EXPECT_EQ(p.step, 1);
}

TEST(MfgSequence, PcrSwitchAndChartPoint) {
  Page p;
  p.apply(p.seq.pcrSwitch(false));
  EXPECT_EQ(p.state, 104);
  EXPECT_EQ(p.armedMs, 1000);
  EXPECT_EQ(p.sent.back(), mfgPcrCorrectorMessage(false));
  p.tick();  // time-out: nothing
  EXPECT_EQ(p.chartSamples, 0);

  p.apply(p.seq.pcrSwitch(true));
  p.answerAndTick(statusAnswer());
  EXPECT_EQ(p.chartSamples, 1);
  p.apply(p.seq.pcrSwitch(true));
  p.answerAndTick(readBack(kPidOk));
  EXPECT_EQ(p.chartSamples, 1);
}

TEST(MfgSequence, ReadsStayInsideTheDatagram) {
  MfgSequence seq;
  seq.start({});
  // The buffer holds fewer bytes than the received length claims: not a status block.
  Bytes small = statusAnswer();
  small.resize(600);
  MfgActions a = seq.timerFired({state::MfgConfigGot, small.data(), small.size(), kMfgStatusAnswerSize, 58100});
  ASSERT_FALSE(a.empty());
  bool unknown = false;
  for (const auto& x : a) unknown |= x.kind == MfgAction::Kind::Progress && x.text == "Error: Unknown message received.";
  EXPECT_TRUE(unknown);
  // No buffer at all.
  MfgSequence seq2;
  seq2.start({});
  EXPECT_FALSE(seq2.timerFired({state::MfgConfigGot, nullptr, 0, kMfgStatusAnswerSize, 58100}).empty());
  EXPECT_FALSE(seq2.running());
}
