#include "exporter/Probe.h"

#include <CivetServer.h>

#include <QMetaObject>
#include <algorithm>
#include <future>

#include <arpa/inet.h>

#include "exporter/Metrics.h"

namespace tessaly::exporter {

namespace {

double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A value as an error message may quote it: printable ASCII, at most 64 characters.
std::string quoted(const std::string& v) {
  std::string s;
  for (const char c : v.substr(0, 64)) s += (c >= 0x20 && c < 0x7F) ? c : '?';
  if (v.size() > 64) s += "...";
  return "'" + s + "'";
}

}  // namespace

std::optional<HostPort> parseHostPort(const std::string& s, int minPort) {
  const auto colon = s.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  HostPort h{s.substr(0, colon), 0};
  in_addr a{};
  // A NUL (%00 in a query string) would end the address inet_pton reads, the rest
  // going on into the controller's key and label.
  if (h.address.find('\0') != std::string::npos || inet_pton(AF_INET, h.address.c_str(), &a) != 1)
    return std::nullopt;
  const std::string p = s.substr(colon + 1);
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  h.port = std::stoi(p);
  if (h.port < minPort || h.port > 65535) return std::nullopt;
  return h;
}

std::optional<ProbeQuery> parseProbeQuery(const char* queryString, std::string& error) {
  std::map<std::string, std::string> given;
  const std::string q = queryString != nullptr ? queryString : "";
  std::size_t at = 0;
  while (at <= q.size()) {
    const std::size_t end = std::min(q.find('&', at), q.size());
    const std::string piece = q.substr(at, end - at);
    at = end + 1;
    if (piece.empty()) continue;
    const std::size_t eq = piece.find('=');
    std::string key, value;
    CivetServer::urlDecode(piece.substr(0, eq), key);
    if (eq != std::string::npos) CivetServer::urlDecode(piece.substr(eq + 1), value);
    if (key != "target" && key != "sdi" && key != "framing") {
      error = "unknown parameter " + quoted(key) + "; /probe takes target, sdi and framing";
      return std::nullopt;
    }
    if (!given.emplace(key, value).second) {
      error = "parameter '" + key + "' is given twice";
      return std::nullopt;
    }
  }
  for (const char* key : {"target", "sdi"})
    if (given.count(key) == 0) {
      error = std::string("missing parameter '") + key + "'; /probe wants target=HOST:PORT&sdi=N";
      return std::nullopt;
    }
  ProbeQuery p;
  const auto target = parseHostPort(given["target"], 1);
  if (!target) {
    error = "target wants HOST:PORT, an IPv4 address and a port 1..65535 such as 10.123.13.101:56789, not " +
            quoted(given["target"]);
    return std::nullopt;
  }
  p.target = *target;
  const std::string& sdi = given["sdi"];
  if (sdi.empty() || sdi.size() > 2 || sdi.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(sdi) < 1 || std::stoi(sdi) > 15) {
    error = "sdi wants an SDI address 1..15, not " + quoted(sdi);
    return std::nullopt;
  }
  p.sdi = std::stoi(sdi);
  if (given.count("framing") != 0) {
    const std::string& f = given["framing"];
    if (f == "ddtoip") p.framing = Framing::DDToIP;
    else if (f == "cw-net") p.framing = Framing::CwNet;
    else {
      error = "framing wants ddtoip or cw-net, not " + quoted(f);
      return std::nullopt;
    }
  }
  return p;
}

struct ProbeDesk::Pending {
  ProbeQuery query;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::promise<HttpReply> reply;
};

ProbeDesk::ProbeDesk(const std::vector<ControllerPoller*>& configured, int timeoutMs) : timeoutMs_(timeoutMs) {
  for (ControllerPoller* p : configured) configured_[p->labels().at("controller")] = p;
}

ProbeDesk::~ProbeDesk() = default;

HttpReply ProbeDesk::probe(const ProbeQuery& q, std::chrono::milliseconds bound) {
  auto p = std::make_shared<Pending>();
  p->query = q;
  std::future<HttpReply> reply = p->reply.get_future();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return {503, "the exporter is stopping\n", false};
    if (pending_.size() >= kMaxWaiting) return {503, "too many probes waiting at once; try again later\n", false};
    pending_.insert(p);
  }
  QMetaObject::invokeMethod(&loop_, [this, p] { run(p); }, Qt::QueuedConnection);
  if (reply.wait_for(bound) == std::future_status::ready) return reply.get();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Answered just now after all.
    if (pending_.erase(p) == 0) return reply.get();
  }
  // Out of time (the controller was busy): a failed probe, and it will not be asked.
  Metrics m(Metrics::Scope::Probe);
  m.probed(false, since(p->start));
  return {200, m.text(), true};
}

void ProbeDesk::stop() {
  const std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  for (const auto& p : pending_) p->reply.set_value({503, "the exporter is stopping\n", false});
  pending_.clear();
}

bool ProbeDesk::waiting(const std::shared_ptr<Pending>& p) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return pending_.count(p) != 0;
}

void ProbeDesk::finish(const std::shared_ptr<Pending>& p, HttpReply r) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.erase(p) != 0) p->reply.set_value(std::move(r));
}

ControllerPoller* ProbeDesk::pollerFor(const HostPort& target) {
  const std::string key = target.address + ":" + std::to_string(target.port);
  if (const auto c = configured_.find(key); c != configured_.end()) return c->second;
  auto o = others_.find(key);
  if (o == others_.end()) {
    if (others_.size() >= kMaxOtherTargets) {
      // The target probed longest ago gives up its session, unless all are busy.
      auto oldest = others_.end();
      for (auto i = others_.begin(); i != others_.end(); ++i)
        if (i->second.poller->idle() && (oldest == others_.end() || i->second.used < oldest->second.used)) oldest = i;
      if (oldest == others_.end()) return nullptr;
      others_.erase(oldest);
    }
    ControllerConfig c;
    c.address = target.address;
    c.port = target.port;
    o = others_.emplace(key, Other{std::make_unique<ControllerPoller>(c, timeoutMs_, nullptr), {}}).first;
  }
  o->second.used = std::chrono::steady_clock::now();
  return o->second.poller.get();
}

void ProbeDesk::run(const std::shared_ptr<Pending>& p) {
  if (!waiting(p)) return;
  ControllerPoller* poller = pollerFor(p->query.target);
  if (poller == nullptr) {
    finish(p, {503, "too many probe targets at once; try again later\n", false});
    return;
  }
  ControllerPoller::Probe job;
  job.sdi = p->query.sdi;
  job.framing = p->query.framing.value_or(poller->framing());
  job.wanted = [this, p] { return waiting(p); };
  prometheus::Labels labels = poller->labels();
  labels["sdi"] = std::to_string(p->query.sdi);
  job.done = [this, p, labels](const QueryOutcome& o, const tZODADevice& d, double seconds) {
    Metrics m(Metrics::Scope::Probe);
    m.polled(labels, o.kind, o.deviceCode, d, seconds);
    m.probed(o.kind == QueryKind::Ok, since(p->start));
    finish(p, {200, m.text(), true});
  };
  poller->probe(std::move(job));
}

}  // namespace tessaly::exporter
