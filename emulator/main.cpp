// tessaly-emulator: the Ethernet controller, the remultiplexer board on its SDI and
// the board's direct port, on a UDP socket. Listens on 127.0.0.1:56789 unless told
// otherwise; stops cleanly on SIGINT or SIGTERM, at once also while a capture's
// reader takes nothing. A reader that went away or the file-size limit are write
// errors, never the end of it.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <cstdio>
#include <string>

#include "EmulatorServer.h"
#include "capture/CaptureFile.h"
#include "link/qt/StopSignal.h"
#include "model/Options.h"

using namespace tessaly::emu;

namespace {

int fail(const QString& text) {
  std::fprintf(stderr, "tessaly-emulator: %s\n", text.toLocal8Bit().constData());
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  tessaly::ignoreWriteSignals();
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("tessaly-emulator");
  QCoreApplication::setApplicationVersion(TESSALY_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Board emulator for Tessaly Panel: answers as the Ethernet controller (DDToIP and CW-Net framings)\n"
      "and the ASI remultiplexer board on its SDI do, and as the board's direct port used by the\n"
      "manufacturer test. Point the panel's device IP and device port at the address it listens on.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption listen("listen", "Address and port to listen on (default 127.0.0.1:56789; port 0 picks a free one).", "ADDR:PORT", "127.0.0.1:56789");
  const QCommandLineOption sdi("sdi-address", "The board's SDI address, 1..15 (default 1); a list or ranges such as 1,3,5-7 puts one board at each, serials counting up from the first.", "LIST", "1");
  const QCommandLineOption code("device-code", "Device code the board reports, hexadecimal (default 1A).", "HEX", "1A");
  const QCommandLineOption noDevice("no-device", "The controller answers, but no board sits on the SDI.");
  const QCommandLineOption erase("erase-ms", "How long an erase keeps the busy flags set, ms (default 3000). Writes to a busy flash are refused.", "N", "3000");
  const QCommandLineOption irq("irq-ms", "Delay of the interrupt notice after a load, ms (default 2).", "N", "2");
  const QCommandLineOption drop("drop", "Probability that an answer is not sent (0..1).", "P", "0");
  const QCommandLineOption duplicate("duplicate", "Probability that an answer is sent twice (0..1).", "P", "0");
  const QCommandLineOption corrupt("corrupt", "Probability that an answer is damaged: a flipped bit, a cut-off end or trailing bytes (0..1).", "P", "0");
  const QCommandLineOption delay("delay", "Extra delay of every answer, ms, fixed or drawn from MIN-MAX.", "MIN[-MAX]", "0");
  const QCommandLineOption delayQueue("delay-queue", "Most delayed answers held at once (default 10000); beyond it the oldest is dropped and counted.", "N", "10000");
  const QCommandLineOption seed("seed", "Seed of every random choice (live figures and faults); the same seed repeats a run.", "N");
  const QCommandLineOption verbose("verbose", "Print one decoded line per datagram in and out.");
  const QCommandLineOption capture("capture", "Write every datagram in and out to FILE as it flows, a capture file for Wireshark (pcap).", "FILE");
  parser.addOptions({listen, sdi, code, noDevice, erase, irq, drop, duplicate, corrupt, delay, delayQueue, seed, verbose, capture});
  parser.process(app);

  EmulatorOptions o;
  const auto where = parseListen(parser.value(listen).toStdString());
  if (!where) return fail("--listen wants ADDR:PORT, an IPv4 address and a port, e.g. 127.0.0.1:56789");
  const auto sdiValue = parseSdiAddresses(parser.value(sdi).toStdString());
  if (!sdiValue) return fail("--sdi-address wants 1..15, or a list of them and ranges such as 1,3,5-7, none twice");
  o.sdiAddress = sdiValue->front();
  if (sdiValue->size() > 1) o.sdiAddresses = *sdiValue;
  const auto codeValue = parseHexByte(parser.value(code).toStdString());
  if (!codeValue) return fail("--device-code wants a hexadecimal byte, e.g. 1A");
  o.deviceCode = *codeValue;
  o.noDevice = parser.isSet(noDevice);
  const auto eraseValue = parseCount(parser.value(erase).toStdString(), 0, 3600000);
  if (!eraseValue) return fail("--erase-ms wants 0..3600000");
  o.eraseMs = *eraseValue;
  const auto irqValue = parseCount(parser.value(irq).toStdString(), 0, 600000);
  if (!irqValue) return fail("--irq-ms wants 0..600000");
  o.irqMs = *irqValue;
  const struct {
    const QCommandLineOption& option;
    double& target;
  } probabilities[] = {{drop, o.drop}, {duplicate, o.duplicate}, {corrupt, o.corrupt}};
  for (const auto& p : probabilities) {
    const auto v = parseProbability(parser.value(p.option).toStdString());
    if (!v) return fail("--" + p.option.names().front() + " wants a probability 0..1");
    p.target = *v;
  }
  const auto delayValue = parseDelay(parser.value(delay).toStdString());
  if (!delayValue) return fail("--delay wants MIN or MIN-MAX in ms (MIN <= MAX <= 600000)");
  o.delayMinMs = delayValue->first;
  o.delayMaxMs = delayValue->second;
  const auto queueValue = parseCount(parser.value(delayQueue).toStdString(), 1, 1000000);
  if (!queueValue) return fail("--delay-queue wants 1..1000000");
  o.delayQueueCap = *queueValue;
  if (parser.isSet(seed)) {
    const auto seedValue = parseSeed(parser.value(seed).toStdString());
    if (!seedValue) return fail("--seed wants a decimal number");
    o.seed = *seedValue;
  }

  tessaly::catchStopSignals(tessaly::InterruptedCalls::Restart);
  if (tessaly::stopSignalFd() < 0) return fail("cannot create the signal pipe");
  QSocketNotifier notifier(tessaly::stopSignalFd(), QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
    notifier.setEnabled(false);
    QCoreApplication::quit();
  });

  // Opened before the server: closed, with everything written, after it has gone.
  // A write error stops the capture with one line on standard error at once; the
  // emulator runs on and exits 2 at the end.
  tessaly::CaptureFile captureFile;
  if (parser.isSet(capture)) {
    std::string why;
    if (parser.value(capture).isEmpty() || !captureFile.open(parser.value(capture).toStdString(), &why))
      return fail("--capture: cannot write '" + parser.value(capture) + "'" +
                  (why.empty() ? QString() : ": " + QString::fromStdString(why)));
    const std::string path = parser.value(capture).toLocal8Bit().toStdString();
    captureFile.setFailureHandler([path](const std::string& why) {
      std::fprintf(stderr, "tessaly-emulator: --capture: '%s' stopped: %s\n", path.c_str(), why.c_str());
      std::fflush(stderr);
    });
  }

  EmulatorServer server(o, parser.isSet(verbose), stdout);
  if (captureFile.isOpen()) server.setTap(&captureFile);
  QString error;
  if (!server.listen(QHostAddress(QString::fromStdString(where->host)), where->port, &error))
    return fail("cannot listen on " + QString::fromStdString(where->host) + ":" + QString::number(where->port) +
                ": " + error);

  std::string addresses;
  for (std::uint8_t a : *sdiValue) addresses += (addresses.empty() ? "" : ",") + std::to_string(a);
  std::printf("tessaly-emulator listening on %s:%u (SDI address%s %s, device code h%02X%s, seed %llu)\n",
              where->host.c_str(), static_cast<unsigned>(server.port()), sdiValue->size() > 1 ? "es" : "",
              addresses.c_str(),
              static_cast<unsigned>(o.deviceCode), o.noDevice ? ", no device" : "",
              static_cast<unsigned long long>(server.emulator().seed()));
  std::fflush(stdout);

  int rc = app.exec();
  const auto& st = server.emulator().stats();
  if (parser.isSet(verbose) && server.queueDropped() > 0)
    std::printf("    (%llu delayed answer%s dropped: the delay queue was full)\n",
                static_cast<unsigned long long>(server.queueDropped()), server.queueDropped() > 1 ? "s" : "");
  std::printf("tessaly-emulator stopped: %llu datagrams received, %llu answers sent\n",
              static_cast<unsigned long long>(st.received), static_cast<unsigned long long>(server.sent()));
  if (captureFile.isOpen()) {
    // Stopped by a signal: a reader that takes nothing gets a few milliseconds, no more.
    if (!captureFile.close(std::chrono::milliseconds(50))) rc = 2;
    std::printf("    (capture: %llu packets written, %llu lost)\n", static_cast<unsigned long long>(captureFile.written()),
                static_cast<unsigned long long>(captureFile.lost()));
  }
  std::fflush(stdout);
  return rc;
}
