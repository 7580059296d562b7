#include "cli/MfgTest.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "cli/OutputFiles.h"
#include "cli/Options.h"
#include "cli/RunLoop.h"
#include "mfgtest/MfgSequence.h"
#include "protocol/Protocol.h"
#include "status/Decode.h"

namespace tessaly::cli {
namespace {

using Clock = std::chrono::steady_clock;

enum class StepStatus { Skipped, Passed, Failed, Error };

const char* statusName(StepStatus s) {
  switch (s) {
    case StepStatus::Passed: return "passed";
    case StepStatus::Failed: return "failed";
    case StepStatus::Error: return "error";
    case StepStatus::Skipped: break;
  }
  return "skipped";
}

struct StepRecord {
  StepStatus status = StepStatus::Skipped;
  std::string message;  // the last progress text the step showed
  double seconds = 0;
  Clock::time_point begun;
};

// What the board said about itself in its answer to the configuration message.
struct Board {
  std::uint8_t deviceCode = 0;
  std::uint16_t type = 0;
  std::uint32_t serial = 0;
  int sdiAddress = 0;
  std::string version;
};

std::string utcTimestamp(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm tm = {};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

QString seconds(double s) { return QString::number(s, 'f', 3); }
QString qs(const std::string& s) { return QString::fromStdString(s); }

class MfgTest {
 public:
  MfgTest(RunLoop& s, bool json) : s_(s), json_(json) {
    registerMfgTransactions(
        s_.engine(), [this] { timerFired(); },
        [this](std::uint8_t code, bool) { carryOut(sequence_.sendFailed(code)); });
    s_.onStop([this](int signal) { interrupted(signal); });
  }

  void start(const MfgInputTexts& in) {
    testPort_ = normaliseTestPort(in.testPort);
    startedAt_ = std::chrono::system_clock::now();
    begun_ = Clock::now();
    carryOut(sequence_.start(in));
  }

  int exitCode() const {
    if (succeeded_) return Success;
    if (failure_ == MfgFailure::SendFailed) return SendFailed;
    return failure_ == MfgFailure::NoAnswer ? NoAnswer : Unexpected;
  }

  // Called once the run has ended (or was stopped): the durations are final.
  void close() {
    total_ = std::chrono::duration<double>(Clock::now() - begun_).count();
    if (current_ >= 0 && steps_[static_cast<std::size_t>(current_)].status == StepStatus::Skipped)
      endStep(StepStatus::Error, "The run ended without a result.");
  }

  std::string junit() const {
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    int failures = 0, errors = 0, skipped = 0;
    for (const StepRecord& r : steps_) {
      failures += r.status == StepStatus::Failed;
      errors += r.status == StepStatus::Error;
      skipped += r.status == StepStatus::Skipped;
    }
    const QString name = qs(suiteName());
    const auto counts = [&] {
      w.writeAttribute("tests", QString::number(steps_.size()));
      w.writeAttribute("failures", QString::number(failures));
      w.writeAttribute("errors", QString::number(errors));
      w.writeAttribute("skipped", QString::number(skipped));
      w.writeAttribute("time", seconds(total_));
    };
    w.writeStartElement("testsuites");
    w.writeAttribute("name", name);
    counts();
    w.writeStartElement("testsuite");
    w.writeAttribute("name", name);
    counts();
    w.writeAttribute("timestamp", qs(utcTimestamp(startedAt_)));
    w.writeAttribute("hostname", qs(hostName()));
    w.writeStartElement("properties");
    for (const auto& [key, value] : properties()) {
      w.writeEmptyElement("property");
      w.writeAttribute("name", qs(key));
      w.writeAttribute("value", qs(value));
    }
    w.writeEndElement();
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      const StepRecord& r = steps_[i];
      w.writeStartElement("testcase");
      w.writeAttribute("classname", name);
      w.writeAttribute("name", QString::number(i + 1) + ". " + stepName(i));
      w.writeAttribute("time", seconds(r.seconds));
      if (r.status == StepStatus::Failed || r.status == StepStatus::Error) {
        w.writeStartElement(r.status == StepStatus::Failed ? "failure" : "error");
        w.writeAttribute("message", qs(r.message));
        w.writeCharacters(qs(r.message));
        w.writeEndElement();
      } else if (r.status == StepStatus::Skipped) {
        w.writeEmptyElement("skipped");
        w.writeAttribute("message", "not reached");
      }
      w.writeEndElement();
    }
    QString text;
    for (const std::string& l : log_) text += qs(l) + "\n";
    w.writeTextElement("system-out", text);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml.toStdString();
  }

  std::string json() const {
    QJsonObject j;
    j["ok"] = succeeded_;
    j["result"] = signal_ ? "interrupted" : succeeded_ ? "passed" : statusName(worst());
    j["message"] = qs(lastLabel_);
    j["controller"] = qs(controller());
    if (board_) {
      QJsonObject b;
      b["device_code"] = QString::asprintf("%02X", unsigned{board_->deviceCode});
      b["serial"] = static_cast<qint64>(board_->serial);
      b["sdi_address"] = board_->sdiAddress;
      b["type"] = board_->type;
      b["version"] = qs(board_->version);
      j["board"] = b;
    } else {
      j["board"] = QJsonValue::Null;
    }
    const MfgInputs& in = sequence_.inputs();
    QJsonObject o;
    o["test_port"] = in.testPort;
    for (std::size_t i = 0; i < 3; ++i)
      o[QString("pid%1").arg(i + 1)] = in.additionalPidOn[i] ? QJsonValue(in.additionalPid[i]) : QJsonValue("off");
    o["multicast"] = qs(multicastText());
    j["options"] = o;
    j["duration_s"] = std::round(total_ * 1000) / 1000;
    QJsonArray steps;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      const StepRecord& r = steps_[i];
      QJsonObject s;
      s["number"] = static_cast<int>(i + 1);
      s["name"] = stepName(i);
      s["status"] = statusName(r.status);
      s["message"] = qs(r.message);
      s["duration_s"] = std::round(r.seconds * 1000) / 1000;
      steps.append(s);
    }
    j["steps"] = steps;
    return QJsonDocument(j).toJson(QJsonDocument::Compact).toStdString();
  }

 private:
  static QString stepName(std::size_t i) {
    return QString::fromLatin1(kMfgStepTexts[i].data(), static_cast<qsizetype>(kMfgStepTexts[i].size()));
  }
  std::string controller() const { return s_.target().deviceIp + ":" + std::to_string(s_.target().devicePort); }
  // "mfg-test serial 20417 sdi 1 @ 127.0.0.1:56789": the board as it reported
  // itself, else the SDI address it was sought at.
  std::string suiteName() const {
    const std::string serial = board_ ? std::to_string(board_->serial) : std::string("unknown");
    const int sdi = board_ ? board_->sdiAddress : s_.target().sdiAddress;
    return "mfg-test serial " + serial + " sdi " + std::to_string(sdi) + " @ " + controller();
  }
  std::string multicastText() const {
    const MfgInputs& in = sequence_.inputs();
    if (!in.multicastOn) return "off";
    return std::to_string(in.multicast[0]) + "." + std::to_string(in.multicast[1]) + "." +
           std::to_string(in.multicast[2]) + "." + std::to_string(in.multicast[3]);
  }
  std::vector<std::pair<std::string, std::string>> properties() const {
    const MfgInputs& in = sequence_.inputs();
    const auto unknown = std::string("unknown");
    std::vector<std::pair<std::string, std::string>> p{
        {"controller", controller()},
        {"sdi_address", std::to_string(board_ ? board_->sdiAddress : s_.target().sdiAddress)},
        {"device_code", board_ ? QString::asprintf("%02X", unsigned{board_->deviceCode}).toStdString() : unknown},
        {"serial", board_ ? std::to_string(board_->serial) : unknown},
        {"version", board_ ? board_->version : unknown},
        {"type", board_ ? std::to_string(board_->type) : unknown},
        {"test_port", std::to_string(in.testPort)}};
    for (std::size_t i = 0; i < 3; ++i)
      p.emplace_back("pid" + std::to_string(i + 1), in.additionalPidOn[i] ? std::to_string(in.additionalPid[i]) : "off");
    p.emplace_back("multicast", multicastText());
    return p;
  }
  static std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
  }
  StepStatus worst() const {
    for (const StepRecord& r : steps_)
      if (r.status == StepStatus::Failed || r.status == StepStatus::Error) return r.status;
    return StepStatus::Skipped;
  }

  void say(const std::string& line) {
    log_.push_back(line);
    if (!json_) out(line);
  }
  void sayError(const std::string& line) {
    log_.push_back(line);
    err(line);
  }

  void beginStep(int step) {
    if (step <= current_) return;
    if (current_ >= 0) endStep(StepStatus::Passed, steps_[static_cast<std::size_t>(current_)].message);
    if (steps_[static_cast<std::size_t>(step)].message.empty()) steps_[static_cast<std::size_t>(step)].message = lastLabel_;
    current_ = step;
    steps_[static_cast<std::size_t>(step)].begun = Clock::now();
  }
  void endStep(StepStatus status, const std::string& message) {
    if (current_ < 0) current_ = 0;
    StepRecord& r = steps_[static_cast<std::size_t>(current_)];
    if (r.status != StepStatus::Skipped) return;
    r.status = status;
    r.message = message;
    r.seconds = std::chrono::duration<double>(Clock::now() - r.begun).count();
  }

  // A stop signal: the running step ends as an error, the later ones stay skipped.
  void interrupted(int signal) {
    if (ended_) return;
    ended_ = true;
    signal_ = signal;
    const std::string text = std::string("Interrupted by ") + stopSignalName(signal) + ".";
    endStep(StepStatus::Error, text);
    lastLabel_ = text;
    sayError("Programming stopped: " + text);
  }

  void timerFired() {
    TransactionEngine& engine = s_.engine();
    const auto& buffer = engine.buffer().bytes();
    MfgTimerEvent event;
    event.state = engine.state();
    event.buffer = buffer.data();
    event.bufferSize = buffer.size();
    event.receivedLength = engine.receivedLength();
    event.testPort = testPort_;
    if (event.state == state::MfgConfigGot) noteBoard();
    carryOut(sequence_.timerFired(event));
  }

  // The board's own status answer to the configuration message names it.
  void noteBoard() {
    const ReceiveBuffer& b = s_.engine().buffer();
    if (s_.engine().receivedLength() != device::StatusSize || b.at(device::AnswerCode) != device::StatusCode) return;
    const auto big = [&b](std::size_t at, int n) {
      std::uint32_t v = 0;
      for (int i = 0; i < n; ++i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
      return v;
    };
    Board board;
    board.deviceCode = b.at(device::DeviceCode);
    board.type = static_cast<std::uint16_t>(big(device::Type, 2));
    board.serial = big(device::Serial, 4);
    board.sdiAddress = b.at(device::Address) & 15;
    board.version = versionText(b.at(device::VersionMajor), b.at(device::VersionMinor));
    board_ = board;
  }

  void carryOut(const MfgActions& actions) {
    TransactionEngine& engine = s_.engine();
    for (auto it = actions.begin(); it != actions.end(); ++it) {
      const MfgAction& a = *it;
      switch (a.kind) {
        case MfgAction::Kind::Progress: {
          lastLabel_ = a.text;
          // A progress text just before the next step starts is that step's.
          int step = current_;
          for (auto next = it + 1; next != actions.end(); ++next)
            if (next->kind == MfgAction::Kind::StepStarted && next->step > current_ &&
                next->step < static_cast<int>(kMfgStepTexts.size()))
              step = next->step;
          if (step >= 0) steps_[static_cast<std::size_t>(step)].message = a.text;
          say("  " + a.text);
          break;
        }
        case MfgAction::Kind::StepStarted:
          if (a.step >= 0 && a.step < static_cast<int>(kMfgStepTexts.size())) {
            beginStep(a.step);
            say("Step " + std::to_string(a.step + 1) + "/5: " + std::string(kMfgStepTexts[static_cast<std::size_t>(a.step)]));
          }
          break;
        case MfgAction::Kind::RunFinished: finished(a); break;
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
        case MfgAction::Kind::UnitResult:
          if (a.unitState == UnitState::Failed) {
            const char* const group = a.group == UnitGroup::Pid ? "PID Filter" : a.group == UnitGroup::Psi ? "PSI Inserter" : "PCR Corrector";
            say(std::string("  ") + group + " " + std::to_string(a.unit) + ": failed");
          }
          break;
        case MfgAction::Kind::WriteBack:
        case MfgAction::Kind::RunStarted:
        case MfgAction::Kind::RunUnderway:
        case MfgAction::Kind::AddChartSample:
        case MfgAction::Kind::StoreNcoFrequency: break;
      }
    }
    finishIfEnded();
  }

  void finished(const MfgAction& a) {
    if (ended_) return;
    ended_ = true;
    if (a.outcome == MfgOutcome::Stopped) return;
    failure_ = a.failure;
    succeeded_ = a.outcome == MfgOutcome::Passed;
    const std::string caption(mfgOutcomeCaption(a.outcome));
    if (succeeded_) {
      endStep(StepStatus::Passed, lastLabel_);
      say(caption);
      return;
    }
    // A message that could not go out, or a board that never answered the first
    // one: the run could not start or go on, the step did not fail.
    const bool error = failure_ == MfgFailure::SendFailed || (current_ <= 0 && failure_ == MfgFailure::NoAnswer);
    endStep(error ? StepStatus::Error : StepStatus::Failed, lastLabel_);
    sayError(caption + ": " + lastLabel_);
  }

  void finishIfEnded() {
    if (ended_) s_.finish(exitCode());
  }

  RunLoop& s_;
  bool json_;
  MfgSequence sequence_;
  std::int32_t testPort_ = 58100;
  std::string lastLabel_;
  std::array<StepRecord, kMfgStepTexts.size()> steps_{};
  std::vector<std::string> log_;
  std::optional<Board> board_;
  std::chrono::system_clock::time_point startedAt_;
  Clock::time_point begun_;
  double total_ = 0;
  int current_ = -1;
  int signal_ = 0;
  MfgFailure failure_ = MfgFailure::None;
  bool ended_ = false, succeeded_ = false;
};

}  // namespace

int runMfgTest(const QueryTarget& target, const MfgTestOptions& options, TrafficTap* tap) {
  ReportFile report;
  std::string why;
  // Fail before the run, not after it, when the report cannot be written.
  if (options.junitPath && !report.prepare(*options.junitPath, &why))
    throw UsageError{"--junit: cannot write '" + *options.junitPath + "': " + why};
  RunLoop s(target, tap);
  MfgTest test(s, options.json);
  test.start(options.inputs);
  const int waited = s.wait();
  test.close();
  const int code = stopSignal() ? waited : test.exitCode();
  if (options.json) out(test.json());
  if (options.junitPath && !report.commit(test.junit(), &why)) {
    err(std::string(kProgram) + ": --junit: cannot write '" + *options.junitPath + "': " + why);
    return code == Success ? Usage : code;
  }
  return code;
}

}  // namespace tessaly::cli
