#include "cli/MfgTest.h"

#include <QFile>
#include <QXmlStreamWriter>
#include <array>

#include "cli/Options.h"
#include "cli/Session.h"
#include "mfgtest/MfgSequence.h"

namespace tessaly::cli {
namespace {

class MfgTest {
 public:
  explicit MfgTest(Session& s) : s_(s) {
    registerMfgTransactions(
        s_.engine(), [this] { timerFired(); },
        [this](std::uint8_t code, bool) {
          sendFailed_ = true;
          carryOut(sequence_.sendFailed(code));
        });
  }

  void start(const MfgInputTexts& in) {
    testPortText_ = in.testPort;
    carryOut(sequence_.start(in));
  }

  int exitCode() const {
    if (succeeded_) return Success;
    if (sendFailed_) return SendFailed;
    return timedOut_ ? NoAnswer : Unexpected;
  }

  // One <testcase> per step: passed once the run moved past it, failed with the
  // run's last message where it ended, skipped when never reached.
  bool writeJunit(const std::string& path) const {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QXmlStreamWriter w(&f);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    const int failures = succeeded_ ? 0 : 1;
    int skipped = 0;
    for (std::size_t i = 0; i < kMfgStepTexts.size(); ++i)
      if (static_cast<int>(i) > reached_ && !succeeded_) ++skipped;
    w.writeStartElement("testsuites");
    w.writeStartElement("testsuite");
    w.writeAttribute("name", "mfg-test");
    w.writeAttribute("tests", QString::number(kMfgStepTexts.size()));
    w.writeAttribute("failures", QString::number(failures));
    w.writeAttribute("skipped", QString::number(skipped));
    for (std::size_t i = 0; i < kMfgStepTexts.size(); ++i) {
      const int step = static_cast<int>(i);
      w.writeStartElement("testcase");
      w.writeAttribute("classname", "mfg-test");
      w.writeAttribute("name", QString::number(step + 1) + ". " + QString::fromLatin1(kMfgStepTexts[i].data(),
                                                                                  static_cast<qsizetype>(kMfgStepTexts[i].size())));
      if (!succeeded_ && step == reached_) {
        w.writeStartElement("failure");
        w.writeAttribute("message", QString::fromStdString(lastLabel_));
        w.writeCharacters(QString::fromStdString(lastLabel_));
        w.writeEndElement();
      } else if (!succeeded_ && step > reached_) {
        w.writeEmptyElement("skipped");
      }
      w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return f.flush() && !w.hasError();
  }

 private:
  void timerFired() {
    TransactionEngine& engine = s_.engine();
    const auto& buffer = engine.buffer().bytes();
    MfgTimerEvent event;
    event.state = engine.state();
    event.buffer = buffer.data();
    event.bufferSize = buffer.size();
    event.receivedLength = engine.receivedLength();
    event.testPortText = testPortText_;
    // A wait that ends in the timer without its answer is a time-out.
    using namespace state;
    const std::uint8_t st = event.state;
    const bool waiting = st == MfgConfigWait || st == MfgEraseWait || st == MfgProgramWait || st == MfgPidReadWait ||
                         st == MfgPsiReadWait;
    timedOut_ = waiting;
    carryOut(sequence_.timerFired(event));
  }

  void carryOut(const MfgActions& actions) {
    TransactionEngine& engine = s_.engine();
    for (const MfgAction& a : actions) {
      switch (a.kind) {
        case MfgAction::Kind::SetLabelTest:
          lastLabel_ = a.text;
          out("  " + a.text);
          break;
        case MfgAction::Kind::HighlightStep:
          if (a.step >= 0 && a.step < static_cast<int>(kMfgStepTexts.size())) {
            reached_ = a.step;
            out("Step " + std::to_string(a.step + 1) + "/5: " + std::string(kMfgStepTexts[static_cast<std::size_t>(a.step)]));
          }
          break;
        case MfgAction::Kind::SetResultPanel:
          if (a.hasCaption && a.colour != ResultColour::Neutral) {
            ended_ = true;
            succeeded_ = a.colour == ResultColour::Success;
            if (succeeded_) {
              reached_ = static_cast<int>(kMfgStepTexts.size());
              out(a.text);
            } else {
              err(a.text + ": " + lastLabel_);
            }
          }
          break;
        case MfgAction::Kind::SetRunning:
          if (!a.flag) ended_ = true;
          break;
        case MfgAction::Kind::Send: {
          // The rest follows once the datagram has left; a failed send has carried out
          // the sequence's answer to it instead.
          MfgActions rest(actions.begin() + (&a - actions.data()) + 1, actions.end());
          engine.start(a.waitState, s_.target().deviceIp, s_.target().devicePort, a.datagram, a.startOptions(),
                       [this, rest = std::move(rest)] { carryOut(rest); });
          finishIfEnded();
          return;
        }
        case MfgAction::Kind::Schedule:
        case MfgAction::Kind::Deactivate:
        case MfgAction::Kind::Abort: applyEngineAction(engine, a); break;
        case MfgAction::Kind::SetUnitPanel:
          if (a.panel == UnitPanelState::Failed) {
            const char* const group = a.group == UnitGroup::Pid ? "PID Filter" : a.group == UnitGroup::Psi ? "PSI Inserter" : "PCR Corrector";
            out(std::string("  ") + group + " " + std::to_string(a.unit) + ": failed");
          }
          break;
        case MfgAction::Kind::WriteBack:
        case MfgAction::Kind::AddChartSample:
        case MfgAction::Kind::StoreNcoFrequency: break;
      }
    }
    finishIfEnded();
  }

  void finishIfEnded() {
    if (ended_) s_.finish(exitCode());
  }

  Session& s_;
  MfgSequence sequence_;
  std::string testPortText_;
  std::string lastLabel_;
  int reached_ = 0;
  bool ended_ = false, succeeded_ = false, timedOut_ = false, sendFailed_ = false;
};

}  // namespace

int runMfgTest(const QueryTarget& target, const MfgInputTexts& inputs, const std::optional<std::string>& junitPath,
               TrafficTap* tap) {
  Session s(target, tap);
  MfgTest test(s);
  test.start(inputs);
  s.wait();
  const int code = test.exitCode();
  if (junitPath && !test.writeJunit(*junitPath)) {
    err(std::string(kProgram) + ": --junit: cannot write '" + *junitPath + "'");
    return code == Success ? Usage : code;
  }
  return code;
}

}  // namespace tessaly::cli
