#pragma once
// /probe: one board queried now, as the multi-target exporters do it. The query
// string is read here; the probe is handed from the HTTP server's thread to the
// event loop, waits its turn on the controller's session (a configured controller's
// own, or one kept per probed target, a bounded number of them) and comes back as
// the board's metrics in a registry of its own, with tessaly_probe_success.
#include <QObject>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "exporter/Poller.h"
#include "link/Framing.h"

namespace tessaly::exporter {

struct HostPort {
  std::string address;  // an IPv4 address
  int port = 0;
};
// "ADDR:PORT" with an IPv4 address and a port minPort..65535.
std::optional<HostPort> parseHostPort(const std::string& s, int minPort);

struct ProbeQuery {
  HostPort target;
  int sdi = 1;
  // When not given: the configured controller's framing, DDToIP for another target.
  std::optional<Framing> framing;
};
// The query string of /probe (target=HOST:PORT&sdi=N[&framing=ddtoip|cw-net], URL
// encoded); nothing, and `error` saying why, when it is not one.
std::optional<ProbeQuery> parseProbeQuery(const char* queryString, std::string& error);

struct HttpReply {
  int status = 200;
  std::string body;
  bool exposition = false;  // the body is in the text exposition format, else plain text
};

class ProbeDesk {
 public:
  // At most this many targets that are not configured controllers keep a session.
  static constexpr std::size_t kMaxOtherTargets = 16;
  // At most this many probes wait at once, each holding an HTTP server thread; more
  // are refused at once, so that threads stay free for /metrics and quick answers.
  static constexpr std::size_t kMaxWaiting = 56;

  // `configured` (outliving the desk) are the pollers of the configured controllers;
  // a probe of another target gets a session of its own with `timeoutMs`.
  ProbeDesk(const std::vector<ControllerPoller*>& configured, int timeoutMs);
  ~ProbeDesk();
  ProbeDesk(const ProbeDesk&) = delete;
  ProbeDesk& operator=(const ProbeDesk&) = delete;

  // On an HTTP server's thread: the probe handed to the event loop and waited for at
  // most `bound`; past it, the probe counts as failed.
  HttpReply probe(const ProbeQuery& q, std::chrono::milliseconds bound);
  // On the event loop's thread, before the HTTP server stops: every probe still
  // waiting is answered at once (503) and later ones are refused.
  void stop();

 private:
  struct Pending;
  void run(const std::shared_ptr<Pending>& p);
  ControllerPoller* pollerFor(const HostPort& target);
  bool waiting(const std::shared_ptr<Pending>& p);
  void finish(const std::shared_ptr<Pending>& p, HttpReply r);

  std::map<std::string, ControllerPoller*> configured_;
  struct Other {
    std::unique_ptr<ControllerPoller> poller;
    std::chrono::steady_clock::time_point used;
  };
  std::map<std::string, Other> others_;
  int timeoutMs_;
  QObject loop_;  // runs the hand-overs on the event loop's thread
  std::mutex mutex_;
  bool stopping_ = false;
  std::set<std::shared_ptr<Pending>> pending_;
};

}  // namespace tessaly::exporter
