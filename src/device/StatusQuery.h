#pragma once
// The device query without a window: registers the codes 40..43 with the engine,
// sends the read request in the framing of the moment and tells one listener how it
// went, as a QueryOutcome. An answer is reported as the answer of the target the
// request went to; a status answer from a board at another SDI address is dropped
// before the engine.
#include <cstdint>
#include <functional>
#include <string>

#include "link/Engine.h"
#include "link/Framing.h"
#include "status/StatusReport.h"

namespace tessaly {

// The device query's codes: waiting for the status answer, answer received, one
// pair per framing.
namespace state {
constexpr std::uint8_t QueryCwNetWait = 40, QueryCwNetGot = 41;
constexpr std::uint8_t QueryDDToIPWait = 42, QueryDDToIPGot = 43;
}  // namespace state

constexpr int kQueryReplyTimeoutMs = 1000;

// Where and how the request goes.
struct QueryTarget {
  Framing framing = Framing::CwNet;
  std::uint8_t sdiAddress = 1;
  std::string deviceIp;  // an address or a host name
  int devicePort = 0;
  int hostPort = 0;
};

class StatusQueryListener {
 public:
  virtual ~StatusQueryListener() = default;
  virtual void queryStarted() {}
  // The request is out, to `sentTo`.
  virtual void querySent(const QueryTarget& /*sentTo*/) {}
  // How it ended: an answer (evaluated), a time-out or a failed send.
  virtual void queryEnded(const QueryOutcome& /*o*/) {}
};

class StatusQuery {
 public:
  StatusQuery(TransactionEngine& engine, StatusQueryListener& listener, int timeoutMs = kQueryReplyTimeoutMs);
  StatusQuery(const StatusQuery&) = delete;
  StatusQuery& operator=(const StatusQuery&) = delete;
  // querySent follows once the request has left; queryEnded with SendFailed when it
  // cannot go out. False when the send failed at once.
  bool start(const QueryTarget& target);
  void setTimeoutMs(int ms) { timeoutMs_ = ms; }

 private:
  void answered(Framing framing);
  void ended(QueryKind kind);

  TransactionEngine& engine_;
  StatusQueryListener& listener_;
  int timeoutMs_;
  QueryTarget sent_;  // where the last request went
};

}  // namespace tessaly
