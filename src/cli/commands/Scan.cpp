// scan: the boards on the controller's SDI bus, found with the Query the query command
// sends, one address after the other.
#include <QJsonArray>
#include <QString>
#include <QTimer>
#include <vector>

#include "cli/Cli.h"
#include "cli/DeviceRun.h"
#include "cli/RunLoop.h"
#include "link/qt/StopSignal.h"
#include "cli/commands/Commands.h"
#include "device/StatusQuery.h"
#include "status/StatusReport.h"

namespace tessaly::cli {
namespace {

constexpr int kFirstSdi = 1, kLastSdi = 15;

struct Board {
  int sdi;
  std::string deviceCode;
  std::uint32_t serial;
  std::string version;
};

// One Query per address, each after the last has ended: the SDI bus carries one
// exchange at a time.
class ScanRun : public StatusQueryListener {
 public:
  ScanRun(RunLoop& s, int timeoutMs, JsonOut& json) : s_(s), json_(json) {
    s_.session().setQueryListener(this);
    s_.session().setQueryTimeoutMs(timeoutMs);
    // A stop signal ends the scan with the boards found so far.
    s_.onStop([this](int signal) {
      json_.fields["boards"] = boards();
      json_.print(false, std::string("Interrupted by ") + stopSignalName(signal) + ".");
    });
  }
  ~ScanRun() override { s_.session().setQueryListener(nullptr); }

  int run() {
    ask(kFirstSdi);
    return s_.wait();
  }

  void queryEnded(const QueryOutcome& o) override {
    switch (o.kind) {
      case QueryKind::SendFailed:
        json_.fields["boards"] = boards();
        err("Communication Error!");
        err("Check your network connection!");
        json_.print(false, "Communication Error! Check your network connection!");
        s_.finish(SendFailed);
        return;
      case QueryKind::Timeout:
        break;
      case QueryKind::Ok: {
        answered_ = true;
        const tZODADevice& d = s_.session().device();
        const Board b{sdi_, QString::asprintf("%02X", o.deviceCode).toStdString(),
                      static_cast<std::uint32_t>(d.SerialNumber), d.VersionText};
        found_.push_back(b);
        say(json_, "SDI " + std::to_string(b.sdi) + ": device code " + b.deviceCode + ", serial " +
                       std::to_string(b.serial) + ", version " + b.version);
        break;
      }
      case QueryKind::NoDevice:
        // The controller answered for an empty address: no board there.
        controllerAnswered_ = true;
        break;
      case QueryKind::NotRemux:
      case QueryKind::UnknownAnswer:
        answered_ = true;
        break;
    }
    if (sdi_ < kLastSdi) {
      // The next Query starts once this one has left the engine.
      const int next = sdi_ + 1;
      QTimer::singleShot(0, [this, next] { ask(next); });
      return;
    }
    finished();
  }

 private:
  void ask(int sdi) {
    sdi_ = sdi;
    QueryTarget t = s_.target();
    t.sdiAddress = sdi;
    s_.session().setTarget(t);
    s_.session().query();
  }

  QJsonArray boards() const {
    QJsonArray list;
    for (const Board& b : found_) {
      QJsonObject j;
      j["sdi_address"] = b.sdi;
      j["device_code"] = QString::fromStdString(b.deviceCode);
      j["serial"] = static_cast<qint64>(b.serial);
      j["version"] = QString::fromStdString(b.version);
      list.append(j);
    }
    return list;
  }

  void finished() {
    json_.fields["boards"] = boards();
    if (!found_.empty()) {
      json_.print(true);
      s_.finish(Success);
      return;
    }
    const std::string why = answered_             ? "No remultiplexer answered on SDI addresses 1..15."
                            : controllerAnswered_ ? "No board answered on SDI addresses 1..15 (the controller did)."
                                                  : "No answer received on SDI addresses 1..15.";
    err(why);
    json_.print(false, why);
    s_.finish(answered_ ? Unexpected : NoAnswer);
  }

  RunLoop& s_;
  JsonOut& json_;
  std::vector<Board> found_;
  int sdi_ = kFirstSdi;
  bool answered_ = false;            // a board (not a remultiplexer) or an unknown answer
  bool controllerAnswered_ = false;  // the controller, for an address without a board
};

int scan(Invocation& inv) {
  QueryTarget t;
  try {
    t = usableTarget(inv.options());
  } catch (const SendError& e) {
    inv.json.print(false, e.message);
    throw;
  }
  RunLoop s(t, inv.capture());
  const auto timeoutMs = static_cast<int>(inv.options().number("--timeout-ms").value_or(1000));
  return inv.captured(ScanRun(s, timeoutMs, inv.json).run());
}

}  // namespace

const Command kScan{
    "scan",
    "  scan [--json]          list the boards on the controller's SDI bus: a Query to each\n"
    "                         address 1..15 in turn (--sdi is not used), one line per board\n"
    "                         that answers as a remultiplexer (address, device code, serial,\n"
    "                         version), or one JSON object {\"boards\": [...]}; each address\n"
    "                         waits --timeout-ms, so a scan takes up to 15 times that; exit 0\n"
    "                         when a remultiplexer answered, 3 when only other boards (or\n"
    "                         answers the Query does not know) came, 2 when no board answered\n"
    "                           tessaly-cli --device 10.123.13.101 --timeout-ms 200 scan\n",
    "scan [--json]", 0, {"--json"}, scan};

}  // namespace tessaly::cli
