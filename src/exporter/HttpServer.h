#pragma once
// The exporter's HTTP server (civetweb, its own threads): /metrics serves the
// registry the pollers write, as it is now, never waiting for a board; /probe hands
// one board's query to the probe desk and waits for it within the scrape's time.
#include <prometheus/registry.h>

#include <memory>
#include <string>

#include "exporter/Probe.h"

class CivetServer;

namespace tessaly::exporter {

class HttpServer {
 public:
  // Listens on ADDR:PORT (port 0: a free one); throws std::runtime_error when it cannot.
  HttpServer(const HostPort& listen, std::shared_ptr<prometheus::Registry> registry, ProbeDesk& desk);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The port it listens on.
  int port() const { return port_; }
  // Stops listening; returns once the requests being answered have ended.
  void close();

 private:
  class MetricsHandler;
  class ProbeHandler;
  std::unique_ptr<MetricsHandler> metrics_;
  std::unique_ptr<ProbeHandler> probe_;
  std::unique_ptr<CivetServer> server_;
  int port_ = 0;
};

}  // namespace tessaly::exporter
