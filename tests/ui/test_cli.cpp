// tessaly-cli end to end: the program run as a process against tessaly-emulator on
// 127.0.0.1, in an empty working directory of its own. Every run names the device
// 127.0.0.1 (or a Settings.ini that does). Skipped when either program is missing.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QXmlStreamReader>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <tuple>
#include <unistd.h>

#include "helpers/CaptureReader.h"
#include "helpers/Emulator.h"
#include "helpers/ProfileTexts.h"
#include "helpers/UiHarness.h"

using uitest::EmulatorProcess;

namespace {

struct Run {
  int exitCode = -1;
  QStringList out;
  QStringList err;
};

QString cliProgram() { return QStringLiteral(TESSALY_CLI_PATH); }

// Runs the client in `dir` with `args`; the link options come first when given.
// With `fileSizeLimit` >= 0 it runs under that limit on the files it writes.
Run runCli(const QString& dir, const QStringList& args, int finishMs = 15000, long fileSizeLimit = -1) {
  QProcess p;
  p.setWorkingDirectory(dir);
  if (fileSizeLimit >= 0)
    p.setChildProcessModifier([fileSizeLimit] {
      const rlimit l{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &l);
    });
  p.start(cliProgram(), args);
  Run r;
  if (!p.waitForStarted(5000) || !p.waitForFinished(finishMs)) {
    p.kill();
    p.waitForFinished(3000);
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  r.err = QString::fromLocal8Bit(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
  return r;
}

QStringList loopback(int devicePort) {
  return {"--device", "127.0.0.1", "--device-port", QString::number(devicePort), "--host-port", "0"};
}

// True when `actual` holds everything `expected` names: objects key by key (a null
// in `expected` asks that the key be absent), arrays element by element and of
// the same length, other values equal. `where` names the first difference.
bool holds(const QJsonValue& actual, const QJsonValue& expected, QString* where, const QString& path = "$") {
  if (expected.isObject()) {
    const QJsonObject e = expected.toObject(), a = actual.toObject();
    if (!actual.isObject()) return (*where = path + ": not an object"), false;
    for (auto i = e.begin(); i != e.end(); ++i) {
      if (i.value().isNull()) {
        if (a.contains(i.key())) return (*where = path + "." + i.key() + ": present"), false;
      } else if (!holds(a.value(i.key()), i.value(), where, path + "." + i.key())) {
        return false;
      }
    }
    return true;
  }
  if (expected.isArray()) {
    const QJsonArray e = expected.toArray(), a = actual.toArray();
    if (!actual.isArray() || a.size() != e.size())
      return (*where = path + QString(": %1 elements, want %2").arg(a.size()).arg(e.size())), false;
    for (qsizetype k = 0; k < e.size(); ++k)
      if (!holds(a[k], e[k], where, path + QString("[%1]").arg(k))) return false;
    return true;
  }
  if (actual == expected) return true;
  *where = path + ": " + QString::fromUtf8(QJsonDocument(QJsonArray{actual}).toJson(QJsonDocument::Compact)) + ", want " +
           QString::fromUtf8(QJsonDocument(QJsonArray{expected}).toJson(QJsonDocument::Compact));
  return false;
}

// The number after `prefix` on the first line that starts with it.
QString valueAfter(const QStringList& lines, const QString& prefix) {
  for (const QString& l : lines)
    if (l.startsWith(prefix)) return l.mid(prefix.size()).section(' ', 0, 0);
  return {};
}


// A profile of what the status block holds (every input, four sectors, a PLL clock).
QString statusProfile(const QString& change = {}) {
  QString p =
      "profile: 1\n" + QString(kStatusInputsYaml) +
      "output: {format: 204, clock: pll, priority: high, pll_hz: 3000000}\n"
      "sdram_sectors:\n"
      "  1: {enabled: true, start: 0, end: 4095}\n"
      "  2: {enabled: true, start: 4096, end: 8191}\n"
      "  7: {enabled: true, start: 8192, end: 9000}\n"
      "  12: {enabled: false, start: 9001, end: 9001}\n"
      "pcr_corrector: {mode: direct, test_pid: 1000}\n";
  // "key: old => key: new" replaces one line's text.
  if (!change.isEmpty()) p.replace(change.section(" => ", 0, 0), change.section(" => ", 1));
  return p;
}

// A PSI record's 204-byte packet in hex.
QString psiPacket(int pid) {
  QString hex = QString("47%1%2").arg(0x40 | (pid >> 8), 2, 16, QChar('0')).arg(pid & 0xFF, 2, 16, QChar('0')) + "10";
  for (int k = 4; k < 204; ++k) hex += QString("%1").arg(k & 0xFF, 2, 16, QChar('0'));
  return hex;
}

QString readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("(cannot read %1)").arg(path);
}
}  // namespace

class CliTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (!QFileInfo(cliProgram()).isExecutable()) QSKIP("tessaly-cli is not built");
  }

  // Each command against a fresh emulator: exit code, lines on standard output (in
  // order, among others), and the one line on standard error when it fails.
  void commandsAgainstTheEmulator_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("emulatorArgs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outLines");
    QTest::addColumn<QString>("errLine");
    const QStringList none;
    QTest::newRow("query CW-Net") << QStringList{"query"} << none << 0
                                  << QStringList{"CW-Net Data received.", "Controller IP: 127.0.0.1", "SDI Address: 1",
                                                 "Version: v2.07", "Type: 4852", "Serial: 20417", " Test PID: 0"}
                                  << QString();
    QTest::newRow("query DDToIP") << QStringList{"--framing", "ddtoip", "query"} << none << 0
                                  << QStringList{"DDToIP SDI Answer received.", "SDI Address: 1", "Serial: 20417"}
                                  << QString();
    QTest::newRow("query, SDI address 2 selected") << QStringList{"--sdi", "2", "--framing", "ddtoip", "query"}
                                                   << QStringList{"--sdi-address", "2"} << 0
                                                   << QStringList{"SDI Address: 2", "Address: 2 "} << QString();
    QTest::newRow("query, no device") << QStringList{"query"} << QStringList{"--no-device"} << 3
                                      << QStringList{"CW-Net Data received.", "There is no device connected to the SDI."}
                                      << "There is no device connected to the SDI.";
    QTest::newRow("query, not a remultiplexer")
        << QStringList{"--framing", "ddtoip", "query"} << QStringList{"--device-code", "1B"} << 3
        << QStringList{"There is no ASI Remultiplexer connected to the SDI."}
        << "There is no ASI Remultiplexer connected to the SDI.";
    QTest::newRow("query, no answer") << QStringList{"query"} << QStringList{"--drop", "1"} << 2 << QStringList{}
                                      << "No answer received (in 1s).";
    QTest::newRow("query --json, no device") << QStringList{"query", "--json"} << QStringList{"--no-device"} << 3
                                             << QStringList{} << "There is no device connected to the SDI.";
    QTest::newRow("set-serial") << QStringList{"set-serial", "12345"} << none << 0 << QStringList{"SDI IRQ received."}
                                << QString();
    QTest::newRow("set-type DDToIP") << QStringList{"--framing", "ddtoip", "set-type", "65535"} << none << 0
                                     << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("reset") << QStringList{"reset"} << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("set-user-text") << QStringList{"set-user-text", "Line 7 board"} << none << 0
                                   << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("set-user-text after --") << QStringList{"set-user-text", "--", "-x-"} << none << 0
                                            << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("set-address") << QStringList{"set-address", "1"} << none << 0 << QStringList{"SDI IRQ received."}
                                 << QString();
    QTest::newRow("set-serial, no notice") << QStringList{"set-serial", "1"} << QStringList{"--drop", "1"} << 2
                                           << QStringList{} << "No SDI IRQ received (in 1s).";
    QTest::newRow("clock PLL") << QStringList{"clock", "--pll", "27000000", "--format", "204"} << none << 0
                               << QStringList{"PLL Info:", "Output Frequency: 27000000 Hz", "SDI IRQ received."}
                               << QString();
    QTest::newRow("clock NCO DDToIP") << QStringList{"--framing", "ddtoip", "clock", "--nco", "120", "--priority", "high"}
                                      << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("pid-filter general") << QStringList{"pid-filter", "general", "--enable", "1,2", "--tsp-filter", "none"}
                                        << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("pid-filter erase DDToIP") << QStringList{"--framing", "ddtoip", "pid-filter", "erase"} << none << 0
                                             << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("pid-filter write, no notice")
        << QStringList{"pid-filter", "write", "--input", "2", "--pid", "496", "--remap", "777"}
        << QStringList{"--drop", "1"} << 2 << QStringList{} << "No SDI IRQ received (in 1s).";
    // An erased filter reads back as hFFFF; the start PID is rounded down to a multiple of 8.
    QTest::newRow("pid-filter read") << QStringList{"pid-filter", "read", "--input", "6", "--pid", "8191"} << none << 0
                                     << QStringList{"Start PID: 8184", "SDI IRQ received.", "PID Filter Readback Data:",
                                                    " hFFFF hFFFF hFFFF hFFFF "}
                                     << QString();
    QTest::newRow("options as --name=value")
        << QStringList{"--framing=ddtoip", "--sdi=2", "pid-filter", "read", "--input=6", "--pid=8191"}
        << QStringList{"--sdi-address", "2"} << 0
        << QStringList{"Start PID: 8184", "SDI IRQ received.", "PID Filter Readback Data:"} << QString();
    QTest::newRow("pid-filter read, no device")
        << QStringList{"pid-filter", "read", "--input", "1", "--pid", "0"} << QStringList{"--no-device"} << 2
        << QStringList{"Start PID: 0"} << "No SDI IRQ received (in 1s).";
    QTest::newRow("psi read, not a remultiplexer")
        << QStringList{"--framing", "ddtoip", "psi", "read", "--address", "0"} << QStringList{"--device-code", "1B"} << 3
        << QStringList{"SDI IRQ received."} << "There is no ASI Remultiplexer connected to the SDI.";
    QTest::newRow("psi sector") << QStringList{"psi", "sector", "--sector", "4", "--start", "0", "--end", "131071",
                                               "--disabled"}
                                << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("psi erase") << QStringList{"psi", "erase"} << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("psi write") << QStringList{"psi", "write", "--pid", "100", "--address", "16", "--packet", "fix",
                                              "--fix", "255", "--auto-cc"}
                               << none << 0 << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("psi read") << QStringList{"psi", "read", "--address", "0"} << none << 0
                              << QStringList{"SDI IRQ received.", "PSI Inserter Readback Data:"} << QString();
    QTest::newRow("pcr-corrector mode") << QStringList{"pcr-corrector", "mode", "direct"} << none << 0
                                        << QStringList{"SDI IRQ received."} << QString();
    QTest::newRow("pcr-corrector test-pid, no notice") << QStringList{"pcr-corrector", "test-pid", "1000"}
                                                       << QStringList{"--drop", "1"} << 2 << QStringList{}
                                                       << "No SDI IRQ received (in 1s).";
    // A line starting with "^" is a pattern: the row's time, empty figures, the reason last.
    QTest::newRow("pcr-log, no device") << QStringList{"pcr-log", "--samples", "1"} << QStringList{"--no-device"} << 3
                                        << QStringList{"^\\S+Z,1,,,,,,,,,No device connected to the SDI\\.$"}
                                        << "No device connected to the SDI.";
    QTest::newRow("pcr-log, no answer") << QStringList{"pcr-log", "--samples", "1"} << QStringList{"--drop", "1"} << 2
                                        << QStringList{"^\\S+Z,1,,,,,,,,,SDI Answer not received!$"}
                                        << "SDI Answer not received!";
    QTest::newRow("mfg-test, no answer (a multicast group of 255s accepted)")
        << QStringList{"mfg-test", "--multicast", "239.255.255.255"} << QStringList{"--drop", "1"} << 2
        << QStringList{"Step 1/5: Set up NCOs and stream formats", "  Error: No ACK answer received (in 2s)."}
        << "Programming failed: Error: No ACK answer received (in 2s).";
    QTest::newRow("send: notice only, so no answer")
        << QStringList{"send", "--label", "Serial", "10:00003039"} << none << 2
        << QStringList{"Step 1. - Processing CW-Net Message", " IT1:    $10 $00 $04 $00 $00 $30 $39 ",
                       "Step 2. - Sending Message", " Destination IP: 127.0.0.1", "Step 3. - Waiting for answer"}
        << " No answer received (in 1s).";
    // Every other address gets the controller's "no device" answer at once.
    QTest::newRow("scan, a board at 3") << QStringList{"--timeout-ms", "100", "scan"} << QStringList{"--sdi-address", "3"}
                                        << 0 << QStringList{"SDI 3: device code 1A, serial 20417, version 2.07"}
                                        << QString();
    // Boards on one bus keep their own serials (in the order given): found in address order.
    QTest::newRow("scan, a bus of three boards")
        << QStringList{"--timeout-ms", "100", "scan"} << QStringList{"--sdi-address", "7-8,3"} << 0
        << QStringList{"SDI 3: device code 1A, serial 20419, version 2.07",
                       "SDI 7: device code 1A, serial 20417, version 2.07",
                       "SDI 8: device code 1A, serial 20418, version 2.07"}
        << QString();
    QTest::newRow("scan DDToIP, a board at 15")
        << QStringList{"--framing", "ddtoip", "--timeout-ms", "100", "scan"} << QStringList{"--sdi-address", "15"} << 0
        << QStringList{"SDI 15: device code 1A, serial 20417, version 2.07"} << QString();
    QTest::newRow("scan, no board") << QStringList{"--timeout-ms", "100", "scan"} << QStringList{"--no-device"} << 2
                                    << QStringList{} << "No board answered on SDI addresses 1..15 (the controller did).";
    QTest::newRow("scan, not a remultiplexer") << QStringList{"--timeout-ms", "100", "scan"}
                                               << QStringList{"--device-code", "1B"} << 3 << QStringList{}
                                               << "No remultiplexer answered on SDI addresses 1..15.";
    QTest::newRow("scan, no answer") << QStringList{"--timeout-ms", "50", "scan"} << QStringList{"--drop", "1"} << 2
                                     << QStringList{} << "No answer received on SDI addresses 1..15.";
    // No data: one byte 0, as the page sends an empty data edit.
    QTest::newRow("send: opcode alone") << QStringList{"send", "11"} << none << 2
                                        << QStringList{" IT1:    $11 $00 $01 $00 ", "Step 3. - Waiting for answer"}
                                        << " No answer received (in 1s).";
  }
  void commandsAgainstTheEmulator() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, emulatorArgs);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outLines);
    QFETCH(QString, errLine);
    EmulatorProcess emu;
    QVERIFY(emu.start(emulatorArgs));
    uitest::TempWorkDir dir;
    const Run r = runCli(dir.path(), loopback(emu.port()) + args);
    QCOMPARE(r.exitCode, exitCode);
    qsizetype at = 0;
    for (const QString& line : outLines) {
      const qsizetype found =
          line.startsWith('^') ? r.out.indexOf(QRegularExpression(line), at) : r.out.indexOf(line, at);
      if (found < 0) qWarning() << r.out;
      QVERIFY2(found >= 0, qPrintable(line));
      at = found + 1;
    }
    if (errLine.isEmpty()) {
      QCOMPARE(r.err, QStringList{});
    } else {
      QCOMPARE(r.err.value(0), errLine);
    }
    // The client only ever reads the settings file.
    QVERIFY(!QFileInfo::exists(dir.file("Settings.ini")));
  }

  // Three polls of the chart: a header and one line per sample, the same in the file.
  void pcrLogWritesCsv() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::TempWorkDir dir;
    const Run r = runCli(dir.path(), loopback(emu.port()) + QStringList{"pcr-log", "--samples", "3", "--csv", "pcr.csv"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QStringList{});
    QCOMPARE(r.out.size(), 4);
    QCOMPARE(r.out[0], QString("time,sample,slide,cor,base_error,base_error_ms,pcr_pids,new_pcr_pids,"
                               "pcr_discontinuities,large_pcr_errors,error"));
    QDateTime previous;
    for (int i = 1; i <= 3; ++i) {
      const QStringList cells = r.out[i].split(',');
      QCOMPARE(cells.size(), 11);
      // ISO 8601 in UTC with milliseconds, about a second apart.
      QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$").match(cells[0]).hasMatch(),
               qPrintable(cells[0]));
      const QDateTime at = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
      QVERIFY(at.isValid() && qAbs(at.msecsTo(QDateTime::currentDateTimeUtc())) < 60000);
      if (previous.isValid()) QVERIFY(previous.msecsTo(at) > 500 && previous.msecsTo(at) < 2000);
      previous = at;
      QCOMPARE(cells[1], QString::number(i));
      for (const QString& c : cells.mid(0, 10)) QVERIFY2(!c.isEmpty(), qPrintable(r.out[i]));
      QCOMPARE(cells[10], QString());
      QVERIFY(QRegularExpression("^-?\\d+\\.\\d{3}$").match(cells[5]).hasMatch());
    }
    QCOMPARE(dir.read("pcr.csv").split('\n', Qt::SkipEmptyParts), r.out);
  }

  // SIGINT and SIGTERM end any command at once with 128 + the signal, after it has
  // written what it has: the log's lines so far, a whole capture, the JUnit report
  // with the interrupted step as an error. A killed run leaves the earlier report.
  void signalsEndEveryCommand_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("emulatorArgs");
    QTest::addColumn<QString>("runningLine");  // the signal goes once a line matches this pattern whole
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");  // -2: killed
    QTest::newRow("query waiting 8 s, SIGINT") << QStringList{"--timeout-ms", "8000", "query"}
                                               << QStringList{"--drop", "1"} << QString() << SIGINT << 130;
    QTest::newRow("scan waiting 8 s per address, SIGTERM") << QStringList{"--timeout-ms", "8000", "scan", "--json"}
                                                          << QStringList{"--drop", "1"} << QString() << SIGTERM << 143;
    QTest::newRow("pcr-log until stopped, SIGINT")
        << QStringList{"pcr-log", "--samples", "0", "--csv", "pcr.csv", "--capture", "pcr.pcap"} << QStringList{}
        << "^\\S+Z,2,.*" << SIGINT << 130;
    QTest::newRow("pcr-log, SIGTERM") << QStringList{"pcr-log", "--samples", "100", "--csv", "pcr.csv"}
                                      << QStringList{} << "^\\S+Z,1,.*" << SIGTERM << 143;
    QTest::newRow("mfg-test erasing, SIGINT") << QStringList{"mfg-test", "--junit", "mfg.xml"}
                                              << QStringList{"--erase-ms", "60000"}
                                              << "^Step 2/5: .*" << SIGINT << 130;
    QTest::newRow("config export reading the PID filter, SIGINT")
        << QStringList{"config", "export", "--pid-filter", "all", "-o", "board.yaml"} << QStringList{} << QString()
        << SIGINT << 130;
    QTest::newRow("config diff of five silent boards, SIGTERM")
        << QStringList{"config", "diff", "p.yaml", "--boards", "b.txt"} << QStringList{"--sdi-address", "1-5", "--drop", "1"}
        << QString() << SIGTERM << 143;
    QTest::newRow("mfg-test erasing, SIGKILL") << QStringList{"mfg-test", "--junit", "mfg.xml"}
                                               << QStringList{"--erase-ms", "60000"}
                                               << "^Step 2/5: .*" << SIGKILL << -2;
  }
  void signalsEndEveryCommand() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, emulatorArgs);
    QFETCH(QString, runningLine);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    EmulatorProcess emu;
    QVERIFY(emu.start(emulatorArgs));
    uitest::TempWorkDir dir;
    const QString earlier = "<testsuites name=\"the last good run\"/>\n";
    dir.write("mfg.xml", earlier);
    dir.write("p.yaml", statusProfile());
    dir.write("b.txt", QString("127.0.0.1:%1 1-5\n").arg(emu.port()));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(cliProgram(), loopback(emu.port()) + args);
    QVERIFY(p.waitForStarted(5000));
    QStringList out;
    const auto running = [&] {
      out += QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
      return runningLine.isEmpty() || out.indexOf(QRegularExpression(runningLine)) >= 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(running(), 10000);
    if (runningLine.isEmpty()) QTest::qWait(300);
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(static_cast<pid_t>(p.processId()), signal);
    QVERIFY(p.waitForFinished(5000));
    // Measured well under 100 ms; the margin is for a loaded machine.
    QVERIFY2(sinceSignal.elapsed() < 1000, qPrintable(QString::number(sinceSignal.elapsed())));
    QCOMPARE(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, exitCode);
    if (args.contains("--csv")) {
      const QString csv = dir.read("pcr.csv");
      QVERIFY(csv.endsWith('\n'));
      const QStringList lines = csv.split('\n', Qt::SkipEmptyParts);
      QVERIFY(lines.size() >= 2 && lines.size() < 100);
      for (const QString& l : lines) QCOMPARE(l.split(',').size(), 11);
    }
    // An export stopped half way leaves no profile behind.
    if (args.contains("-o")) QVERIFY(!QFileInfo::exists(dir.file("board.yaml")));
    if (args.contains("--capture")) {
      bool complete = false;
      const auto packets = uitest::readCapture(dir.file("pcr.pcap"), &complete);
      QVERIFY(complete);
      QVERIFY(packets.size() >= 2);
    }
    if (!args.contains("--junit")) return;
    const QString report = dir.read("mfg.xml");
    if (exitCode < 0) {
      QCOMPARE(report, earlier);
      return;
    }
    // The step that ran is an error, the one before passed, the later ones skipped.
    QXmlStreamReader xml(report);
    QStringList outcomes;
    QString suite, error;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == QLatin1String("testsuite")) {
        suite = QString("%1/%2/%3").arg(xml.attributes().value("failures"), xml.attributes().value("errors"),
                                        xml.attributes().value("skipped"));
      } else if (xml.name() == QLatin1String("testcase")) {
        outcomes << "passed";
      } else if (xml.name() == QLatin1String("error") || xml.name() == QLatin1String("failure") ||
                 xml.name() == QLatin1String("skipped")) {
        outcomes.last() = xml.name().toString();
        if (xml.name() == QLatin1String("error")) error = xml.attributes().value("message").toString();
      }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(outcomes, (QStringList{"passed", "error", "skipped", "skipped", "skipped"}));
    QCOMPARE(suite, QString("0/1/3"));
    QCOMPARE(error, signal == SIGINT ? QString("Interrupted by SIGINT.") : QString("Interrupted by SIGTERM."));
  }

  // Output files under faults: an existing log is kept unless told, a FIFO nobody
  // reads never holds the run, a write error ends the log with one message and a
  // non-zero exit, a report that cannot be written fails before the run.
  void outputFiles_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("existing");  // "file": pcr.csv holds a line; "fifo": out is a FIFO nobody reads;
                                           // "full": out is a device node that is always full
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errLine");      // a part of the one line on standard error
    QTest::addColumn<QString>("csvPattern");   // pcr.csv afterwards, when there is one
    QTest::addColumn<int>("fileSizeLimit");    // bytes, 0: none
    const QString header = "time,sample,slide,cor,base_error,base_error_ms,pcr_pids,new_pcr_pids,"
                           "pcr_discontinuities,large_pcr_errors,error\\n";
    const QString row = "\\S+Z,\\d+,[^,\\n]+,[^,\\n]+,[^,\\n]+,[^,\\n]+,\\d+,\\d+,\\d+,\\d+,\\n";
    QTest::newRow("existing log refused") << QStringList{"pcr-log", "--samples", "1", "--csv", "pcr.csv"} << "file" << 1
                                          << "--csv" << "^earlier line\\n$" << 0;
    QTest::newRow("existing log appended to, no second header")
        << QStringList{"pcr-log", "--samples", "1", "--csv", "pcr.csv", "--append"} << "file" << 0 << QString()
        << "^earlier line\\n" + row + "$" << 0;
    QTest::newRow("new log with --append has its header")
        << QStringList{"pcr-log", "--samples", "1", "--csv", "pcr.csv", "--append"} << QString() << 0 << QString()
        << "^" + header + row + "$" << 0;
    QTest::newRow("existing log replaced") << QStringList{"pcr-log", "--samples", "1", "--csv", "pcr.csv", "--force"}
                                           << "file" << 0 << QString() << "^" + header + row + "$" << 0;
    QTest::newRow("log on standard output only") << QStringList{"pcr-log", "--samples", "1", "--csv", "-"} << QString()
                                                 << 0 << QString() << QString() << 0;
    QTest::newRow("log into a FIFO nobody reads") << QStringList{"pcr-log", "--samples", "1", "--csv", "out"} << "fifo"
                                                  << 1 << "--csv" << QString() << 0;
    QTest::newRow("report into a FIFO nobody reads") << QStringList{"mfg-test", "--junit", "out"} << "fifo" << 1
                                                     << "--junit" << QString() << 0;
    QTest::newRow("report over the settings file") << QStringList{"mfg-test", "--junit", "./Settings.ini"} << QString()
                                                   << 1 << "settings file" << QString() << 0;
    QTest::newRow("log over the settings file") << QStringList{"pcr-log", "--samples", "1", "--csv", "Settings.ini",
                                                               "--force"}
                                                << QString() << 1 << "settings file" << QString() << 0;
    // A full disk: a "full" device node made in the test's own directory (1, 7), only
    // written to, never renamed over.
    QTest::newRow("log on a full disk") << QStringList{"pcr-log", "--samples", "2", "--csv", "out"} << "full"
                                        << 1 << "No space left on device" << QString() << 0;
    // The second line goes past the limit: the file ends on the first, whole.
    QTest::newRow("log past the file-size limit") << QStringList{"pcr-log", "--samples", "3", "--csv", "pcr.csv"}
                                                  << QString() << 1 << "File too large" << "^" + header + row + "$"
                                                  << 200;
  }
  void outputFiles() {
    QFETCH(QStringList, args);
    QFETCH(QString, existing);
    QFETCH(int, exitCode);
    QFETCH(QString, errLine);
    QFETCH(QString, csvPattern);
    QFETCH(int, fileSizeLimit);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::TempWorkDir dir;
    if (existing == "file") dir.write("pcr.csv", "earlier line\n");
    if (existing == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(dir.file("out")).constData(), 0600), 0);
    if (existing == "full" && ::mknod(QFile::encodeName(dir.file("out")).constData(), S_IFCHR | 0600, makedev(1, 7)) != 0)
      QSKIP("no permission to make a device node");
    const Run r = runCli(dir.path(), loopback(emu.port()) + args, 8000, fileSizeLimit > 0 ? long(fileSizeLimit) : -1L);
    QCOMPARE(r.exitCode, exitCode);
    if (errLine.isEmpty()) {
      QCOMPARE(r.err, QStringList{});
    } else {
      QCOMPARE(r.err.size(), 1);
      QVERIFY2(r.err[0].startsWith("tessaly-cli: ") && r.err[0].contains(errLine), qPrintable(r.err[0]));
    }
    if (!csvPattern.isEmpty()) {
      const QString csv = dir.read("pcr.csv");
      QVERIFY2(QRegularExpression(csvPattern).match(csv).hasMatch(), qPrintable(csv));
    }
    // "-" is standard output, not a file of that name.
    QVERIFY(!QFileInfo::exists(dir.file("-")));
    if (args.contains("-")) QCOMPARE(r.out.size(), 2);
  }

  // A report to /dev/stdout goes after the run's lines into the file standard output
  // is: that file is written, not replaced by the report.
  void reportOnStandardOutputFile() {
    EmulatorProcess emu;
    QVERIFY(emu.start({"--drop", "1"}));
    uitest::TempWorkDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setStandardOutputFile(dir.file("out.txt"));
    p.start(cliProgram(), loopback(emu.port()) + QStringList{"mfg-test", "--junit", "/dev/stdout"});
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitCode(), 2);
    const QString out = dir.read("out.txt");
    QVERIFY2(out.startsWith("Step 1/5: ") && out.contains("<testsuites") && out.trimmed().endsWith("</testsuites>"),
             qPrintable(out));
  }

  // Both ends write what crossed the wire: the request and the answer, with the real
  // addresses and ports. A killed emulator leaves a file that reads to its end.
  void captureFilesOfBothEnds() {
    uitest::TempWorkDir dir;
    EmulatorProcess emu;
    QVERIFY(emu.start({"--capture", dir.file("emu.pcap")}));
    const Run r = runCli(dir.path(), loopback(emu.port()) + QStringList{"--capture", "cli.pcap", "query"});
    QCOMPARE(r.exitCode, 0);
    emu.stop();
    const quint32 loopbackAddress = 0x7F000001;
    bool complete = false;
    const auto cli = uitest::readCapture(dir.file("cli.pcap"), &complete);
    QVERIFY(complete);
    QCOMPARE(cli.size(), std::size_t(2));
    const quint16 cliPort = cli[0].srcPort;
    const quint16 emuPort = quint16(emu.port());
    const auto emulator = uitest::readCapture(dir.file("emu.pcap"), &complete);
    QVERIFY(complete);
    QCOMPARE(emulator.size(), std::size_t(2));
    for (const auto* file : {&cli, &emulator}) {
      const auto& f = *file;
      for (const auto& p : f) QVERIFY(p.src == loopbackAddress && p.dst == loopbackAddress);
      QVERIFY(f[0].srcPort == cliPort && f[0].dstPort == emuPort);  // the request
      QVERIFY(f[1].srcPort == emuPort && f[1].dstPort == cliPort);  // the answer
      QVERIFY(f[0].payload > 0 && f[1].payload > f[0].payload);
    }
    QCOMPARE(emulator[0].payload, cli[0].payload);
    QCOMPARE(emulator[1].payload, cli[1].payload);

    // Killed while datagrams flow in: the file still reads to its end.
    EmulatorProcess killed;
    QVERIFY(killed.start({"--capture", dir.file("killed.pcap")}));
    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress::LocalHost, 0));
    const QByteArray junk(200, 'k');
    for (int i = 0; i < 3000; ++i) {
      sender.writeDatagram(junk, QHostAddress::LocalHost, quint16(killed.port()));
      if (i == 1500) {
        QTest::qWait(50);
        killed.kill();
      }
    }
    const auto left = uitest::readCapture(dir.file("killed.pcap"), &complete);
    QVERIFY(complete);
    QVERIFY(!left.empty());
  }

  // A capture file that fails: refused before anything is sent (exit 1) when it is
  // the settings file or a FIFO nobody reads; stopped by a write error (the file-size
  // limit, a reader gone) with one line on standard error, exit 6, the command's own
  // output complete and the file ending on a whole packet. Never killed by a signal.
  void captureFaults_data() {
    QTest::addColumn<QString>("target");  // "settings link", "fifo", "fifo, reader gone", "file"
    QTest::addColumn<long>("fileSizeLimit");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errText");
    QTest::newRow("the settings file through a link") << "settings link" << -1L << 1 << "it is the same file as";
    QTest::newRow("the settings file, not there yet") << "settings" << -1L << 1 << "it is the same file as";
    QTest::newRow("a FIFO nobody reads") << "fifo" << -1L << 1 << "it is a FIFO that nothing reads from";
    QTest::newRow("the reader goes away") << "fifo, reader gone" << -1L << 6 << "stopped: Broken pipe";
    QTest::newRow("the file-size limit") << "file" << 3000L << 6 << "stopped: File too large";
  }
  void captureFaults() {
    QFETCH(QString, target);
    QFETCH(long, fileSizeLimit);
    QFETCH(int, exitCode);
    QFETCH(QString, errText);
    uitest::TempWorkDir dir;
    // The device: a socket that only counts what reaches it, or the emulator.
    QUdpSocket device;
    QVERIFY(device.bind(QHostAddress::LocalHost, 0));
    EmulatorProcess emu;
    const bool refused = exitCode == 1;
    if (!refused) QVERIFY(emu.start());
    const int port = refused ? device.localPort() : emu.port();
    QString capture = "c.pcap";
    int reader = -1;
    if (target.startsWith("settings")) {
      if (target == "settings link") {
        dir.write("Settings.ini", uitest::loopbackSettings(uitest::freeUdpPort(), port));
        QVERIFY(QFile::link("Settings.ini", dir.file(capture)));
      } else {
        capture = "./Settings.ini";
      }
    } else if (target.startsWith("fifo")) {
      QCOMPARE(::mkfifo(QFile::encodeName(dir.file(capture)).constData(), 0600), 0);
      if (target != "fifo") reader = ::open(QFile::encodeName(dir.file(capture)).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    const QString settingsBefore = QFileInfo::exists(dir.file("Settings.ini")) ? dir.read("Settings.ini") : QString();
    Run r;
    if (reader >= 0) {
      // The reader goes once the log has begun.
      QProcess p;
      p.setWorkingDirectory(dir.path());
      p.start(cliProgram(), loopback(port) + QStringList{"--capture", capture, "pcr-log", "--samples", "3"});
      QVERIFY(p.waitForStarted(5000));
      QByteArray out;
      QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).count('\n') >= 2 || p.state() != QProcess::Running, 5000);
      ::close(reader);
      QVERIFY(p.waitForFinished(15000));
      r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
      r.err = QString::fromLocal8Bit(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    } else {
      r = runCli(dir.path(), loopback(port) + QStringList{"--capture", capture, "pcr-log", "--samples", "3"}, 15000,
                 fileSizeLimit);
    }
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.err.size(), 1);
    QVERIFY2(r.err[0].startsWith("tessaly-cli: --capture: ") && r.err[0].contains(errText), qPrintable(r.err[0]));
    if (refused) {
      QCOMPARE(device.hasPendingDatagrams(), false);
      QCOMPARE(QFileInfo::exists(dir.file("Settings.ini")) ? dir.read("Settings.ini") : QString(), settingsBefore);
      return;
    }
    if (target == "file") {
      bool complete = false;
      const auto packets = uitest::readCapture(dir.file(capture), &complete);
      QVERIFY(complete);
      QVERIFY(!packets.empty());
    }
  }

  // A whole test run: every step passes and the JUnit report holds one passed case per step.
  void mfgTestWithJunit() {
    EmulatorProcess emu;
    // Busy long enough for the first erase poll to see it, over by the second.
    QVERIFY(emu.start({"--erase-ms", "1000"}));
    uitest::TempWorkDir dir;
    const Run r = runCli(dir.path(), loopback(emu.port()) + QStringList{"mfg-test", "--test-port", "58101", "--pid3",
                                                                        "off", "--junit", "mfg.xml"},
                         40000);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QStringList{});
    for (int step = 1; step <= 5; ++step)
      QVERIFY2(r.out.indexOf(QRegularExpression(QString("Step %1/5: .*").arg(step))) >= 0, qPrintable(r.out.join('\n')));
    QCOMPARE(r.out.value(r.out.size() - 2), QString("  Test program loaded successfully."));
    QCOMPARE(r.out.last(), QString("Programming succeeded"));
    QXmlStreamReader xml(dir.read("mfg.xml"));
    QStringList cases;
    int failures = 0;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == QLatin1String("testcase")) cases << xml.attributes().value("name").toString();
      if (xml.name() == QLatin1String("failure") || xml.name() == QLatin1String("skipped")) ++failures;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(cases, (QStringList{"1. Set up NCOs and stream formats", "2. Erase PID Filters and PSI Inserters",
                                 "3. Program PID Filters and PSI Ins.", "4. Read PID Filters", "5. Read PSI Inserters"}));
    QCOMPARE(failures, 0);
  }

  // The JSON object holds the values the text shows.
  void jsonMatchesTheText() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::TempWorkDir dir;
    const Run text = runCli(dir.path(), loopback(emu.port()) + QStringList{"query"});
    const Run json = runCli(dir.path(), loopback(emu.port()) + QStringList{"query", "--json"});
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.out.size(), 1);
    QJsonParseError error;
    const QJsonObject j = QJsonDocument::fromJson(json.out.value(0).toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(j["device_code"].toString(), QString("1A"));
    QCOMPARE("v" + j["version"].toString(), valueAfter(text.out, "Version: "));
    QCOMPARE(QString::number(j["serial"].toInteger()), valueAfter(text.out, "Serial: "));
    QCOMPARE(QString::number(j["type"].toInteger()), valueAfter(text.out, "Type: "));
    QCOMPARE(QString::number(j["sdi_address"].toInteger()), valueAfter(text.out, "Address: "));
    QCOMPARE(QString::number(j["nco_hz"].toInteger()), valueAfter(text.out, "NCO Frequency: "));
    QCOMPARE(QString::number(j["output_format"].toInteger()), valueAfter(text.out, "Output Format: "));
    const QJsonArray inputs = j["inputs"].toArray();
    QCOMPARE(inputs.size(), 6);
    QCOMPARE(inputs[0].toObject()["number"].toInt(), 1);
    QVERIFY(inputs[0].toObject()["enabled"].toBool());
    QVERIFY(inputs[0].toObject()["rate_kbps"].toInteger() > 0);
    QCOMPARE(inputs[5].toObject()["number"].toInt(), 6);
    for (const char* group : {"sdram", "psi", "pcr"}) QVERIFY2(j[group].isObject(), group);
    QCOMPARE(QString::number(j["pcr"].toObject()["test_pid"].toInteger()), valueAfter(text.out, " Test PID: "));
  }

  // --json: one object on standard output whatever the outcome, holding what was set
  // before (`setup`, each run first against the same emulator) and what the answer
  // held when it is not the expected one.
  void jsonSaysEverything_data() {
    QTest::addColumn<QList<QStringList>>("setup");
    QTest::addColumn<QStringList>("emulatorArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QJsonObject>("expected");
    const auto object = [](const char* json) { return QJsonDocument::fromJson(json).object(); };
    // Each input's four flags against the masks set: enable 2,5; DV pin 1; null filter 3,6; TSP filter 4.
    QJsonArray inputs;
    for (int n = 1; n <= 6; ++n)
      inputs.append(QJsonObject{{"number", n},
                                {"enabled", n == 2 || n == 5},
                                {"data_valid_enabled", n == 1},
                                {"null_filter", n == 3 || n == 6},
                                {"tsp_error_filter", n == 4}});
    QJsonObject set = object(R"({"ok": true, "device_present": true, "device_code": "1A",
                                 "user_text": "h\u00e9llo\tx\u00ff", "serial": 3000000000})");
    set["inputs"] = inputs;
    QTest::newRow("query: what was set comes back")
        << QList<QStringList>{{"set-user-text", QString::fromUtf8("h\u00e9llo\tx\u00ff")},
                              {"set-serial", "3000000000"},
                              {"pid-filter", "general", "--enable", "2,5", "--dv-pin", "1", "--null-filter", "3,6",
                               "--tsp-filter", "4"}}
        << QStringList{} << QStringList{"query", "--json"} << 0 << set;
    QTest::newRow("query, no device") << QList<QStringList>{} << QStringList{"--no-device"} << QStringList{"query", "--json"}
                                      << 3
                                      << object(R"({"ok": false, "reason": "There is no device connected to the SDI.",
                                                    "answer_length": 1032, "sdi_address": 1, "device_present": false,
                                                    "device_code": null})");
    QTest::newRow("query DDToIP, not a remultiplexer")
        << QList<QStringList>{} << QStringList{"--device-code", "1B"}
        << QStringList{"--framing", "ddtoip", "query", "--json"} << 3
        << object(R"({"ok": false, "reason": "There is no ASI Remultiplexer connected to the SDI.",
                      "answer_length": 1049, "device_present": true, "device_code": "1B", "serial": null})");
    QTest::newRow("query, no answer") << QList<QStringList>{} << QStringList{"--drop", "1"}
                                      << QStringList{"query", "--json"} << 2
                                      << object(R"({"ok": false, "reason": "No answer received (in 1s).",
                                                    "answer_length": null})");
    QTest::newRow("scan: the board at 3, serial unsigned")
        << QList<QStringList>{{"--sdi", "3", "set-serial", "3000000000"}} << QStringList{"--sdi-address", "3"}
        << QStringList{"--timeout-ms", "100", "scan", "--json"} << 0
        << object(R"({"ok": true, "boards": [{"sdi_address": 3, "device_code": "1A", "serial": 3000000000,
                                               "version": "2.07"}]})");
    QTest::newRow("scan, no board") << QList<QStringList>{} << QStringList{"--no-device"}
                                    << QStringList{"--timeout-ms", "100", "scan", "--json"} << 2
                                    << object(R"({"ok": false, "boards": [],
                                                  "reason": "No board answered on SDI addresses 1..15 (the controller did)."})");
    QTest::newRow("clock, the PLL search")
        << QList<QStringList>{} << QStringList{} << QStringList{"clock", "--pll", "3000000", "--json"} << 0
        << object(R"({"ok": true, "source": "pll", "format": 188, "priority": "low", "pll_hz": 3000000,
                      "nco_hz": null, "pll": {"found": true, "pdiv": 34, "m": 9, "n": 34, "p": 3, "q": 30, "r": 2,
                      "vco_range": 0, "vco_hz": 102000000, "output_hz": 3000000, "error_hz": 0,
                      "word": "022013CC"}})");
    QTest::newRow("clock, NCO: no search")
        << QList<QStringList>{} << QStringList{} << QStringList{"clock", "--nco", "120", "--priority", "high", "--json"}
        << 0 << object(R"({"ok": true, "source": "nco", "nco_hz": 120, "priority": "high", "pll": null})");
    QTest::newRow("clock, no notice") << QList<QStringList>{} << QStringList{"--drop", "1"}
                                      << QStringList{"clock", "--format", "204", "--nco", "120", "--json"} << 2
                                      << object(R"({"ok": false, "reason": "No SDI IRQ received (in 1s).",
                                                    "format": 204})");
    // Entry 4 from 496 is PID 500's, written under 8191; the others are erased.
    QJsonArray entries, words;
    for (int k = 0; k < 128; ++k) (k < 8 ? entries : words).append(k == 4 ? 0xC000 + 8191 : 0xFFFF);
    for (int k = 7; k >= 0; --k) words.prepend(entries[k]);
    QTest::newRow("pid-filter read")
        << QList<QStringList>{{"pid-filter", "write", "--input", "2", "--pid", "500", "--remap", "8191"}}
        << QStringList{} << QStringList{"pid-filter", "read", "--input", "2", "--pid", "503", "--json"} << 0
        << QJsonObject{{"ok", true}, {"input", 2}, {"start_pid", 496}, {"entries", entries}, {"words", words}};
    // Timer 10, auto CC, then the 204-byte packet: sync byte, PID 100, 0x10, 200 fix
    // bytes; erased flash after it.
    QJsonArray data{0, 0, 10, 1, 0x47, 0, 100, 0x10};
    for (int k = 8; k < 256; ++k) data.append(k < 4 + 204 ? 44 : 255);
    QTest::newRow("psi read")
        << QList<QStringList>{{"psi", "write", "--pid", "100", "--address", "16", "--packet", "fix", "--fix", "44",
                               "--auto-cc"}}
        << QStringList{} << QStringList{"psi", "read", "--address", "16", "--json"} << 0
        << QJsonObject{{"ok", true}, {"address", 16}, {"data", data}};
  }
  void jsonSaysEverything() {
    QFETCH(QList<QStringList>, setup);
    QFETCH(QStringList, emulatorArgs);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QJsonObject, expected);
    EmulatorProcess emu;
    QVERIFY(emu.start(emulatorArgs));
    uitest::TempWorkDir dir;
    for (const QStringList& step : setup) QCOMPARE(runCli(dir.path(), loopback(emu.port()) + step).exitCode, 0);
    const Run r = runCli(dir.path(), loopback(emu.port()) + args);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out.size(), 1);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out[0].toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    // Control characters of the user text are escaped: the line holds none.
    for (const QChar c : r.out[0]) QVERIFY2(c.unicode() >= 0x20, qPrintable(r.out[0]));
    QString where;
    QVERIFY2(holds(doc.object(), expected, &where), qPrintable(where + "\n" + r.out[0]));
    // A failure still says so on standard error, in the same words.
    if (exitCode != 0) QCOMPARE(r.err.value(0), expected["reason"].toString());
  }

  // Serial numbers above 2^31-1 go out as they are (the board reports them back;
  // the report shows the record's signed value).
  void largeSerialGoesOut() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::TempWorkDir dir;
    QCOMPARE(runCli(dir.path(), loopback(emu.port()) + QStringList{"set-serial", "4294967295"}).exitCode, 0);
    const Run q = runCli(dir.path(), loopback(emu.port()) + QStringList{"query"});
    QCOMPARE(q.exitCode, 0);
    QVERIFY2(q.out.contains("Serial: -1"), qPrintable(q.out.join('\n')));
    const Run j = runCli(dir.path(), loopback(emu.port()) + QStringList{"query", "--json"});
    QCOMPARE(QJsonDocument::fromJson(j.out.value(0).toUtf8())["serial"].toInteger(), 4294967295LL);
  }

  // Without link options the client takes the panel's Settings.ini in its working
  // directory: here DDToIP to the emulator's port.
  void linkDefaultsComeFromSettingsIni() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::TempWorkDir dir;
    const QString settings = uitest::loopbackSettings(uitest::freeUdpPort(), emu.port(), true, 1);
    dir.write("Settings.ini", settings);
    const Run r = runCli(dir.path(), {"query"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.value(0), QString("DDToIP SDI Answer received."));
    QCOMPARE(r.out.value(2), QString("Controller Port: %1").arg(emu.port()));
    QCOMPARE(dir.read("Settings.ini"), settings);
  }

  // A device name that cannot be a host: the datagram cannot go out (no lookup is made).
  void sendFailureIsExitFour() {
    uitest::TempWorkDir dir;
    QStringList link{"--device", "no_such host", "--device-port", QString::number(uitest::freeUdpPort()), "--host-port",
                     "0"};
    const Run q = runCli(dir.path(), link + QStringList{"query"});
    QCOMPARE(q.exitCode, 4);
    QCOMPARE(q.err, (QStringList{"Communication Error!", "Check your network connection!"}));
    const Run s = runCli(dir.path(), link + QStringList{"reset"});
    QCOMPARE(s.exitCode, 4);
    QCOMPARE(s.err, QStringList{"Communication Error! Check your network connection!"});
  }

  // A host port that is taken (a second client on the default port): exit 4 before
  // anything is sent, naming the port and the way out, for every kind of command.
  void hostPortInUseIsNamed_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("query --json") << QStringList{"query", "--json"};
    QTest::newRow("instruction") << QStringList{"reset"};
    QTest::newRow("send") << QStringList{"send", "10"};
    QTest::newRow("pcr-log") << QStringList{"pcr-log", "--samples", "1"};
    QTest::newRow("mfg-test") << QStringList{"mfg-test"};
  }
  void hostPortInUseIsNamed() {
    QFETCH(QStringList, args);
    QUdpSocket busy;
    QVERIFY(busy.bind(QHostAddress::AnyIPv4, 0));
    uitest::TempWorkDir dir;
    const QString port = QString::number(busy.localPort());
    const Run r = runCli(dir.path(), QStringList{"--device", "127.0.0.1", "--device-port",
                                                 QString::number(uitest::freeUdpPort()), "--host-port=" + port} + args);
    QCOMPARE(r.exitCode, 4);
    QCOMPARE(r.err.size(), 1);
    QVERIFY2(r.err[0].startsWith("tessaly-cli: cannot use UDP port " + port + " ") &&
                 r.err[0].endsWith("; --host-port 0 picks a free one"),
             qPrintable(r.err[0]));
    if (args.contains("--json")) {
      QCOMPARE(r.out.size(), 1);
      QCOMPARE(QJsonDocument::fromJson(r.out[0].toUtf8())["ok"].toBool(true), false);
    } else {
      QCOMPARE(r.out, QStringList{});
    }
  }

  // Bad input: exit 1, nothing on standard output, one line on standard error that
  // names the option or command.
  // A profile applied to a board is what an export reads back; an export of the board
  // applied to a fresh one reads back the same bytes; the same board exported twice
  // gives the same bytes.
  void configRoundTrip() {
    uitest::TempWorkDir dir;
    EmulatorProcess a, b;
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
    QVERIFY(a.start({"--erase-ms", "20"}));
    QVERIFY(b.start({"--erase-ms", "20"}));
    dir.write("full.yaml", statusProfile() +
                               "pid_filter:\n  1: [{pid: 0}, {pid: 500}, {pid: 501, remap: 777}, {pid: 8191}]\n"
                               "psi:\n  ranges: [0-3]\n  records:\n"
                               "    - {address: 1, timer_ms: 10, auto_cc: true, packet: \"" + psiPacket(100) + "\"}\n"
                               "    - {address: 3, timer_ms: 16777215, auto_cc: false, packet: \"" + psiPacket(8191) + "\"}\n");
    const QString boardA = QString("127.0.0.1:%1 sdi 1: ").arg(a.port());
    Run r = runCli(dir.path(), loopback(a.port()) + QStringList{"config", "apply", "full.yaml", "--force"}, 60000);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringList{boardA + "matches"});
    const QStringList exportArgs{"config", "export", "--pid-filter", "none", "--psi", "0-3"};
    for (const char* name : {"a.yaml", "a2.yaml"}) {
      r = runCli(dir.path(), loopback(a.port()) + exportArgs + QStringList{"-o", name});
      QCOMPARE(r.exitCode, 0);
      QCOMPARE(r.out, QStringList{});
    }
    const QString exported = readBytes(dir.file("a.yaml"));
    QCOMPARE(readBytes(dir.file("a2.yaml")), exported);
    QVERIFY2(exported.contains(psiPacket(8191)) && !exported.contains("pid_filter"),
             qPrintable(exported));
    r = runCli(dir.path(), loopback(b.port()) + QStringList{"config", "apply", "a.yaml"});
    QCOMPARE(r.exitCode, 0);
    QProcess again;
    again.setWorkingDirectory(dir.path());
    again.start(cliProgram(), loopback(b.port()) + exportArgs);
    QVERIFY(again.waitForFinished(15000));
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(again.readAllStandardOutput()), exported);
  }

  // A board can hold enabled sectors that overlap (set one by one), which a profile
  // refuses: the export still writes what the board holds, but does not end as a
  // success, since apply and diff refuse the file.
  void configExportOfWhatAProfileRefuses() {
    uitest::TempWorkDir dir;
    EmulatorProcess emu;
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
    QVERIFY(emu.start());
    for (const auto& [sector, start, end] : {std::tuple{"1", "0", "100"}, std::tuple{"2", "50", "200"}})
      QCOMPARE(runCli(dir.path(), loopback(emu.port()) + QStringList{"psi", "sector", "--sector", sector, "--start",
                                                                      start, "--end", end})
                   .exitCode,
               0);
    const Run r = runCli(dir.path(), loopback(emu.port()) + QStringList{"config", "export", "--pid-filter", "none",
                                                                         "-o", "b.yaml"});
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.err.value(0).endsWith("sector 2 (50..200) overlaps sector 1 (0..100)"), qPrintable(r.err.join('\n')));
    QVERIFY(readBytes(dir.file("b.yaml")).contains("2: {enabled: true, start: 50, end: 200}"));
  }

  // diff: a profile against a second one or against a board it was applied to;
  // exit 0 when equal, 5 with one line per field when not.
  void configDiff_data() {
    QTest::addColumn<QString>("second");  // the second profile's change, or "board" and the change
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("two equal profiles") << "" << 0 << QStringList{"matches"};
    QTest::newRow("two profiles, a flag differs")
        << "2: {enabled: true, data_valid: true, null_filter: false => 2: {enabled: true, data_valid: false, null_filter: false"
        << 5 << QStringList{"inputs.2.data_valid: expected true, found false", "differs (1 field)"};
    QTest::newRow("the board as applied") << "board" << 0 << QStringList{"sdi 1: matches"};
    QTest::newRow("the board, another test PID")
        << "board test_pid: 1000} => test_pid: 1001}" << 5
        << QStringList{"sdi 1: differs (1 field)", "  pcr_corrector.test_pid: expected 1001, found 1000"};
    QTest::newRow("the board, another user text (Latin-1)")
        << QString::fromUtf8("board test_pid: 1000}\n => test_pid: 1000}\nidentity: {serial: 20417, type: 4852, "
                             "user_text: \"h\u00e9llo\", sdi_address: 1}\n")
        << 5 << QStringList{"sdi 1: differs (1 field)", QString::fromUtf8("  identity.user_text: expected h\u00e9llo, found ")};
  }
  void configDiff() {
    QFETCH(QString, second);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    uitest::TempWorkDir dir;
    dir.write("p.yaml", statusProfile());
    Run r;
    if (second.startsWith("board")) {
      EmulatorProcess emu;
      if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
      QVERIFY(emu.start());
      QCOMPARE(runCli(dir.path(), loopback(emu.port()) + QStringList{"config", "apply", "p.yaml"}).exitCode, 0);
      dir.write("q.yaml", statusProfile(second.mid(6)));
      r = runCli(dir.path(), loopback(emu.port()) + QStringList{"config", "diff", "q.yaml"});
      for (QString& l : lines) l = (l.startsWith("sdi") ? QString("127.0.0.1:%1 ").arg(emu.port()) : QString()) + l;
    } else {
      dir.write("q.yaml", statusProfile(second));
      r = runCli(dir.path(), loopback(uitest::freeUdpPort()) + QStringList{"config", "diff", "p.yaml", "q.yaml"});
    }
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, lines);
  }

  // One profile applied to 20 boards on five controllers, one controller dropping
  // every answer: 19 match, the one on the silent controller fails, and the exit code
  // is that board's (no answer). The boards of the silent controller's neighbours run on.
  void configAppliesToManyBoards() {
    uitest::TempWorkDir dir;
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
    EmulatorProcess emus[5];
    QString boards = "# three controllers of five boards, one of four, one that drops every answer\n";
    for (int k = 0; k < 5; ++k) {
      const QString sdi = k < 3 ? "1-5" : k == 3 ? "1-4" : "5";
      QStringList args{"--erase-ms", "20", "--sdi-address", sdi};
      if (k == 4) args << "--drop" << "1";
      QVERIFY(emus[k].start(args));
      boards += QString("127.0.0.1:%1 %2%3\n").arg(emus[k].port()).arg(sdi).arg(k == 1 ? " ddtoip" : "");
    }
    // The silent board in the middle of the list: its code is the first failure's.
    QStringList lines = boards.split('\n', Qt::SkipEmptyParts);
    lines.move(5, 2);
    dir.write("rack.txt", lines.join('\n') + "\n");
    dir.write("p.yaml", statusProfile());
    // The link options name a loopback controller too, though the list's boards are the ones used.
    const Run r = runCli(dir.path(), loopback(emus[0].port()) + QStringList{"--timeout-ms", "300", "config", "apply",
                                                                           "p.yaml", "--boards", "rack.txt", "--json"},
                         60000);
    QCOMPARE(r.exitCode, 2);
    const QJsonObject j = QJsonDocument::fromJson(r.out.value(0).toUtf8()).object();
    QCOMPARE(j["ok"].toBool(true), false);
    const QJsonArray list = j["boards"].toArray();
    QCOMPARE(list.size(), 20);
    int matching = 0;
    for (qsizetype k = 0; k < list.size(); ++k) {
      const QJsonObject b = list[k].toObject();
      const bool silent = b["controller"].toString().endsWith(QString(":%1").arg(emus[4].port()));
      QCOMPARE(b["result"].toString(), QString(silent ? "no answer" : "matches"));
      QCOMPARE(silent, k == 5);
      matching += !silent;
    }
    QCOMPARE(matching, 19);
  }

  // A profile or a board list that cannot be used is refused with exit 1 and one line
  // naming the file, line and column (or the option) before anything is sent.
  void configBadInputSendsNothing_data() {
    QTest::addColumn<QString>("profile");  // p.yaml
    QTest::addColumn<QString>("boards");   // b.txt ("PORT" is the device's port)
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("names");
    const QString base = statusProfile();
    const QStringList apply{"config", "apply", "p.yaml"};
    QTest::newRow("an unknown key") << base + "pid_filters: {}\n" << "" << apply << "p.yaml:16:1: ";
    QTest::newRow("a sector end out of range") << statusProfile("end: 9000} => end: 131072}") << "" << apply
                                               << "p.yaml:13:";
    QTest::newRow("a PID twice") << base + "pid_filter:\n  1: [{pid: 5}, {pid: 5}]\n  2: []\n  3: []\n  4: []\n"
                                           "  5: []\n  6: []\n"
                                 << "" << apply << "p.yaml:17:";
    QTest::newRow("overlapping sectors") << statusProfile("start: 4096, => start: 4000,") << "" << apply << "p.yaml:";
    QTest::newRow("a PLL frequency out of reach") << statusProfile("pll_hz: 3000000 => pll_hz: 40500001") << ""
                                                  << apply << "p.yaml:9:";
    QTest::newRow("some PID filter inputs, no --force") << base + "pid_filter:\n  1: [{pid: 5}]\n" << "" << apply
                                                        << "--force";
    QTest::newRow("a board list line") << base << "127.0.0.1:PORT 1\n127.0.0.1:PORT 16\n"
                                       << apply + QStringList{"--boards", "b.txt"} << "b.txt:2: SDI";
    QTest::newRow("a board listed twice") << base << "127.0.0.1:PORT 1-3\n\n127.0.0.1:PORT 3\n"
                                          << apply + QStringList{"--boards", "b.txt"} << "b.txt:3: ";
    QTest::newRow("an identity for many boards")
        << base + "identity: {serial: 1, type: 2, user_text: \"x\", sdi_address: 1}\n" << "127.0.0.1:PORT 1-2\n"
        << apply + QStringList{"--boards", "b.txt"} << "identity";
    QTest::newRow("diff, the second profile") << base << "" << QStringList{"config", "diff", "p.yaml", "q.yaml"}
                                              << "q.yaml";
    QTest::newRow("export, psi backwards") << base << "" << QStringList{"config", "export", "--psi", "9-1"} << "--psi";
    QTest::newRow("export, psi overlapping") << base << "" << QStringList{"config", "export", "--psi", "0-9,9-12"}
                                             << "--psi";
    QTest::newRow("export, input 7") << base << "" << QStringList{"config", "export", "--pid-filter", "7"}
                                     << "--pid-filter";
    QTest::newRow("export, no such folder") << base << "" << QStringList{"config", "export", "-o", "no/such/x.yaml"}
                                            << "--output";
  }
  void configBadInputSendsNothing() {
    QFETCH(QString, profile);
    QFETCH(QString, boards);
    QFETCH(QStringList, args);
    QFETCH(QString, names);
    uitest::TempWorkDir dir;
    QUdpSocket device;  // counts what reaches it
    QVERIFY(device.bind(QHostAddress::LocalHost, 0));
    dir.write("p.yaml", profile);
    if (!boards.isEmpty()) dir.write("b.txt", QString(boards).replace("PORT", QString::number(device.localPort())));
    const Run r = runCli(dir.path(), loopback(device.localPort()) + args);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.size(), 1);
    QVERIFY2(r.err[0].startsWith("tessaly-cli: ") && r.err[0].contains(names), qPrintable(r.err[0]));
    QTest::qWait(20);
    QCOMPARE(device.hasPendingDatagrams(), false);
  }

  void badInputIsExitOne_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("names");
    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "frobnicate";
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "query"} << "--frobnicate";
    QTest::newRow("missing value") << QStringList{"query", "--timeout-ms"} << "--timeout-ms";
    QTest::newRow("sdi 0") << QStringList{"--sdi", "0", "query"} << "--sdi";
    QTest::newRow("sdi 16") << QStringList{"--sdi", "16", "query"} << "--sdi";
    QTest::newRow("sdi not a number") << QStringList{"--sdi", "x", "query"} << "--sdi";
    QTest::newRow("device port 0") << QStringList{"--device-port", "0", "query"} << "--device-port";
    QTest::newRow("device port 65536") << QStringList{"--device-port", "65536", "query"} << "--device-port";
    QTest::newRow("host port -1") << QStringList{"--host-port", "-1", "query"} << "--host-port";
    QTest::newRow("framing") << QStringList{"--framing", "udp", "query"} << "--framing";
    QTest::newRow("timeout 0") << QStringList{"--timeout-ms", "0", "query"} << "--timeout-ms";
    QTest::newRow("query extra argument") << QStringList{"query", "now"} << "now";
    QTest::newRow("json elsewhere") << QStringList{"reset", "--json"} << "--json";
    QTest::newRow("set-serial missing") << QStringList{"set-serial"} << "set-serial";
    QTest::newRow("set-serial text") << QStringList{"set-serial", "12a"} << "set-serial";
    QTest::newRow("set-serial 2^32") << QStringList{"set-serial", "4294967296"} << "set-serial";
    QTest::newRow("set-type of 20 digits") << QStringList{"set-type", "99999999999999999999"} << "set-type";
    QTest::newRow("set-type 65536") << QStringList{"set-type", "65536"} << "set-type";
    QTest::newRow("set-address 0") << QStringList{"set-address", "0"} << "set-address";
    QTest::newRow("set-address 16") << QStringList{"set-address", "16"} << "set-address";
    QTest::newRow("user text of 16") << QStringList{"set-user-text", "0123456789abcdef"} << "set-user-text";
    QTest::newRow("send nothing") << QStringList{"send"} << "send";
    QTest::newRow("send opcode of 3 digits") << QStringList{"send", "1FF"} << "1FF";
    QTest::newRow("send odd data") << QStringList{"send", "10:123"} << "10:123";
    QTest::newRow("send six") << QStringList{"send", "1", "2", "3", "4", "5", "6"} << "send";
    QTest::newRow("nco 119") << QStringList{"clock", "--nco", "119"} << "--nco";
    QTest::newRow("pll 97752") << QStringList{"clock", "--pll", "97752"} << "--pll";
    QTest::newRow("pll 40500001") << QStringList{"clock", "--pll", "40500001"} << "--pll";
    QTest::newRow("source input7") << QStringList{"clock", "--nco", "1000", "--source", "input7"} << "--source";
    QTest::newRow("format 190") << QStringList{"clock", "--nco", "1000", "--format", "190"} << "--format";
    QTest::newRow("priority mid") << QStringList{"clock", "--nco", "1000", "--priority", "mid"} << "--priority";
    QTest::newRow("clock without a frequency") << QStringList{"clock"} << "clock";
    QTest::newRow("source pll without --pll") << QStringList{"clock", "--nco", "1000", "--source", "pll"} << "--pll";
    QTest::newRow("nco elsewhere") << QStringList{"query", "--nco", "1000"} << "--nco";
    QTest::newRow("pid-filter without subcommand") << QStringList{"pid-filter"} << "pid-filter";
    QTest::newRow("pid-filter unknown subcommand") << QStringList{"pid-filter", "wipe"} << "wipe";
    QTest::newRow("pid-filter general without --enable") << QStringList{"pid-filter", "general"} << "--enable";
    QTest::newRow("enable input 7") << QStringList{"pid-filter", "general", "--enable", "1,7"} << "--enable";
    QTest::newRow("enable empty item") << QStringList{"pid-filter", "general", "--enable", "1,,2"} << "--enable";
    QTest::newRow("pid 8192") << QStringList{"pid-filter", "write", "--input", "1", "--pid", "8192"} << "--pid";
    QTest::newRow("pid not a number") << QStringList{"pid-filter", "read", "--input", "1", "--pid", "x"} << "--pid";
    QTest::newRow("write without --input") << QStringList{"pid-filter", "write", "--pid", "1"} << "--input";
    QTest::newRow("input 0") << QStringList{"pid-filter", "read", "--input", "0", "--pid", "1"} << "--input";
    QTest::newRow("remap on read") << QStringList{"pid-filter", "read", "--input", "1", "--pid", "1", "--remap", "2"}
                                   << "--remap";
    QTest::newRow("sector 5") << QStringList{"psi", "sector", "--sector", "5", "--start", "0", "--end", "1"} << "--sector";
    QTest::newRow("end 131072") << QStringList{"psi", "sector", "--sector", "1", "--start", "0", "--end", "131072"}
                                << "--end";
    QTest::newRow("timer 2^24") << QStringList{"psi", "write", "--timer", "16777216"} << "--timer";
    QTest::newRow("packet type") << QStringList{"psi", "write", "--packet", "random"} << "--packet";
    QTest::newRow("fix without packet fix") << QStringList{"psi", "write", "--fix", "1"} << "--fix";
    QTest::newRow("fix 256") << QStringList{"psi", "write", "--packet", "fix", "--fix", "256"} << "--fix";
    QTest::newRow("psi read without --address") << QStringList{"psi", "read"} << "--address";
    QTest::newRow("pcr mode missing") << QStringList{"pcr-corrector", "mode"} << "pcr-corrector";
    QTest::newRow("pcr mode half") << QStringList{"pcr-corrector", "mode", "half"} << "half";
    QTest::newRow("pcr test-pid 8192") << QStringList{"pcr-corrector", "test-pid", "8192"} << "test-pid";
    QTest::newRow("pcr-log without --samples") << QStringList{"pcr-log"} << "--samples";
    QTest::newRow("samples 1000001") << QStringList{"pcr-log", "--samples", "1000001"} << "--samples";
    QTest::newRow("append without a file") << QStringList{"pcr-log", "--samples", "1", "--append"} << "--append";
    QTest::newRow("append and force") << QStringList{"pcr-log", "--samples", "1", "--csv", "a", "--append", "--force"}
                                      << "--force";
    QTest::newRow("force elsewhere") << QStringList{"query", "--force"} << "--force";
    QTest::newRow("csv elsewhere") << QStringList{"query", "--csv", "a.csv"} << "--csv";
    QTest::newRow("test port 0") << QStringList{"mfg-test", "--test-port", "0"} << "--test-port";
    QTest::newRow("pid2 text") << QStringList{"mfg-test", "--pid2", "on"} << "--pid2";
    QTest::newRow("multicast of 3 parts") << QStringList{"mfg-test", "--multicast", "239.1.2"} << "--multicast";
    QTest::newRow("multicast 256") << QStringList{"mfg-test", "--multicast", "239.1.2.256"} << "--multicast";
    QTest::newRow("multicast 239.256.0.1") << QStringList{"mfg-test", "--multicast", "239.256.0.1"} << "--multicast";
    QTest::newRow("multicast below 224") << QStringList{"mfg-test", "--multicast", "223.255.255.255"} << "--multicast";
    QTest::newRow("multicast above 239") << QStringList{"mfg-test", "--multicast", "240.0.0.0"} << "--multicast";
    QTest::newRow("sector start after end") << QStringList{"psi", "sector", "--sector", "1", "--start", "10", "--end", "5"}
                                            << "--start";
    QTest::newRow("clock with --nco and --pll") << QStringList{"clock", "--nco", "1000", "--pll", "3000000"} << "--pll";
    QTest::newRow("user text not Latin-1") << QStringList{"set-user-text", QString::fromUtf8("h\u20acllo")} << "U+20AC";
    QTest::newRow("user text beyond the BMP") << QStringList{"set-user-text", QString::fromUtf8("a\U0001F600")}
                                              << "U+1F600";
    QTest::newRow("label not Latin-1") << QStringList{"send", "--label", QString::fromUtf8("\u20ac"), "10"} << "--label";
    QTest::newRow("--name=value checked") << QStringList{"--sdi=0", "query"} << "--sdi";
    QTest::newRow("--name= empty") << QStringList{"--timeout-ms=", "query"} << "--timeout-ms";
    QTest::newRow("value on a flag") << QStringList{"query", "--json=yes"} << "--json";
    QTest::newRow("unknown option with a value") << QStringList{"--frobnicate=1", "query"} << "--frobnicate";
    QTest::newRow("json on an instruction") << QStringList{"set-type", "1", "--json"} << "--json";
    QTest::newRow("help of an unknown command") << QStringList{"help", "frobnicate"} << "frobnicate";
    QTest::newRow("junit unwritable") << QStringList{"mfg-test", "--junit", "no/such/dir/x.xml"} << "--junit";
    QTest::newRow("label of 16") << QStringList{"send", "--label", "0123456789abcdef", "10"} << "--label";
    QTest::newRow("capture unwritable") << QStringList{"query", "--capture", "no/such/dir/x.pcap"} << "--capture";
  }
  void badInputIsExitOne() {
    QFETCH(QStringList, args);
    QFETCH(QString, names);
    uitest::TempWorkDir dir;
    // A port nobody listens on: a fault that slips through still sends only to loopback.
    const Run r = runCli(dir.path(), loopback(uitest::freeUdpPort()) + args);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QStringList{});
    QCOMPARE(r.err.size(), 1);
    QVERIFY2(r.err[0].startsWith("tessaly-cli: ") && r.err[0].contains(names), qPrintable(r.err[0]));
  }

  // Every option the commands' part of the help names (not a link option) is refused,
  // with a sound value, by a command that takes none: an option a command forgets to
  // claim would otherwise be taken, and ignored, everywhere.
  void commandOptionsStayWithTheirCommands() {
    const QMap<QString, QString> soundValue{
        {"--nco", "1000"},      {"--pll", "100000"},   {"--source", "nco"},   {"--format", "188"},
        {"--priority", "low"},  {"--input", "1"},      {"--pid", "1"},        {"--remap", "1"},
        {"--enable", "1"},      {"--dv-pin", "1"},     {"--null-filter", "1"}, {"--tsp-filter", "1"},
        {"--sector", "1"},      {"--start", "0"},      {"--end", "1"},        {"--disabled", ""},
        {"--address", "0"},     {"--timer", "1"},      {"--packet", "fix"},   {"--fix", "1"},
        {"--auto-cc", ""},      {"--samples", "1"},    {"--csv", "a.csv"},    {"--append", ""},
        {"--force", ""},        {"--test-port", "1"},  {"--pid1", "off"},     {"--pid2", "off"},
        {"--pid3", "off"},      {"--multicast", "off"}, {"--junit", "a.xml"}, {"--json", ""},
        {"--label", "x"},       {"--pid-filter", "1"}, {"--psi", "none"},   {"--with-identity", ""},
        {"--output", "a.yaml"}, {"--boards", "b.txt"}};
    uitest::TempWorkDir dir;
    const QString help = runCli(dir.path(), {"--help"}).out.join('\n');
    const QRegularExpression option("--[a-z][a-z0-9-]*");
    QSet<QString> link;
    for (const auto& m : option.globalMatch(help.section("Link options", 1)))
      link.insert(m.captured());
    for (const auto& m : option.globalMatch(help.section("Link options", 0, 0))) {
      const QString o = m.captured();
      if (link.contains(o)) continue;
      QVERIFY2(soundValue.contains(o), qPrintable(o + ": new option, give it a sound value here"));
      QStringList args{"reset", o};
      if (!soundValue[o].isEmpty()) args << soundValue[o];
      const Run r = runCli(dir.path(), loopback(uitest::freeUdpPort()) + args);
      QCOMPARE(r.exitCode, 1);
      QVERIFY2(r.err.value(0).startsWith("tessaly-cli: " + o + ": only for "), qPrintable(r.err.value(0)));
    }
  }

  void helpAndVersion() {
    uitest::TempWorkDir dir;
    const Run help = runCli(dir.path(), {"--help"});
    QCOMPARE(help.exitCode, 0);
    const QString text = help.out.join('\n');
    for (const char* word : {"query", "set-serial", "set-type", "reset", "set-user-text", "set-address", "send",
                             "--device", "--device-port", "--host-port", "--framing", "--sdi", "--timeout-ms",
                             "--json", "--label", "--version", "clock", "--nco", "--pll", "--source",
                             "--format", "--priority", "pid-filter", "psi", "pcr-corrector", "pcr-log",
                             "mfg-test", "--junit", "--csv", "--multicast", "--capture"})
      QVERIFY2(text.contains(word), word);
    // A command's part: its entries only, however asked.
    struct Part {
      QStringList args;
      QStringList has, hasNot;
    };
    for (const Part& p : QList<Part>{
             {{"help", "query"}, {"query [--json]"}, {"set-serial", "Link options"}},
             {{"query", "--help"}, {"query [--json]"}, {"set-serial"}},
             {{"help", "pid-filter"}, {"pid-filter general", "pid-filter erase", "pid-filter write", "pid-filter read"},
              {"psi", "query"}},
             {{"pid-filter", "read", "--help"}, {"pid-filter read --input N --pid PID [--json]"}, {"pid-filter write"}},
             {{"help", "psi", "read"}, {"psi read --address ADDR [--json]"}, {"psi write", "pid-filter"}},
             {{"psi", "--help"}, {"psi sector", "psi read"}, {"pid-filter"}},
             {{"help"}, {"query", "mfg-test", "--device", "Exit codes"}, {}},
         }) {
      const Run r = runCli(dir.path(), p.args);
      QCOMPARE(r.exitCode, 0);
      const QString part = r.out.join('\n');
      for (const QString& w : p.has) QVERIFY2(part.contains(w), qPrintable(p.args.join(' ') + ": " + w));
      for (const QString& w : p.hasNot) QVERIFY2(!part.contains(w), qPrintable(p.args.join(' ') + ": " + w));
    }
    const Run version = runCli(dir.path(), {"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY(QRegularExpression("^tessaly-cli \\d+\\.\\d+").match(version.out.value(0)).hasMatch());
  }
};

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
