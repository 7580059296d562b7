#pragma once
// The device query without a window: registers the codes 40..43 with the engine,
// sends the read request in the framing of the moment and tells one listener how it
// went. An answer is reported as the answer of the target the request went to; a
// status answer from a board at another SDI address is dropped before the engine.
// The panel fans the events out to its pages; the command-line client prints them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Engine.h"
#include "link/Framing.h"
#include "status/StatusReport.h"

namespace tessaly {

constexpr int kQueryReplyTimeoutMs = 1000;

// Where and how the request goes, read at every start.
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
  // The lines of the Main page's memo once the request is out.
  virtual void querySent(const std::vector<std::string>& /*memoLines*/) {}
  virtual void querySendFailed() {}
  virtual void queryTimedOut() {}
  // The answer, evaluated. When o.decode is set the status block starts at
  // o.answerBase in the engine's receive buffer.
  virtual void queryAnswered(const QueryOutcome& /*o*/) {}
};

class StatusQuery {
 public:
  StatusQuery(TransactionEngine& engine, std::function<QueryTarget()> target, StatusQueryListener& listener,
              int timeoutMs = kQueryReplyTimeoutMs);
  StatusQuery(const StatusQuery&) = delete;
  StatusQuery& operator=(const StatusQuery&) = delete;
  // querySent follows once the request has left; querySendFailed when it cannot go
  // out. False when the send failed at once.
  bool start();

 private:
  void answered(Framing framing);

  TransactionEngine& engine_;
  std::function<QueryTarget()> target_;
  StatusQueryListener& listener_;
  int timeoutMs_;
  QueryTarget sent_;  // where the last request went
};

}  // namespace tessaly
