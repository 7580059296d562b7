// tessaly-exporter: polls the boards on the configured controllers and serves their
// status as Prometheus metrics on /metrics and one board at a time on /probe, or
// prints one round of them (--once).
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"
#include "exporter/Config.h"
#include "exporter/HttpServer.h"
#include "exporter/Metrics.h"
#include "exporter/Poller.h"
#include "exporter/Probe.h"
#include "link/qt/StopSignal.h"

using namespace tessaly;
using namespace tessaly::exporter;

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:9821";

int fail(const std::string& message) {
  std::cerr << "tessaly-exporter: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // One malloc arena: the HTTP server's threads would each get one of their own, and
  // the megabytes a scrape needs for a moment would stay resident in every one.
  mallopt(M_ARENA_MAX, 1);
  // A reader of --once's output that goes away, or a scraper that hangs up, is an
  // error to report, never the end of the program.
  tessaly::ignoreWriteSignals();
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("tessaly-exporter");
  QCoreApplication::setApplicationVersion(TESSALY_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Prometheus exporter for Tessaly Panel: polls the ASI remultiplexer boards on the configured controllers\n"
      "one at a time per controller, the controllers side by side, and serves the latest status of each\n"
      "board on http://ADDR:PORT/metrics, and one board queried now on\n"
      "http://ADDR:PORT/probe?target=HOST:PORT&sdi=N[&framing=ddtoip|cw-net].");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption config("config", "The configuration file (YAML): interval, timeout, rescan and the controllers with their boards.", "FILE");
  const QCommandLineOption listen("listen", QString("Address and port of the HTTP server (default %1; port 0 picks a free one).").arg(kDefaultListen), "ADDR:PORT", kDefaultListen);
  const QCommandLineOption once("once", "Poll every board once, print the metrics to standard output and exit (0 when the polls could be made).");
  parser.addOptions({config, listen, once});
  parser.process(app);
  if (!parser.positionalArguments().isEmpty())
    return fail("unexpected argument '" + parser.positionalArguments().front().toStdString() + "'; see --help");
  if (!parser.isSet(config)) return fail("--config FILE is required; see --help");
  const auto where = parseHostPort(parser.value(listen).toStdString(), 0);
  if (!where) return fail("--listen wants ADDR:PORT, an IPv4 address and a port, e.g. 127.0.0.1:9821");

  Config cfg;
  try {
    cfg = loadConfig(parser.value(config).toStdString());
  } catch (const ConfigError& e) {
    std::cerr << "tessaly-exporter: " << e.what() << "\n";
    return 1;
  }

  Metrics metrics;
  const int timeoutMs = std::max(1, static_cast<int>(cfg.timeoutSeconds * 1000));
  std::vector<std::unique_ptr<ControllerPoller>> pollers;
  for (const ControllerConfig& c : cfg.controllers)
    pollers.push_back(std::make_unique<ControllerPoller>(c, timeoutMs, &metrics));

  if (parser.isSet(once)) {
    std::size_t running = pollers.size();
    for (auto& p : pollers)
      p->startCycle([&] {
        if (--running == 0) QCoreApplication::quit();
      });
    app.exec();
    long sent = 0;
    for (auto& p : pollers) sent += p->sentPolls();
    std::cout << metrics.text() << std::flush;
    // A full disk under the textfile collector's file: not a success to rename over it.
    if (!std::cout) return fail("cannot write the metrics to standard output");
    if (sent == 0) {
      std::cerr << "tessaly-exporter: no poll could be sent\n";
      return 2;
    }
    return 0;
  }

  // SIGINT and SIGTERM: waiting probes are answered, the server stops, the Query on
  // its way is abandoned, and the exporter exits 0.
  catchStopSignals(InterruptedCalls::Restart);
  const int stopFd = stopSignalFd();
  std::vector<ControllerPoller*> configured;
  for (auto& p : pollers) configured.push_back(p.get());
  ProbeDesk desk(configured, timeoutMs);
  std::unique_ptr<HttpServer> server;
  try {
    server = std::make_unique<HttpServer>(*where, metrics.registry(), desk);
  } catch (const std::exception& e) {
    return fail("cannot listen on " + parser.value(listen).toStdString() + ": " + e.what());
  }
  std::cerr << "tessaly-exporter listening on " << where->address << ":" << server->port() << std::endl;
  std::unique_ptr<QSocketNotifier> stop;
  if (stopFd >= 0) {
    stop = std::make_unique<QSocketNotifier>(stopFd, QSocketNotifier::Read);
    QObject::connect(stop.get(), &QSocketNotifier::activated, &app, [&] {
      stop->setEnabled(false);
      desk.stop();
      QCoreApplication::quit();
    });
  }

  // Each controller starts its next round an interval after the last one started, or
  // at once when the round took longer.
  const auto intervalMs = static_cast<long>(cfg.intervalSeconds * 1000);
  std::function<void(ControllerPoller*)> cycle = [&](ControllerPoller* p) {
    const auto start = std::chrono::steady_clock::now();
    p->startCycle([&, p, start] {
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      QTimer::singleShot(static_cast<int>(std::max(0L, intervalMs - static_cast<long>(took))), &app, [&, p] { cycle(p); });
    });
  };
  for (auto& p : pollers) {
    cycle(p.get());
    p->startRescans(cfg.rescanSeconds);
  }
  app.exec();
  server->close();
  return 0;
}
