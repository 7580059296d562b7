// The chart's fixed rules: axis steps, the plotted value, and the poll answer check
// by received length; the polling loop's events and the actions they give.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "text/Bytes.h"
#include "status/ChartPoller.h"
#include "status/PcrChart.h"
#include "protocol/Protocol.h"

using namespace tessaly;

TEST(PcrChart, BottomAxisStepsOnlyAtTheirSamples) {
  const struct {
    std::int32_t sample;
    int max;
  } rows[] = {{1, 0},     {89, 0},    {90, 300},  {91, 0},    {289, 0},   {290, 600}, {590, 1800},
              {1789, 0},  {1790, 3600}, {1791, 0}, {3600, 0},  {0, 0},     {-90, 0}};
  for (const auto& r : rows) EXPECT_EQ(bottomAxisStepAt(r.sample), r.max) << r.sample;
}

TEST(PcrChart, ValueTruncatesTowardZero) {
  const struct {
    std::int32_t slide, value;
  } rows[] = {{-582, -2}, {290, 0}, {-290, 0}, {291, 1}, {-291, -1}, {581, 1}, {-300, -1},
              {0, 0},     {32767, 112}, {-32768, -112}};
  for (const auto& r : rows) EXPECT_EQ(chartValue(r.slide), r.value) << r.slide;
}

namespace {

Bytes answer(std::size_t length, std::size_t codeAt, std::uint8_t code, std::size_t base, std::uint8_t presence,
             std::uint8_t device) {
  Bytes b(length, 0);
  if (codeAt < length) b[codeAt] = code;
  if (base + 1 < length) {
    b[base] = presence;
    b[base + 1] = device;
  }
  return b;
}

}  // namespace

TEST(PcrChart, PollAnswerCheckedByLength) {
  const std::string unknown = "Unknown message received.";
  const std::string noDevice = "No device connected to the SDI.";
  const std::string noRemux = "There is no ASI Remultiplexer connected to the SDI.";
  const struct {
    const char* name;
    Bytes bytes;
    bool valid;
    int base;
    std::string message;
  } rows[] = {
      {"cw-net good", answer(1032, 6, 0x09, 8, 0x45, 0x1A), true, 8, ""},
      {"ddtoip good", answer(1049, 22, 0xF3, 25, 0x45, 0x1A), true, 25, ""},
      {"cw-net code", answer(1032, 6, 0xF3, 8, 0x45, 0x1A), false, 0, unknown},
      {"cw-net presence", answer(1032, 6, 0x09, 8, 0x44, 0x1A), false, 0, noDevice},
      {"cw-net device", answer(1032, 6, 0x09, 8, 0x45, 0x1B), false, 0, noRemux},
      {"ddtoip code", answer(1049, 22, 0x09, 25, 0x45, 0x1A), false, 0, unknown},
      {"ddtoip presence", answer(1049, 22, 0xF3, 25, 0x00, 0x1A), false, 0, noDevice},
      {"ddtoip device", answer(1049, 22, 0xF3, 25, 0x45, 0x00), false, 0, noRemux},
      // The first failed check decides.
      {"ddtoip all wrong", answer(1049, 22, 0x00, 25, 0x00, 0x00), false, 0, unknown},
      {"ddtoip presence and device", answer(1049, 22, 0xF3, 25, 0x00, 0x00), false, 0, noDevice},
      // A DDToIP body in a CW-Net length is judged as CW-Net (byte 6), and the other way round.
      {"ddtoip body, cw-net length", answer(1032, 22, 0xF3, 25, 0x45, 0x1A), false, 0, unknown},
      {"other length", answer(1046, 22, 0xF0, 25, 0x45, 0x1A), false, 0, unknown},
      {"one short", answer(1031, 6, 0x09, 8, 0x45, 0x1A), false, 0, unknown},
      {"one long", answer(1050, 22, 0xF3, 25, 0x45, 0x1A), false, 0, unknown},
      {"notice length", answer(27, 6, 0x09, 8, 0x45, 0x1A), false, 0, unknown},
  };
  for (const auto& r : rows) {
    const Bytes& b = r.bytes;
    const PollAnswerCheck c = checkPollAnswer(b.size(), [&b](std::size_t at) -> std::uint8_t {
      return at < b.size() ? b[at] : 0;
    });
    EXPECT_EQ(c.valid, r.valid) << r.name;
    EXPECT_EQ(c.answerBase, r.base) << r.name;
    EXPECT_EQ(std::string(pollFaultText(c.fault)), r.message) << r.name;
  }
}

namespace {

// The actions as one line: "buttons+ interval100 state200 ...".
std::string script(const ChartActions& actions) {
  std::string out;
  for (const ChartAction& a : actions) {
    if (!out.empty()) out += ' ';
    using K = ChartAction::Kind;
    switch (a.kind) {
      case K::PollingStarted: out += a.flag ? "start+" : "start"; break;
      case K::PollingStopped: out += "stopped"; break;
      case K::RequestSent: out += "sent"; break;
      case K::NoAnswer: out += "unanswered"; break;
      case K::AnswerRefused: out += "refused'" + std::string(pollFaultText(a.fault)) + "'"; break;
      case K::RequestNotSent: out += "unsent"; break;
      case K::Sample: out += a.sample.answered ? "sample+" : "sample"; break;
      case K::SetState: out += "state" + std::to_string(a.value); break;
      case K::SetInterval: out += "interval" + std::to_string(a.value); break;
      case K::EnableTimer: out += "timer"; break;
      case K::ArmTimer: out += "arm" + std::to_string(a.value); break;
      case K::SendStatusRequest: out += "send" + std::to_string(a.value); break;
      case K::TakeStatus: out += "decode" + std::to_string(a.value); break;
      case K::SetSampleCount: out += "count" + std::to_string(a.value); break;
      case K::StopPolling: out += "abort"; break;
    }
  }
  return out;
}

ChartTimerEvent fired(std::uint8_t code, const Bytes* answerBytes = nullptr, std::int32_t sampleCount = 0) {
  ChartTimerEvent e;
  e.state = code;
  e.sampleCount = sampleCount;
  if (answerBytes) {
    e.receivedLength = answerBytes->size();
    e.at = [answerBytes](std::size_t at) -> std::uint8_t { return at < answerBytes->size() ? (*answerBytes)[at] : 0; };
  }
  return e;
}

}  // namespace

TEST(ChartPoller, EachEventInEachState) {
  const Bytes good = answer(1032, 6, 0x09, 8, 0x45, 0x1A);
  const Bytes goodDDToIP = answer(1049, 22, 0xF3, 25, 0x45, 0x1A);
  const Bytes noDevice = answer(1032, 6, 0x09, 8, 0x44, 0x1A);
  const Bytes notice = answer(27, 6, 0x09, 8, 0x45, 0x1A);
  const std::string stop = "abort stopped";
  const std::string next = "interval500 state200 ";
  const struct {
    const char* name;
    bool pollingBefore;
    std::function<ChartActions(ChartPoller&)> event;
    std::string actions;
    bool pollingAfter;
  } rows[] = {
      {"start", false, [](ChartPoller& p) { return p.start(); },
       "start+ interval100 state200 count0 timer", true},
      {"start while polling", true, [](ChartPoller& p) { return p.start(); },
       "start+ interval100 state200 count0 timer", true},
      {"continue keeps 3599", false, [](ChartPoller& p) { return p.continueRun(3599); },
       "start interval100 state200 timer", true},
      {"continue keeps 0", false, [](ChartPoller& p) { return p.continueRun(0); },
       "start interval100 state200 timer", true},
      {"continue resets 3600", false, [](ChartPoller& p) { return p.continueRun(3600); },
       "start interval100 state200 count0 timer", true},
      {"continue resets negative", false, [](ChartPoller& p) { return p.continueRun(-1); },
       "start interval100 state200 count0 timer", true},
      {"stop", true, [](ChartPoller& p) { return p.stop(); }, stop, false},
      {"stop when resting", false, [](ChartPoller& p) { return p.stop(); }, stop, false},
      {"other page while polling", true, [](ChartPoller& p) { return p.otherPageShown(); }, stop, false},
      {"other page when resting", false, [](ChartPoller& p) { return p.otherPageShown(); }, "", false},
      {"due", true, [](ChartPoller& p) { return p.timerFired(fired(state::ChartPollDue)); },
       "send201 sent arm500", true},
      {"no answer", true, [](ChartPoller& p) { return p.timerFired(fired(state::ChartPollSent)); },
       next + "unanswered timer", true},
      {"answer", true, [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &good, 10)); },
       next + "decode8 sample+ timer", true},
      {"ddtoip answer", true,
       [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &goodDDToIP, 10)); },
       next + "decode25 sample+ timer", true},
      // A refused answer still adds a point, from the record as it stands.
      {"no device answer", true, [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &noDevice)); },
       next + "refused'No device connected to the SDI.' sample timer", true},
      {"short answer", true, [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &notice)); },
       next + "refused'Unknown message received.' sample timer", true},
      {"3,599th sample", true, [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &good, 3598)); },
       next + "decode8 sample+ timer", true},
      {"3,600th sample stops", true,
       [&](ChartPoller& p) { return p.timerFired(fired(state::ChartPollGot, &good, 3599)); },
       next + "decode8 sample+ " + stop, false},
      {"another owner's code", true, [](ChartPoller& p) { return p.timerFired(fired(9)); }, "", true},
      // The request could not go out: polling rests with Stop enabled.
      {"send failed", true, [](ChartPoller& p) { return p.sendFailed(); }, "unsent",
       true},
  };
  for (const auto& r : rows) {
    ChartPoller p;
    if (r.pollingBefore) p.start();
    EXPECT_EQ(script(r.event(p)), r.actions) << r.name;
    EXPECT_EQ(p.polling(), r.pollingAfter) << r.name;
  }
}

TEST(ChartPoller, SampleCarriesTheAnswersFigures) {
  const struct {
    const char* name;
    std::size_t length, codeAt;
    std::uint8_t code;
    std::size_t base;
    std::uint16_t pidCount, baseError, slide;
    ChartSample sample;
  } rows[] = {
      {"cw-net", 1032, 6, 0x09, 8, 0xE005, 0x802D, 32468, {true, -300, -1, 45, true, 5, 2, 3, 7}},
      {"ddtoip", 1049, 22, 0xF3, 25, 0x1FFF, 0x7FFF, 0, {true, -32768, -112, 32767, false, 8191, 2, 3, 7}},
      {"refused", 1032, 6, 0xF3, 8, 0x0001, 0x0001, 40000, {}},
  };
  for (const auto& r : rows) {
    Bytes b = answer(r.length, r.codeAt, r.code, r.base, 0x45, 0x1A);
    const auto put16 = [&](std::size_t at, std::uint16_t v) {
      b[r.base + at] = static_cast<std::uint8_t>(v >> 8);
      b[r.base + at + 1] = static_cast<std::uint8_t>(v);
    };
    b[r.base + block::PcrDiscont] = 3;
    put16(block::PcrPidCount, r.pidCount);
    put16(block::PcrBaseError, r.baseError);
    put16(block::PcrSlide, r.slide);
    b[r.base + block::LargePcrErrors] = 7;
    b[r.base + block::NewPcrPids] = 2;
    ChartPoller p;
    p.start();
    ChartSample got;
    for (const ChartAction& a : p.timerFired(fired(state::ChartPollGot, &b)))
      if (a.kind == ChartAction::Kind::Sample) got = a.sample;
    EXPECT_TRUE(got == r.sample) << r.name << ": slide " << got.slide << " cor " << got.cor << " base error "
                                 << got.baseError << " pids " << got.pids;
  }
}
