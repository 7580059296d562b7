// config: a board's configuration as a profile file. export reads a board into one,
// apply brings one board or many to it, diff compares it with a board or with a
// second profile. The exchanges are the device's ProfileSequence; this file only
// picks the boards, runs their sessions and prints the outcomes.
//
// With --boards, each board has a session of its own (its own engine and endpoint on
// a free host port, so one board's answers never reach another's), and the boards of
// one controller run side by side, taking turns on its SDI bus exchange by exchange
// (device/BusTurns). A controller given a fixed host-port has one session for that
// port: its boards run one after another on it.
#include <QEventLoop>
#include <QJsonArray>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

#include "cli/Cli.h"
#include "cli/DeviceRun.h"
#include "cli/OutputFiles.h"
#include "link/qt/StopSignal.h"
#include "cli/commands/Commands.h"
#include "device/BusTurns.h"
#include "device/DeviceSession.h"
#include "device/ProfileSequence.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"
#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileYaml.h"

namespace tessaly::cli {
namespace {

// One board of a run: where its controller is and its SDI address.
struct Board {
  QueryTarget target;
  std::string controller;  // "HOST:PORT"
};

std::string controllerOf(const QueryTarget& t) { return t.deviceIp + ":" + std::to_string(t.devicePort); }

// --boards FILE: one line per board or run of boards,
//   HOST:PORT SDI [ddtoip|cw-net] [host-port=N]
// SDI is 1..15 or a range such as 1-5; '#' starts a comment. The framing defaults to
// the link's; each controller goes out from its host-port (without one, each board
// from a free port of its own).
std::vector<Board> readBoards(const std::string& path, Framing defaultFraming) {
  std::ifstream in(path);
  if (!in) throw UsageError{"--boards: cannot read '" + path + "'"};
  std::vector<Board> boards;
  std::map<std::string, std::pair<QueryTarget, int>> controllers;  // the first line of each
  std::map<int, std::string> hostPorts;
  std::set<std::pair<std::string, int>> seen;
  std::string text;
  int lineNo = 0;
  while (std::getline(in, text)) {
    ++lineNo;
    const std::string at = path + ":" + std::to_string(lineNo) + ": ";
    if (const auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    if (w.size() < 2 || w.size() > 4)
      throw UsageError{at + "expected HOST:PORT SDI [ddtoip|cw-net] [host-port=N]"};
    const auto colon = w[0].rfind(':');
    if (colon == std::string::npos || colon == 0) throw UsageError{at + "'" + w[0] + "' is not HOST:PORT"};
    QueryTarget t;
    t.deviceIp = w[0].substr(0, colon);
    t.framing = defaultFraming;
    try {
      t.devicePort = static_cast<int>(number("port", w[0].substr(colon + 1), 1, 65535));
      const std::string& sdi = w[1];
      const auto dash = sdi.find('-');
      const int first = static_cast<int>(number("SDI", sdi.substr(0, dash), 1, 15));
      const int last = dash == std::string::npos ? first : static_cast<int>(number("SDI", sdi.substr(dash + 1), 1, 15));
      if (first > last) throw UsageError{"SDI " + sdi + ": the first address is after the last"};
      for (std::size_t k = 2; k < w.size(); ++k) {
        if (w[k] == "ddtoip" || w[k] == "cw-net")
          t.framing = w[k] == "ddtoip" ? Framing::DDToIP : Framing::CwNet;
        else if (w[k].rfind("host-port=", 0) == 0)
          t.hostPort = static_cast<int>(number("host-port", w[k].substr(10), 1, 65535));
        else
          throw UsageError{"'" + w[k] + "' is neither ddtoip, cw-net nor host-port=N"};
      }
      const std::string c = controllerOf(t);
      const auto known = controllers.find(c);
      if (known == controllers.end()) {
        if (t.hostPort != 0 && hostPorts.count(t.hostPort))
          throw UsageError{"host-port=" + std::to_string(t.hostPort) + " is also " + hostPorts[t.hostPort] +
                           "'s: two controllers cannot share a fixed host port"};
        if (t.hostPort != 0) hostPorts[t.hostPort] = c;
        controllers[c] = {t, lineNo};
      } else if (known->second.first.framing != t.framing || known->second.first.hostPort != t.hostPort) {
        throw UsageError{c + ": another framing or host port than on line " + std::to_string(known->second.second) +
                         " (one controller, one setting)"};
      }
      for (int sdiAddress = first; sdiAddress <= last; ++sdiAddress) {
        if (!seen.insert({c, sdiAddress}).second)
          throw UsageError{c + " SDI " + std::to_string(sdiAddress) + " is listed twice"};
        Board b{t, c};
        b.target.sdiAddress = static_cast<std::uint8_t>(sdiAddress);
        boards.push_back(b);
      }
    } catch (const UsageError& e) {
      throw UsageError{at + e.message};
    }
  }
  if (boards.empty()) throw UsageError{"--boards: '" + path + "' names no board"};
  return boards;
}

const char* resultName(ProfileOutcome o) {
  switch (o) {
    case ProfileOutcome::Ok:
      return "matches";
    case ProfileOutcome::Differs:
      return "differs";
    case ProfileOutcome::NoAnswer:
      return "no answer";
    case ProfileOutcome::NoDevice:
      return "no device";
    case ProfileOutcome::NotRemux:
      return "not a remultiplexer";
    case ProfileOutcome::UnknownAnswer:
      return "unknown answer";
    case ProfileOutcome::WrongReadback:
      return "wrong read-back";
    case ProfileOutcome::FlashBusy:
      return "flash busy";
    case ProfileOutcome::SendFailed:
      return "send failed";
    case ProfileOutcome::Cancelled:
      return "interrupted";
  }
  return "unknown answer";
}

int exitCodeOf(ProfileOutcome o) {
  switch (o) {
    case ProfileOutcome::Ok:
      return Success;
    case ProfileOutcome::Differs:
      return Differs;
    case ProfileOutcome::NoAnswer:
      return NoAnswer;
    case ProfileOutcome::SendFailed:
      return SendFailed;
    case ProfileOutcome::Cancelled:
      return stopSignal() ? stopExitCode(stopSignal()) : Unexpected;
    default:
      return Unexpected;
  }
}

// A difference's values are the board's 8-bit text (a user text is Latin-1); the
// output is UTF-8.
QString fromBoard(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

std::string differenceLine(const profile::Difference& d) {
  return (fromBoard(d.field) + ": expected " + fromBoard(d.expected) + ", found " + fromBoard(d.actual)).toStdString();
}

QJsonArray differencesJson(const std::vector<profile::Difference>& list) {
  QJsonArray a;
  for (const auto& d : list) {
    QJsonObject j;
    j["field"] = fromBoard(d.field);
    j["expected"] = fromBoard(d.expected);
    j["actual"] = fromBoard(d.actual);
    a.append(j);
  }
  return a;
}

enum class Job { Read, Apply, Compare };

class BoardRun;

// One session (engine, timer, UDP endpoint) and its boards in turn: one board on a
// controller's shared bus (`turns`), or every board of a controller with a fixed host port.
class Lane : public ProfileSequenceListener {
 public:
  Lane(BoardRun& run, const QueryTarget& t, TrafficTap* tap, int timeoutMs, BusTurns* turns)
      : run_(run), session_(timer_, endpoint_), sequence_(session_, *this, turns), shared_(turns != nullptr),
        timeoutMs_(timeoutMs) {
    session_.setTarget(t);
    session_.traffic().add(tap);
    session_.setQueryTimeoutMs(timeoutMs);
    sequence_.setNoticeTimeoutMs(timeoutMs);
    gap_.setSingleShot(true);
    QObject::connect(&gap_, &QTimer::timeout, [this] { startNext(); });
  }
  void add(std::size_t board) { boards_.push_back(board); }
  void startNext();
  // Ends the board running, or the wait before the next, at once.
  void cancel() {
    sequence_.cancel();
    if (gap_.isActive()) {
      gap_.stop();
      startNext();
    }
  }
  DeviceSession& session() { return session_; }
  ProfileSequence& sequence() { return sequence_; }

  void progress(const ProfileProgress& p) override;
  void finished(const ProfileResult& r) override;

 private:
  BoardRun& run_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  DeviceSession session_;
  ProfileSequence sequence_;
  std::vector<std::size_t> boards_;
  bool shared_;  // on a bus shared with other lanes
  int timeoutMs_;
  QTimer gap_;  // before the next board
  std::size_t next_ = 0;
  std::size_t current_ = 0;
};

// The boards' runs: the lanes side by side on one event loop, each board's outcome
// kept in the boards' order.
class BoardRun {
 public:
  BoardRun(std::vector<Board> boards, Job job, const profile::Profile* profile, ProfileReadRequest read,
           TrafficTap* tap, int timeoutMs, bool showProgress)
      : boards_(std::move(boards)),
        results_(boards_.size()),
        job_(job),
        profile_(profile),
        read_(std::move(read)),
        showProgress_(showProgress) {
    std::map<std::string, std::size_t> onController;
    for (const Board& b : boards_) ++onController[b.controller];
    std::map<std::string, Lane*> fixedPort;
    for (std::size_t k = 0; k < boards_.size(); ++k) {
      const Board& b = boards_[k];
      if (b.target.hostPort == 0 && onController[b.controller] > 1) {
        std::unique_ptr<BusTurns>& turns = buses_[b.controller];
        if (!turns) turns = std::make_unique<BusTurns>();
        lanes_.push_back(std::make_unique<Lane>(*this, b.target, tap, timeoutMs, turns.get()));
        lanes_.back()->add(k);
        continue;
      }
      Lane*& c = fixedPort[b.controller];
      if (!c) {
        lanes_.push_back(std::make_unique<Lane>(*this, b.target, tap, timeoutMs, nullptr));
        c = lanes_.back().get();
      }
      c->add(k);
    }
    // Every lane may have its socket open at once (its exchange on the bus or in its
    // answer's hand-over): a long list of boards needs more than the usual 1,024 files.
    if (rlimit files{}; lanes_.size() > 1 && ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (stopSignalFd() >= 0) {
      stopNotifier_.emplace(stopSignalFd(), QSocketNotifier::Read);
      QObject::connect(&*stopNotifier_, &QSocketNotifier::activated, [this] {
        stopNotifier_->setEnabled(false);
        // No turn given up by a lane cancelled first passes to one cancelled next.
        for (auto& [controller, turns] : buses_) turns->dropWaiting();
        for (auto& c : lanes_) c->cancel();
      });
    }
  }

  void run() {
    running_ = lanes_.size();
    for (auto& c : lanes_) c->startNext();
    if (running_ > 0) loop_.exec();
    clearProgress();
  }

  const std::vector<Board>& boards() const { return boards_; }
  const std::vector<std::optional<ProfileResult>>& results() const { return results_; }

  // Starts `board`'s sequence on the session `c`.
  void start(Lane& c, std::size_t board) {
    c.session().setTarget(boards_[board].target);
    ProfileSequence& s = c.sequence();
    if (stopSignal()) {
      ProfileResult r;
      r.outcome = ProfileOutcome::Cancelled;
      r.reason = std::string("Interrupted by ") + stopSignalName(stopSignal()) + ".";
      done(board, r);
      c.startNext();  // the rest of its boards are not run either
      return;
    }
    switch (job_) {
      case Job::Read:
        s.startRead(read_);
        return;
      case Job::Apply:
        s.startApply(*profile_);
        return;
      case Job::Compare:
        s.startCompare(*profile_);
        return;
    }
  }
  void done(std::size_t board, const ProfileResult& r) { results_[board] = r; }
  void laneDone() {
    if (--running_ == 0) loop_.exit(0);
  }
  void progress(const ProfileProgress& p) {
    if (!showProgress_) return;
    std::fprintf(stderr, "\r[%zu/%zu] %s\033[K", p.done, p.total, p.what.c_str());
    std::fflush(stderr);
    progressShown_ = true;
  }


 private:
  void clearProgress() {
    if (!progressShown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }

  std::vector<Board> boards_;
  std::vector<std::optional<ProfileResult>> results_;
  Job job_;
  const profile::Profile* profile_;
  ProfileReadRequest read_;
  bool showProgress_;
  bool progressShown_ = false;
  std::map<std::string, std::unique_ptr<BusTurns>> buses_;  // before the lanes, whose sequences hold turns
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::size_t running_ = 0;
  QEventLoop loop_;
  std::optional<QSocketNotifier> stopNotifier_;
};

void Lane::startNext() {
  if (next_ >= boards_.size()) {
    run_.laneDone();
    return;
  }
  current_ = boards_[next_++];
  run_.start(*this, current_);
}

void Lane::progress(const ProfileProgress& p) { run_.progress(p); }

void Lane::finished(const ProfileResult& result) {
  ProfileResult r = result;
  if (r.outcome == ProfileOutcome::Cancelled && stopSignal())
    r.reason = std::string("Interrupted by ") + stopSignalName(stopSignal()) + ".";
  run_.done(current_, r);
  // The next board once this run has left the engine; after a board that did not
  // answer in time, once its late answer (if any) has had the time to come and go
  // while the endpoint is closed, so that it never cuts the next board's wait short.
  // On a shared bus the late answer goes to this board's own (closed) port, and the
  // sequence has already kept its turn that long, so nothing is left to wait for.
  const bool late = r.outcome == ProfileOutcome::NoAnswer && !stopSignal() && !shared_;
  gap_.start(late ? timeoutMs_ : 0);
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

profile::Profile loadOrRefuse(const std::string& path) {
  try {
    return profile::loadProfile(path);
  } catch (const profile::ProfileError& e) {
    throw UsageError{e.what()};
  }
}

// The boards a command runs on: --boards FILE, or the one board the link options name.
std::vector<Board> boardsFor(const GivenOptions& o) {
  if (const auto path = o.text("--boards")) {
    const QueryTarget link = linkTarget(o);
    std::vector<Board> boards = readBoards(*path, link.framing);
    std::set<int> probed;
    for (const Board& b : boards)
      if (probed.insert(b.target.hostPort).second) requireHostPort(b.target);
    return boards;
  }
  const QueryTarget t = usableTarget(o);
  return {Board{t, controllerOf(t)}};
}

// The outcome of every board: one line each (and the differences under it), or the
// JSON object; the exit code is the first board's in the list that did not match.
int report(Invocation& inv, const BoardRun& run) {
  int code = Success;
  QJsonArray list;
  std::size_t matching = 0;
  for (std::size_t k = 0; k < run.boards().size(); ++k) {
    const Board& b = run.boards()[k];
    ProfileResult r;
    if (run.results()[k]) {
      r = *run.results()[k];
    } else {
      r.outcome = ProfileOutcome::Cancelled;
      r.reason = "Not run.";
    }
    const std::string head = b.controller + " sdi " + std::to_string(b.target.sdiAddress) + ": ";
    if (r.outcome == ProfileOutcome::Ok) {
      ++matching;
      say(inv.json, head + "matches");
    } else if (r.outcome == ProfileOutcome::Differs) {
      const std::size_t n = r.differences.size();
      say(inv.json, head + "differs (" + std::to_string(n) + (n == 1 ? " field)" : " fields)"));
      for (const auto& d : r.differences) say(inv.json, "  " + differenceLine(d));
    } else {
      const std::string line = head + resultName(r.outcome) + ": " + r.reason +
                               (r.step.empty() ? std::string() : " (at: " + r.step + ")");
      if (inv.json.on())
        err(line);
      else
        out(line);
    }
    if (code == Success && r.outcome != ProfileOutcome::Ok) code = exitCodeOf(r.outcome);
    QJsonObject j;
    j["controller"] = QString::fromStdString(b.controller);
    j["sdi"] = b.target.sdiAddress;
    j["result"] = resultName(r.outcome);
    j["differences"] = differencesJson(r.differences);
    if (r.outcome != ProfileOutcome::Ok && r.outcome != ProfileOutcome::Differs) {
      j["reason"] = QString::fromStdString(r.reason);
      j["step"] = QString::fromStdString(r.step);
    }
    list.append(j);
  }
  inv.json.fields["boards"] = list;
  inv.json.print(code == Success, std::to_string(run.boards().size() - matching) + " of " +
                                      std::to_string(run.boards().size()) + " boards do not match");
  return code;
}

int runOnBoards(Invocation& inv, Job job, const profile::Profile& p) {
  const std::vector<Board> boards = boardsFor(inv.options());
  if (job == Job::Apply && p.identity && boards.size() > 1)
    throw UsageError{"config apply: the profile names an identity (serial, type, user text, SDI address): "
                     "every board of --boards would get the same; apply it to one board"};
  const auto timeoutMs = static_cast<int>(inv.options().number("--timeout-ms").value_or(kQueryReplyTimeoutMs));
  TrafficTap* tap = inv.capture();
  BoardRun run(boards, job, &p, {}, tap, timeoutMs, boards.size() == 1 && !inv.json.on() && stderrIsTerminal());
  run.run();
  const int code = report(inv, run);
  return inv.captured(stopSignal() ? stopExitCode(stopSignal()) : code);
}

int configExport(Invocation& inv) {
  const GivenOptions& o = inv.options();
  ProfileReadRequest read;
  const std::array<bool, 6> inputs = o.inputs("--pid-filter").value_or(std::array<bool, 6>{true, true, true, true, true, true});
  for (int n = 1; n <= 6; ++n)
    if (inputs[static_cast<std::size_t>(n - 1)]) read.pidInputs.insert(n);
  if (const auto ranges = o.ranges("--psi")) {
    read.psiRanges.emplace();
    for (const auto& [first, last] : *ranges)
      read.psiRanges->push_back(profile::PsiRange{static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)});
  }
  read.withIdentity = o.has("--with-identity");

  const std::optional<std::string> path = o.text("--output");
  const bool toFile = path && *path != "-";
  refuseSettingsFile("--output", path);
  ReportFile file;
  std::string why;
  // Refused before anything is sent when the file cannot be written.
  if (toFile && !file.prepare(*path, &why)) throw UsageError{"--output: cannot write '" + *path + "': " + why};

  const std::vector<Board> boards = boardsFor(o);
  const auto timeoutMs = static_cast<int>(o.number("--timeout-ms").value_or(kQueryReplyTimeoutMs));
  TrafficTap* tap = inv.capture();
  BoardRun run(boards, Job::Read, nullptr, read, tap, timeoutMs, stderrIsTerminal());
  run.run();
  const ProfileResult r = run.results()[0].value_or(ProfileResult{ProfileOutcome::Cancelled, "Interrupted.", {}, {}, {}, {}});
  if (r.outcome != ProfileOutcome::Ok) {
    err(r.reason + (r.step.empty() ? std::string() : " (at: " + r.step + ")"));
    return inv.captured(stopSignal() ? stopExitCode(stopSignal()) : exitCodeOf(r.outcome));
  }
  const std::string text = profile::writeProfile(r.read);
  if (!toFile) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  } else if (!file.commit(text, &why)) {
    err(std::string(kProgram) + ": --output: cannot write '" + *path + "': " + why);
    return inv.captured(Usage);
  }
  // A board can hold what a profile refuses (enabled sectors that overlap, set one by
  // one): the profile still says what the board holds, but apply and diff refuse it.
  if (const std::string problem = profile::validateProfile(r.read); !problem.empty()) {
    err(std::string(kProgram) + ": config export: the board holds what a profile refuses, so apply and diff "
        "refuse this one until it is edited: " + problem);
    return inv.captured(Unexpected);
  }
  return inv.captured(Success);
}

int configApply(Invocation& inv) {
  const std::string& path = inv.args()[1];
  const profile::Profile p = loadOrRefuse(path);
  if (profile::replacesUnnamedPidInputs(p) && !inv.options().has("--force")) {
    std::string named;
    for (const auto& [input, entries] : p.pidFilter) named += (named.empty() ? "" : ",") + std::to_string(input);
    throw UsageError{"config apply: " + path + " names the PID filter of input(s) " + named +
                     " only; the erase clears all six inputs, so the others would end empty: name every input "
                     "(an empty list for none) or give --force"};
  }
  return runOnBoards(inv, Job::Apply, p);
}

int configDiff(Invocation& inv) {
  const auto& args = inv.args();
  if (args.size() < 2) throw UsageError{"config diff: missing argument (usage: " + std::string(kConfigDiff.synopsis) + ")"};
  if (args.size() > 3) throw UsageError{"config diff: unexpected argument '" + args[3] + "'"};
  const profile::Profile p = loadOrRefuse(args[1]);
  if (args.size() == 2) return runOnBoards(inv, Job::Compare, p);
  // Two profiles: what the second says about each field the first names.
  if (inv.options().has("--boards")) throw UsageError{"config diff: --boards compares boards, not a second profile"};
  const profile::Profile second = loadOrRefuse(args[2]);
  const auto differences = profile::diffProfiles(p, second);
  for (const auto& d : differences) say(inv.json, differenceLine(d));
  const std::size_t n = differences.size();
  say(inv.json, n == 0 ? "matches" : "differs (" + std::to_string(n) + (n == 1 ? " field)" : " fields)"));
  inv.json.fields["differences"] = differencesJson(differences);
  inv.json.print(n == 0, "differs (" + std::to_string(n) + (n == 1 ? " field)" : " fields)"));
  return n == 0 ? Success : Differs;
}

}  // namespace

const Command kConfigExport{
    "config export",
    "  config export [--pid-filter all|none|INPUTS] [--psi none|RANGES] [--with-identity]\n"
    "        [-o|--output FILE]\n"
    "                         read the board's configuration into a profile (YAML): the status,\n"
    "                         the PID filter of the inputs asked (default all; 1,024 read-backs\n"
    "                         per input) and the PSI flash addresses asked (default none;\n"
    "                         RANGES like 0-4095,8192-8447); the identity only when asked; to\n"
    "                         FILE (replaced once whole) or standard output\n"
    "                           tessaly-cli config export --pid-filter 1 -o board.yaml\n",
    "config export [--pid-filter all|none|INPUTS] [--psi none|RANGES] [--with-identity] [-o|--output FILE]",
    1,
    {"--pid-filter", "--psi", "--with-identity", "--output"},
    configExport};

const Command kConfigApply{
    "config apply",
    "  config apply FILE [--boards FILE] [--force] [--json]\n"
    "                         bring the board (or every board --boards lists) to the profile\n"
    "                         FILE, then read back what it names and compare: one line per\n"
    "                         board; exit 0 when all match, else the code of the first board\n"
    "                         listed that does not (5 differs); --force: a PID filter that\n"
    "                         names only some inputs empties the others\n"
    "                           tessaly-cli config apply board.yaml --boards rack.txt --json\n",
    "config apply FILE [--boards FILE] [--force] [--json]",
    2,
    {"--boards", "--force", "--json"},
    configApply};

const Command kConfigDiff{
    "config diff",
    "  config diff FILE [FILE2] [--boards FILE] [--json]\n"
    "                         the fields the profile FILE names that differ on the board (or\n"
    "                         the boards --boards lists, or in the profile FILE2); exit 0 when\n"
    "                         none does, 5 when one does\n"
    "                           tessaly-cli config diff board.yaml\n",
    "config diff FILE [FILE2] [--boards FILE] [--json]",
    2,
    {"--boards", "--json"},
    configDiff,
    true};

}  // namespace tessaly::cli
