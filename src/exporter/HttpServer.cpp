#include "exporter/HttpServer.h"

#include <CivetServer.h>
#include <prometheus/text_serializer.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
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

// True when the client takes a gzip body (Prometheus always asks for one).
bool takesGzip(mg_connection* conn) {
  const char* h = mg_get_header(conn, "Accept-Encoding");
  if (h == nullptr) return false;
  const std::string accept(h);
  std::size_t at = 0;
  while (at < accept.size()) {
    const std::size_t end = std::min(accept.find(',', at), accept.size());
    std::string item = accept.substr(at, end - at);
    at = end + 1;
    item.erase(std::remove(item.begin(), item.end(), ' '), item.end());
    const std::size_t semi = item.find(';');
    if (item.substr(0, semi) != "gzip") continue;
    // "gzip;q=0" refuses it.
    if (semi == std::string::npos) return true;
    const std::string q = item.substr(semi + 1);
    return q.rfind("q=", 0) != 0 || std::strtod(q.c_str() + 2, nullptr) > 0;
  }
  return false;
}

// The body gzip-compressed; nothing when zlib cannot.
std::optional<std::string> gzipped(const std::string& body) {
  z_stream zs{};
  // The fastest level: a scrape of many boards is megabytes, each second.
  if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string out(deflateBound(&zs, static_cast<uLong>(body.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  zs.avail_in = static_cast<uInt>(body.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (r != Z_STREAM_END) return std::nullopt;
  return out;
}

void send(mg_connection* conn, const HttpReply& r) {
  std::optional<std::string> packed;
  if (r.exposition && takesGzip(conn)) packed = gzipped(r.body);
  const std::string& body = packed ? *packed : r.body;
  mg_printf(conn, "HTTP/1.1 %d %s\r\nContent-Type: %s\r\n%sContent-Length: %zu\r\nConnection: close\r\n\r\n",
            r.status, reasonPhrase(r.status), r.exposition ? kExpositionType : "text/plain; charset=utf-8",
            packed ? "Content-Encoding: gzip\r\n" : "", body.size());
  mg_write(conn, body.data(), body.size());
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
      // Probes wait for their boards (a silent one for the whole timeout) while
      // scrapes of /metrics go on: a thread for each request being answered, more
      // than the probes that may wait at once.
      "num_threads", std::to_string(ProbeDesk::kMaxWaiting + 8),
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
