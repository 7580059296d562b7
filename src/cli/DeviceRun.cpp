#include "cli/DeviceRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>
#include <vector>

#include "cli/RunLoop.h"
#include "cli/StatusJson.h"
#include "device/StatusQuery.h"
#include "instructions/GeneralInstructions.h"
#include "instructions/NoticeWait.h"
#include "link/Engine.h"
#include "profile/ProfileStatus.h"
#include "settings/SettingsKeys.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

namespace tessaly::cli {

const NoticeCodes kGeneralNotice{state::GeneralWait, state::GeneralGot, kCommErrorCheckText};

namespace {

// A failure: its line on standard error, the JSON object with its reason, the exit code.
void fail(RunLoop& s, JsonOut& json, const std::vector<std::string>& lines, int code) {
  std::string reason;
  for (const auto& l : lines) {
    err(l);
    reason += (reason.empty() ? "" : " ") + l;
  }
  json.print(false, reason);
  s.finish(code);
}

// The query: the Main page's information memo, or the decoded status as JSON; after a
// read instruction, the read-back dump the page's memo shows.
class QueryRun : public StatusQueryListener {
 public:
  QueryRun(RunLoop& s, Present present, int timeoutMs, JsonOut& json) : s_(s), present_(present), json_(json) {
    s_.session().setQueryListener(this);
    s_.session().setQueryTimeoutMs(timeoutMs);
  }
  ~QueryRun() override { s_.session().setQueryListener(nullptr); }
  int run() {
    start();
    return s_.wait();
  }
  void start() { s_.session().query(); }
  void queryEnded(const QueryOutcome& o) override {
    switch (o.kind) {
      case QueryKind::SendFailed:
        fail(s_, json_, {"Communication Error!", "Check your network connection!"}, SendFailed);
        return;
      case QueryKind::Timeout:
        fail(s_, json_, {"No answer received (in 1s)."}, NoAnswer);
        return;
      case QueryKind::UnknownAnswer:
      case QueryKind::NoDevice:
      case QueryKind::NotRemux:
        answeredWrong(o);
        return;
      case QueryKind::Ok:
        break;
    }
    // The session has decoded the status block into its record.
    if (present_ == Present::Report)
      report(o);
    else if (!readBack())
      return;
    json_.print(true);
    s_.finish(Success);
  }

 private:
  void answeredWrong(const QueryOutcome& o) {
    if (present_ == Present::Report)
      for (const auto& l : queryAnswerLines(o)) say(json_, l);
    const QJsonObject answer = answerJson(o);
    for (auto i = answer.begin(); i != answer.end(); ++i) json_.fields[i.key()] = i.value();
    fail(s_, json_, {queryProblemText(o)}, Unexpected);
  }

  void report(const QueryOutcome& o) {
    const tZODADevice& d = s_.session().device();
    if (!json_.on()) {
      for (const auto& l : queryAnswerLines(o)) out(l);
      for (const auto& l : statusReportLines(d)) out(l);
      return;
    }
    const ReceiveBuffer& buffer = s_.engine().buffer();
    std::string userText;
    for (std::size_t k = 0; k < kLabelSize; ++k)
      userText += static_cast<char>(buffer.at(static_cast<std::size_t>(o.answerBase + block::UserText) + k));
    const QJsonObject status = statusJson(d, userText);
    for (auto i = status.begin(); i != status.end(); ++i) json_.fields[i.key()] = i.value();
  }

  // False when the answer holds no read-back (the run has failed).
  bool readBack() {
    const tZODADevice& d = s_.session().device();
    const bool pid = present_ == Present::PidReadback;
    const auto lines = pid ? pidReadbackLines(d) : psiReadbackLines(d);
    if (lines.empty()) {
      fail(s_, json_, {std::string("The status answer holds no ") + (pid ? "PID filter" : "PSI inserter") + " read-back."},
           Unexpected);
      return false;
    }
    for (const auto& l : lines) say(json_, l);
    // The PID filter's entries are 16-bit words, high byte first, one per PID from
    // the start PID: "entries" are the eight read (start..start+7), "words" the
    // whole read-back area; the flash is bytes.
    QJsonArray values;
    if (pid) {
      QJsonArray entries;
      for (std::size_t k = 0; k + 1 < d.ReadbackData.size(); k += 2) {
        const int word = (d.ReadbackData[k] << 8) | d.ReadbackData[k + 1];
        values.append(word);
        if (k < 2 * static_cast<std::size_t>(profile::kPidsPerRead)) entries.append(word);
      }
      json_.fields["entries"] = entries;
      json_.fields["words"] = values;
    } else {
      for (const std::uint8_t b : d.ReadbackData) values.append(b);
      json_.fields["data"] = values;
    }
    return true;
  }

  RunLoop& s_;
  Present present_;
  JsonOut& json_;
};

// An instruction and its wait for the interrupt notice; with `readBack`, the
// notice is followed by a Query whose answer shows that read-back.
int runNoticeInstruction(RunLoop& s, const Bytes& datagram, int timeoutMs, JsonOut& json, const NoticeCodes& codes,
                         std::optional<Present> readBack) {
  std::optional<QueryRun> query;
  if (readBack) query.emplace(s, *readBack, kQueryReplyTimeoutMs, json);
  registerNoticeWait(
      s.engine(), codes.waiting, codes.received,
      [&s, &query, &json](bool got) {
        if (!got) {
          fail(s, json, {std::string(noticeOutcomeText(false))}, NoAnswer);
          return;
        }
        say(json, std::string(noticeOutcomeText(true)));
        if (!query) {
          json.print(true);
          s.finish(Success);
          return;
        }
        // The read-back comes with the next status answer, as the page's Query fetches it.
        QTimer::singleShot(0, [&query] { query->start(); });
      },
      [&s, &codes, &json](bool) { fail(s, json, {std::string(codes.sendFailedText)}, SendFailed); });
  StartOptions o;
  o.armMs = timeoutMs;
  s.engine().start(codes.waiting, s.target().deviceIp, s.target().devicePort, datagram, o);
  return s.wait();
}

// True when `path` names the panel's settings file in the working directory: the
// same file (through any link), or that name where there is no such file yet. An
// output there would replace the panel's settings.
bool isSettingsFile(const std::string& path) {
  const QString settings = QString::fromStdString(settingsPath(QDir::currentPath().toStdString()));
  const QFileInfo out(QString::fromStdString(path)), ini(settings);
  if (out.exists() && ini.exists()) return out.canonicalFilePath() == ini.canonicalFilePath();
  return out.absoluteDir().canonicalPath() == ini.absoluteDir().canonicalPath() && out.fileName() == ini.fileName();
}

}  // namespace

void requireHostPort(const QueryTarget& t) {
  if (t.hostPort == 0) return;
  QUdpSocket probe;
  if (probe.bind(QHostAddress(QHostAddress::AnyIPv4), static_cast<quint16>(t.hostPort), QAbstractSocket::DontShareAddress))
    return;
  throw SendError{"cannot use UDP port " + std::to_string(t.hostPort) + " on this host (" +
                  probe.errorString().toStdString() + "); --host-port 0 picks a free one"};
}

Request pageRequest(const LabelledInstruction& i, const NoticeCodes& codes, std::optional<Present> readBack) {
  Request r;
  r.instruction = [i](const QueryTarget& t) { return i.datagram(t.framing, t.sdiAddress); };
  r.codes = codes;
  r.readBack = readBack;
  return r;
}

int runRequest(Invocation& inv, const Request& r) {
  const QueryTarget t = linkTarget(inv.options());
  try {
    requireHostPort(t);
  } catch (const SendError& e) {
    inv.json.print(false, e.message);
    throw;
  }
  RunLoop s(t, inv.capture());
  const auto timeoutMs = inv.options().number("--timeout-ms");
  if (!r.instruction)
    return inv.captured(
        QueryRun(s, Present::Report, static_cast<int>(timeoutMs.value_or(kQueryReplyTimeoutMs)), inv.json).run());
  return inv.captured(runNoticeInstruction(s, r.instruction(s.target()), static_cast<int>(timeoutMs.value_or(1000)),
                                           inv.json, r.codes, r.readBack));
}

QueryTarget usableTarget(const GivenOptions& o) {
  const QueryTarget t = linkTarget(o);
  requireHostPort(t);
  return t;
}

void refuseSettingsFile(const char* option, const std::optional<std::string>& path) {
  if (path && *path != "-" && isSettingsFile(*path))
    throw UsageError{std::string(option) + ": cannot write '" + *path + "': it is the panel's settings file"};
}

std::string latin1(const std::string& what, const std::string& text) {
  const QString q = QString::fromStdString(text);
  for (qsizetype i = 0; i < q.size(); ++i) {
    const char32_t c = q[i].isHighSurrogate() && i + 1 < q.size() ? QChar::surrogateToUcs4(q[i], q[i + 1]) : q[i].unicode();
    if (c > 0xFF) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      const QString one = c > 0xFFFF ? q.mid(i, 2) : q.mid(i, 1);
      throw UsageError{what + ": '" + one.toStdString() + "' (" + code +
                       ") is not a Latin-1 character; the text goes out one byte per character"};
    }
  }
  return q.toLatin1().toStdString();
}

}  // namespace tessaly::cli
