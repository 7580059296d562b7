#include "exporter/HttpServer.h"

#include <CivetServer.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace tessaly::exporter {

namespace {

constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";
// Without the scraper's own limit, Prometheus's default scrape timeout (10 s), less
// a margin for the answer to reach it.
constexpr double kDefaultScrapeSeconds = 10;
constexpr double kScrapeMarginSeconds = 0.5;
constexpr double kLongestProbeSeconds = 60;

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 503: return "Service Unavailable";
  }
  return "Error";
}

void send(mg_connection* conn, const HttpReply& r) {
  mg_printf(conn, "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n", r.status,
            reasonPhrase(r.status), r.exposition ? kExpositionType : "text/plain; charset=utf-8", r.body.size());
  mg_write(conn, r.body.data(), r.body.size());
}

// How long a probe may take: the scraper's own timeout when it says it, less a margin.
std::chrono::milliseconds probeBound(mg_connection* conn) {
  double seconds = kDefaultScrapeSeconds;
  if (const char* h = mg_get_header(conn, "X-Prometheus-Scrape-Timeout-Seconds")) {
    char* end = nullptr;
    const double v = std::strtod(h, &end);
    if (end != h && std::isfinite(v) && v > 0) seconds = v;
  }
  seconds = std::clamp(seconds - kScrapeMarginSeconds, 0.1, kLongestProbeSeconds);
  return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

// civetweb's first complaint (why it cannot listen, say), for the error it ends in.
std::mutex complaintMutex;
std::string complaint;
int keepComplaint(const mg_connection*, const char* message) {
  const std::lock_guard<std::mutex> lock(complaintMutex);
  if (complaint.empty() && message != nullptr) complaint = message;
  return 1;
}

}  // namespace

class HttpServer::MetricsHandler : public CivetHandler {
 public:
  explicit MetricsHandler(std::shared_ptr<prometheus::Registry> r) : registry_(std::move(r)) {}
  bool handleGet(CivetServer*, mg_connection* conn) override {
    send(conn, {200, prometheus::TextSerializer().Serialize(registry_->Collect()), true});
    return true;
  }

 private:
  std::shared_ptr<prometheus::Registry> registry_;
};

class HttpServer::ProbeHandler : public CivetHandler {
 public:
  explicit ProbeHandler(ProbeDesk& desk) : desk_(desk) {}
  bool handleGet(CivetServer*, mg_connection* conn) override {
    std::string error;
    const auto q = parseProbeQuery(mg_get_request_info(conn)->query_string, error);
    send(conn, q ? desk_.probe(*q, probeBound(conn)) : HttpReply{400, error + "\n", false});
    return true;
  }

 private:
  ProbeDesk& desk_;
};

HttpServer::HttpServer(const HostPort& listen, std::shared_ptr<prometheus::Registry> registry, ProbeDesk& desk)
    : metrics_(std::make_unique<MetricsHandler>(std::move(registry))), probe_(std::make_unique<ProbeHandler>(desk)) {
  const std::vector<std::string> options = {
      "listening_ports", listen.address + ":" + std::to_string(listen.port),
      // A few probes may wait for their boards while scrapes of /metrics go on.
      "num_threads", "8",
      // A client that sends its request slowly is let go.
      "request_timeout_ms", "10000"};
  CivetCallbacks callbacks;
  callbacks.log_message = keepComplaint;
  try {
    server_ = std::make_unique<CivetServer>(options, &callbacks);
  } catch (const CivetException& e) {
    const std::lock_guard<std::mutex> lock(complaintMutex);
    throw std::runtime_error(complaint.empty() ? e.what() : complaint);
  }
  // Exactly these paths; anything else is not found.
  server_->addHandler("/metrics$", metrics_.get());
  server_->addHandler("/probe$", probe_.get());
  const std::vector<int> ports = server_->getListeningPorts();
  port_ = ports.empty() ? listen.port : ports.front();
}

HttpServer::~HttpServer() { close(); }

void HttpServer::close() {
  if (server_) server_->close();
}

}  // namespace tessaly::exporter
