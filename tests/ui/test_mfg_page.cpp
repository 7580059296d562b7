// The "Manufacturer Setup" page's test run on virtual time, with the fake endpoint
// playing the four-unit device: one case per way a run can go, the inputs as the
// page reads, normalises and sends them, Break and leaving the page, and the PCR
// corrector switches.
#include <QTabWidget>
#include <QtTest>
#include <functional>
#include <map>
#include <optional>

#include "app/ui/PageMfg.h"
#include "helpers/UiHarness.h"
#include "link/Engine.h"
#include "mfgtest/MfgMessages.h"
#include "status/StatusReport.h"

using tessaly::Bytes;
using tessaly::testing::SentDatagram;

namespace {

enum class Msg { Config, Erase, Poll, Program, PidRead, PsiRead, Pcr, Other };

// What the page sent, told by its first instruction (and the erase message by its label).
Msg classify(const Bytes& d) {
  if (d.size() < 26) return Msg::Other;
  if (std::string(d.begin() + 6, d.begin() + 21) == "Quillmarsh  EPF") return Msg::Erase;
  if (d[22] == 0x40) return Msg::Config;
  if (d[22] == 0x03) return Msg::Poll;
  if (d[22] != 0xE0) return Msg::Other;
  switch (d[25]) {
    case 0x11: return Msg::Program;
    case 0x14: return Msg::PidRead;
    case 0x25: return Msg::PsiRead;
    case 0x30: return Msg::Pcr;
    default: return Msg::Other;
  }
}

void put32(Bytes& d, std::size_t at, std::uint32_t v) {
  for (std::size_t k = 0; k < 4; ++k) d[at + k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
}

// The device's 1046-byte status answer: the four NCOs and the erase flags.
Bytes statusAnswer(std::uint8_t pidBusy = 0, std::uint8_t psiBusy = 0, std::uint32_t nco401 = 2000000) {
  Bytes d(1046, 0);
  d[22] = 0xF0;
  d[25] = 0x45;
  d[26] = 0x1A;
  for (std::size_t at : {389u, 393u, 397u}) put32(d, at, 2000000);
  put32(d, 401, nco401);
  d[544] = pidBusy;
  const std::size_t psi[] = {583, 606, 629, 652};
  for (int u = 0; u < 4; ++u) d[psi[u]] = (psiBusy >> u) & 1;
  return d;
}

const Bytes kPidOk{0xC0, 0x00, 0xFF, 0xFF};
const Bytes kPsiOk{0x00, 0x00, 0x0A, 0x01, 0x47, 0x01, 0xAC};

Bytes readBack(const Bytes& at41) {
  Bytes d(297, 0);
  d[22] = 0xFE;
  std::copy(at41.begin(), at41.end(), d.begin() + 41);
  return d;
}

// How the device answers one message: the default, not at all, or these bytes.
struct Reply {
  enum Kind { Default, Silent, Custom } kind = Default;
  Bytes bytes;
  static Reply silent() { return {Silent, {}}; }
  static Reply with(Bytes b) { return {Custom, std::move(b)}; }
};

// Plays the device on the fake endpoint: answers 20 ms after each message. By
// default the erase is reported busy in the first answered poll and finished in the
// next, and everything reads back as programmed. `script` changes single answers
// (n counts the messages of that kind from 1).
struct Device {
  uitest::Harness& h;
  std::function<Reply(Msg, int n)> script;
  std::map<Msg, int> count;
  std::vector<std::pair<Msg, std::int64_t>> log;  // kind and time of every message

  explicit Device(uitest::Harness& harness) : h(harness) {
    h.endpoint.onSend = [this](const SentDatagram& s) { received(s); };
  }

  void received(const SentDatagram& s) {
    const Msg m = classify(s.data);
    const int n = ++count[m];
    log.push_back({m, s.at});
    Reply r = script ? script(m, n) : Reply{};
    if (r.kind == Reply::Silent) return;
    if (r.kind == Reply::Custom) {
      h.injectAfter(20, r.bytes);
      return;
    }
    switch (m) {
      case Msg::Config:
      case Msg::Program:
      case Msg::Pcr: h.injectAfter(20, statusAnswer()); break;
      case Msg::Poll: h.injectAfter(20, n == 1 ? statusAnswer(0x0F, 0x0F) : statusAnswer()); break;
      case Msg::PidRead: h.injectAfter(20, readBack(kPidOk)); break;
      case Msg::PsiRead: h.injectAfter(20, readBack(kPsiOk)); break;
      case Msg::Erase:
      case Msg::Other: break;
    }
  }
};

QColor yellow() { return tColor(0x80FFFF); }
QColor green() { return tColor(0xC0DCC0); }
QColor red() { return tColor(0x0000FF); }

}  // namespace

class MfgPageTest : public QObject {
  Q_OBJECT

  std::unique_ptr<uitest::Harness> h;
  std::unique_ptr<Device> dev;

  PageMfg* page() { return h->form().pageMfg(); }
  QString labelTest() { return h->text("LabelTest"); }
  // The blue process label (0..4), or -1; every other one must be black.
  int blueStep() {
    int blue = -1;
    for (int i = 0; i < 5; ++i) {
      const QColor c = page()->LabelProcess[static_cast<std::size_t>(i)]->palette().color(QPalette::WindowText);
      if (c == tColor(0xFF0000)) {
        if (blue != -1) return -2;
        blue = i;
      } else if (c != tColor(0x000000)) {
        return -3;
      }
    }
    return blue;
  }
  QColor unit(const char* group, int u) { return h->panel(QString("Panel%1%2").arg(group).arg(u))->color(); }
  void expectUnits(const char* group, const QColor& c) {
    for (int u = 1; u <= 4; ++u) QCOMPARE(unit(group, u), c);
  }
  void expectFailed(const QString& text, int step) {
    QCOMPARE(labelTest(), text);
    QCOMPARE(h->text("PanelTest"), QString("Programming failed"));
    QCOMPARE(h->panel("PanelTest")->color(), red());
    QVERIFY(page()->ButtonMS->isEnabled());
    QVERIFY(!page()->ButtonBreak->isEnabled());
    QCOMPARE(blueStep(), step);
    QVERIFY(!h->timer.enabled());
    QVERIFY(!h->endpoint.isActive());
  }
  void startRun() {
    h->form().tabs()->setCurrentIndex(TMainForm::TabMfg);
    h->click("ButtonMS");
  }

 private slots:
  void init() {
    h = std::make_unique<uitest::Harness>();
    dev = std::make_unique<Device>(*h);
  }
  void cleanup() {
    QCOMPARE(h->nonLoopbackSends(), 0);
    dev.reset();
    h.reset();
  }

  void successfulRun() {
    // The messages go to the device itself whatever the Main page's framing says.
    h->selectLink(0, 15);
    // An answer to the erase message must not be taken: the endpoint closes after it.
    dev->script = [](Msg m, int) { return m == Msg::Erase ? Reply::with(statusAnswer()) : Reply{}; };
    startRun();
    QCOMPARE(labelTest(), QString("Programming in progress..."));
    QVERIFY(!page()->ButtonMS->isEnabled());
    QVERIFY(page()->ButtonBreak->isEnabled());
    QCOMPARE(blueStep(), 0);
    QCOMPARE(h->panel("PanelTest")->color(), buttonFace());

    h->advance(30);  // configuration answered and checked: the erase is out
    QCOMPARE(labelTest(), QString("Erasing PID Filters and PSI Inserters..."));
    QCOMPARE(blueStep(), 1);
    QCOMPARE(h->form().device().NcoFrequency, 2000000);
    h->advance(300);  // the first poll, answered "busy"; its answer waits for the interval's end
    expectUnits("PID", buttonFace());
    h->advance(2000);
    QCOMPARE(labelTest(), QString("Erasing PID Filters and PSI Inserters... (4 sec)"));
    expectUnits("PID", yellow());
    expectUnits("PSI", yellow());

    h->advance(60000);
    QCOMPARE(labelTest(), QString("Test program loaded successfully."));
    QCOMPARE(h->text("PanelTest"), QString("Programming succeeded"));
    QCOMPARE(h->panel("PanelTest")->color(), green());
    expectUnits("PID", green());
    expectUnits("PSI", green());
    QCOMPARE(blueStep(), -1);
    QVERIFY(page()->ButtonMS->isEnabled());
    QVERIFY(!page()->ButtonBreak->isEnabled());
    QVERIFY(!h->timer.enabled());
    QVERIFY(!h->endpoint.isActive());
    QCOMPARE(page()->sequence().unansweredPolls(), 1);  // the pause after the erase

    // Order and spacing of the messages.
    const std::vector<Msg> order = {Msg::Config,  Msg::Erase,   Msg::Poll,    Msg::Poll,    Msg::Program,
                                    Msg::PidRead, Msg::PidRead, Msg::PidRead, Msg::PidRead, Msg::PsiRead,
                                    Msg::PsiRead, Msg::PsiRead, Msg::PsiRead};
    QCOMPARE(dev->log.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) QVERIFY(dev->log[i].first == order[i]);
    QCOMPARE(dev->log[2].second - dev->log[1].second, std::int64_t{200});
    QCOMPARE(dev->log[3].second - dev->log[2].second, std::int64_t{2000});
    QCOMPARE(dev->log[4].second - dev->log[3].second, std::int64_t{2000 + 1000});

    // Plain messages to the device IP and port; read-backs address one unit each.
    const auto& sent = h->endpoint.sent;
    for (const auto& s : sent) {
      QCOMPARE(s.host, std::string("127.0.0.1"));
      QCOMPARE(s.port, h->devicePort);
      QCOMPARE(std::string(s.data.begin(), s.data.begin() + 6), std::string("DDToIP"));
    }
    QCOMPARE(sent[0].data, tessaly::mfgConfigurationMessage(page()->sequence().inputs()));
    for (int u = 1; u <= 4; ++u) {
      QCOMPARE(sent[static_cast<std::size_t>(4 + u)].data, tessaly::mfgPidReadBackRequest(u, 58100));
      QCOMPARE(sent[static_cast<std::size_t>(8 + u)].data, tessaly::mfgPsiReadBackRequest(u));
    }
  }

  // The inputs as typed, what the run writes back, and the bytes that go out.
  void inputsAreNormalisedWrittenBackAndSent_data() {
    QTest::addColumn<bool>("boxes");
    QTest::addColumn<QStringList>("typed");  // TP, AP1..3, MIP1..4
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("all boxes") << true << QStringList{"70000", "1", "9000", "abc", "300", "123", "13", "100"}
                               << QStringList{"65535", "2", "8191", "160", "44", "123", "13", "100"};
    QTest::newRow("no boxes") << false << QStringList{"-1", "abc", "9000", "1", "300", "x", "$FF", "$10"}
                              << QStringList{"0", "150", "8191", "2", "44", "123", "255", "16"};
  }
  void inputsAreNormalisedWrittenBackAndSent() {
    QFETCH(bool, boxes);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, shown);
    const QStringList names = {"EditTP", "EditAP1", "EditAP2", "EditAP3", "EditMIP1", "EditMIP2", "EditMIP3", "EditMIP4"};
    for (int i = 1; i <= 3; ++i) page()->CheckBoxAP[static_cast<std::size_t>(i)]->setChecked(boxes);
    page()->CheckBoxMIP->setChecked(boxes);
    for (int i = 0; i < names.size(); ++i) h->find<QLineEdit>(names[i])->setText(typed[i]);
    startRun();
    for (int i = 0; i < names.size(); ++i) QCOMPARE(h->text(names[i]), shown[i]);
    h->advance(60000);
    QCOMPARE(labelTest(), QString("Test program loaded successfully."));

    const auto& sent = h->endpoint.sent;
    const Bytes& config = sent[0].data;
    QCOMPARE(config.size(), std::size_t(boxes ? 179 : 139));
    // Test PCR PID = the video PID, ticked or not.
    QCOMPARE(config[133], std::uint8_t{0x1F});
    QCOMPARE(config[134], std::uint8_t{0xFF});
    if (boxes) {
      QCOMPARE(config[152], std::uint8_t{0x2C});  // "300" went out as 44
      QCOMPARE(config[153], std::uint8_t{123});
    }
    const Bytes& program = sent[4].data;
    QVERIFY(classify(program) == Msg::Program);
    QCOMPARE(program.size(), std::size_t(boxes ? 282 : 249));
    const std::uint8_t portHi = boxes ? 0xFF : 0x00, portLo = boxes ? 0xFF : 0x00;
    for (int e = 0; e < (boxes ? 4 : 1); ++e) {
      const std::size_t at = 22 + 11 * static_cast<std::size_t>(e);
      QCOMPARE(program[at + 3], std::uint8_t{0x11});
      QCOMPARE(program[at + 5], portHi);
      QCOMPARE(program[at + 6], portLo);
    }
    if (boxes) {
      // PMT 2, video 8191, audio 160, each followed by itself with 0xC000 added.
      const Bytes pids = {0x00, 0x02, 0xC0, 0x02, 0x1F, 0xFF, 0xDF, 0xFF, 0x00, 0xA0, 0xC0, 0xA0};
      for (std::size_t e = 0; e < 3; ++e)
        for (std::size_t k = 0; k < 4; ++k) QCOMPARE(program[22 + 11 * (e + 1) + 7 + k], pids[4 * e + k]);
    }
    QCOMPARE(program[22 + 11 * (boxes ? 4 : 1) + 3], std::uint8_t{0x21});  // the PSI packet follows
  }

  // The PID read-backs take the test port from the edit as it stands then.
  void readBackTakesTheTestPortAsItStandsThen() {
    startRun();
    h->advance(3000);
    page()->EditTP->setText("abc");
    h->advance(60000);
    QCOMPARE(labelTest(), QString("Test program loaded successfully."));
    QCOMPARE(h->text("EditTP"), QString("58100"));
    page()->EditTP->setText("1234");
    dev->log.clear();
    dev->count.clear();
    h->endpoint.sent.clear();
    h->click("ButtonMS");
    QCOMPARE(h->text("EditTP"), QString("1234"));
    h->advance(5300);  // programming sent with 1234 and answered; the read-backs are due
    page()->EditTP->setText("70000");
    h->advance(60000);
    const auto& sent = h->endpoint.sent;
    QCOMPARE(sent[4].data[27], std::uint8_t{0x04});
    QCOMPARE(sent[4].data[28], std::uint8_t{0xD2});
    QCOMPARE(sent[5].data, tessaly::mfgPidReadBackRequest(1, 65535));
    QCOMPARE(h->text("EditTP"), QString("65535"));
  }

  void unansweredMessagesFail_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("afterMs");  // when the failure shows, from the start of the run
    QTest::newRow("configuration") << int(Msg::Config) << 1 << "Error: No ACK answer received (in 2s)." << 0 << 2000;
    QTest::newRow("programming") << int(Msg::Program) << 1 << "Error: No ACK answer received (in 2s)." << 2 << 7225;
    QTest::newRow("PID read-back 3") << int(Msg::PidRead) << 3 << "Error: No ACK answer received (in 1s)." << 3
                                     << 8850;
    QTest::newRow("PSI read-back 1") << int(Msg::PsiRead) << 1 << "Error: No ACK answer received (in 1s)." << 4
                                     << 11450;
  }
  void unansweredMessagesFail() {
    QFETCH(int, kind);
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(int, step);
    QFETCH(int, afterMs);
    dev->script = [&](Msg m, int i) { return int(m) == kind && i == n ? Reply::silent() : Reply{}; };
    startRun();
    h->advance(afterMs - 1);
    QVERIFY(labelTest() != text);
    h->advance(1);
    expectFailed(text, step);
    const auto sends = h->endpoint.sent.size();
    h->advance(10000);
    QCOMPARE(h->endpoint.sent.size(), sends);  // nothing more goes out
  }

  void wrongAnswersFail_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("step");
    auto bytes = [](const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); };
    Bytes longStatus = statusAnswer();
    longStatus.push_back(0);
    Bytes wrongType = statusAnswer();
    wrongType[22] = 0xF3;
    Bytes readBackF0 = readBack(kPidOk);
    readBackF0[22] = 0xF0;
    QTest::newRow("configuration, 1047 bytes") << int(Msg::Config) << bytes(longStatus) << 0;
    QTest::newRow("configuration, type F3") << int(Msg::Config) << bytes(wrongType) << 0;
    QTest::newRow("erase poll, a read-back") << int(Msg::Poll) << bytes(readBack(kPidOk)) << 1;
    QTest::newRow("erase poll, type F3") << int(Msg::Poll) << bytes(wrongType) << 1;
    QTest::newRow("programming, 1047 bytes") << int(Msg::Program) << bytes(longStatus) << 2;
    QTest::newRow("programming, type F3") << int(Msg::Program) << bytes(wrongType) << 2;
    QTest::newRow("PID read-back, a status") << int(Msg::PidRead) << bytes(statusAnswer()) << 3;
    QTest::newRow("PID read-back, type F0") << int(Msg::PidRead) << bytes(readBackF0) << 3;
    QTest::newRow("PSI read-back, a status") << int(Msg::PsiRead) << bytes(statusAnswer()) << 4;
    QTest::newRow("PSI read-back, type F0") << int(Msg::PsiRead) << bytes(readBackF0) << 4;
  }
  void wrongAnswersFail() {
    QFETCH(int, kind);
    QFETCH(QByteArray, answer);
    QFETCH(int, step);
    const Bytes b(answer.begin(), answer.end());
    dev->script = [&](Msg m, int) { return int(m) == kind ? Reply::with(b) : Reply{}; };
    startRun();
    h->advance(60000);
    expectFailed("Error: Unknown message received.", step);
  }

  void ncoReadBackWrongFails() {
    dev->script = [](Msg m, int) {
      return m == Msg::Config ? Reply::with(statusAnswer(0, 0, 1999999)) : Reply{};
    };
    startRun();
    h->advance(60000);
    expectFailed("Error: Setting NCO frequency failed.", 0);
    QCOMPARE(h->form().device().NcoFrequency, 1999999);
    QCOMPARE(dev->count[Msg::Erase], 0);
  }

  void eraseToleratesUnansweredPolls() {
    // The pause after the erase counts as the first unanswered one; poll 1 is lost
    // too, then the device answers: busy, busy, finished.
    dev->script = [](Msg m, int n) {
      if (m != Msg::Poll) return Reply{};
      if (n == 1) return Reply::silent();
      return Reply::with(n < 4 ? statusAnswer(0x0F, 0x0F) : statusAnswer());
    };
    startRun();
    h->advance(60000);
    QCOMPARE(labelTest(), QString("Test program loaded successfully."));
    QCOMPARE(page()->sequence().unansweredPolls(), 2);
  }

  void fiveUnansweredPollsEndTheErase() {
    // Lost: polls 1, 3, 5, 6, 7; busy answers between keep the erase going.
    dev->script = [](Msg m, int n) {
      if (m != Msg::Poll) return Reply{};
      if (n == 1 || n == 3 || n >= 5) return Reply::silent();
      return Reply::with(statusAnswer(0x0F, 0x0F));
    };
    startRun();
    h->advance(60000);
    expectFailed("No ACK received (5 times) !", 1);
    QCOMPARE(dev->count[Msg::Poll], 7);
    expectUnits("PID", yellow());  // as the failure found them
  }

  void eraseNeverFinishedHitsTheLimit_data() {
    QTest::addColumn<bool>("everBusy");
    QTest::newRow("always busy") << true;
    // A device that never reports busy has not shown that it erased anything.
    QTest::newRow("never busy") << false;
  }
  void eraseNeverFinishedHitsTheLimit() {
    QFETCH(bool, everBusy);
    dev->script = [&](Msg m, int) {
      return m == Msg::Poll ? Reply::with(everBusy ? statusAnswer(0x0F, 0x0F) : statusAnswer()) : Reply{};
    };
    startRun();
    h->advance(500000);
    QCOMPARE(labelTest(), QString("Erasing PID Filters and PSI Inserters... (500 sec)"));
    QVERIFY(page()->ButtonBreak->isEnabled());
    h->advance(100000);
    expectFailed("PID Filter or PSI Inserter erase failed.", 1);
    QCOMPARE(page()->sequence().elapsedSeconds(), 514);
    expectUnits("PID", red());
    expectUnits("PSI", red());
    QCOMPARE(dev->count[Msg::Program], 0);
  }

  void readBackMismatchFails_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("step");
    QTest::newRow("PID filter 2") << int(Msg::PidRead) << "PID" << "PID Filter read error!" << 3;
    QTest::newRow("PSI inserter 2") << int(Msg::PsiRead) << "PSI" << "PSI Inserter read error!" << 4;
  }
  void readBackMismatchFails() {
    QFETCH(int, kind);
    QFETCH(QString, group);
    QFETCH(QString, text);
    QFETCH(int, step);
    dev->script = [&](Msg m, int n) {
      if (int(m) != kind || n != 2) return Reply{};
      Bytes wrong = m == Msg::PidRead ? kPidOk : kPsiOk;
      wrong.back() ^= 1;
      return Reply::with(readBack(wrong));
    };
    startRun();
    h->advance(60000);
    expectFailed(text, step);
    const QByteArray g = group.toLatin1();
    QCOMPARE(unit(g.constData(), 1), green());
    QCOMPARE(unit(g.constData(), 2), red());
    QCOMPARE(unit(g.constData(), 3), green());
    QCOMPARE(unit(g.constData(), 4), green());
  }

  void stoppingMidRun_data() {
    QTest::addColumn<bool>("leavePage");
    QTest::newRow("Break") << false;
    QTest::newRow("another page shown") << true;
  }
  void stoppingMidRun() {
    QFETCH(bool, leavePage);
    startRun();
    h->advance(2300);  // erase running, panels yellow
    expectUnits("PID", yellow());
    if (leavePage)
      h->form().tabs()->setCurrentIndex(TMainForm::TabMain);
    else
      h->click("ButtonBreak");
    QCOMPARE(labelTest(), QString("Programming stopped."));
    QVERIFY(page()->ButtonMS->isEnabled());
    QVERIFY(!page()->ButtonBreak->isEnabled());
    QVERIFY(!h->timer.enabled());
    QVERIFY(!h->endpoint.isActive());
    expectUnits("PID", yellow());
    QCOMPARE(blueStep(), 1);
    QCOMPARE(h->text("PanelTest"), QString(""));
    QCOMPARE(h->panel("PanelTest")->color(), buttonFace());
    const auto sends = h->endpoint.sent.size();
    h->advance(20000);
    QCOMPARE(h->endpoint.sent.size(), sends);
    QCOMPARE(labelTest(), QString("Programming stopped."));
  }

  // With the window on screen the page's own hide event stops the run too; a window
  // torn down in the middle of a run goes quietly.
  void shownWindowStopsOnLeavingAndClosesCleanly() {
    h->form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h->form()));
    startRun();
    h->advance(30);
    h->form().tabs()->setCurrentIndex(TMainForm::TabGeneral);
    QCOMPARE(labelTest(), QString("Programming stopped."));
    QVERIFY(!h->timer.enabled());
    startRun();
    h->advance(30);
    QVERIFY(page()->ButtonBreak->isEnabled());
    dev.reset();
    h.reset();  // destroyed while shown and running
    h = std::make_unique<uitest::Harness>();
    dev = std::make_unique<Device>(*h);
  }

  void leavingThePageWithoutARunChangesNothing() {
    dev->script = [](Msg m, int) { return m == Msg::Config ? Reply::silent() : Reply{}; };
    startRun();
    h->advance(3000);
    expectFailed("Error: No ACK answer received (in 2s).", 0);
    h->form().tabs()->setCurrentIndex(TMainForm::TabGeneral);
    h->form().tabs()->setCurrentIndex(TMainForm::TabMfg);
    h->form().tabs()->setCurrentIndex(TMainForm::TabMain);
    expectFailed("Error: No ACK answer received (in 2s).", 0);
  }

  void sendFailures_data() {
    QTest::addColumn<int>("failAfter");  // successful sends before the failing one
    QTest::addColumn<QString>("caption");
    QTest::newRow("first send") << 0 << "Programming Failed";
    QTest::newRow("erase") << 1 << "Programming failed";
    QTest::newRow("programming") << 4 << "Programming failed";
    QTest::newRow("PSI read-back 4") << 12 << "Programming failed";
  }
  void sendFailures() {
    QFETCH(int, failAfter);
    QFETCH(QString, caption);
    int sends = 0;
    auto play = h->endpoint.onSend;
    h->endpoint.onSend = [&, play](const SentDatagram& s) {
      play(s);
      if (++sends == failAfter) h->endpoint.failSend = true;
    };
    h->endpoint.failSend = failAfter == 0;
    startRun();
    h->advance(60000);
    QCOMPARE(labelTest(), QString("Communication Error!"));
    QCOMPARE(h->text("PanelTest"), caption);
    QCOMPARE(h->panel("PanelTest")->color(), red());
    QVERIFY(page()->ButtonMS->isEnabled());
    QVERIFY(!page()->ButtonBreak->isEnabled());
    QVERIFY(!h->timer.enabled());
    QVERIFY(!h->endpoint.isActive());
  }

  void additionalPidBoxesEnableTheirEdits() {
    for (std::size_t i = 1; i <= 3; ++i) QVERIFY(!page()->EditAP[i]->isEnabled());  // unticked in the file
    page()->CheckBoxAP[2]->click();
    QVERIFY(page()->EditAP[2]->isEnabled());
    QVERIFY(!page()->EditAP[1]->isEnabled());
    page()->CheckBoxAP[2]->click();
    QVERIFY(!page()->EditAP[2]->isEnabled());

    uitest::Options o;
    o.extraSettings = "AdditionalPID1CB=1\nAdditionalPID3CB=1\n";
    dev.reset();
    h.reset();
    h = std::make_unique<uitest::Harness>(o);
    dev = std::make_unique<Device>(*h);
    QVERIFY(page()->EditAP[1]->isEnabled());
    QVERIFY(!page()->EditAP[2]->isEnabled());
    QVERIFY(page()->EditAP[3]->isEnabled());
  }

  void pcrCorrectorSwitches() {
    h->selectLink(0, 7);
    for (bool on : {true, false}) {
      h->endpoint.sent.clear();
      h->click(on ? "ButtonPCRON" : "ButtonPCROFF");
      QCOMPARE(h->endpoint.sent.size(), std::size_t{1});
      Bytes expected = tessaly::bytesOf("DDToIPQuillmarsh  ACK");
      tessaly::append(expected, Bytes{0x01, 0xE0, 0x00, 0x02, 0x30, std::uint8_t(on ? 0x0F : 0x00), 0x03, 0x00, 0x01, 0x01});
      QCOMPARE(h->endpoint.sent[0].data, expected);
      QCOMPARE(h->endpoint.sent[0].port, h->devicePort);
      QCOMPARE(int(h->form().engine().state()), 104);
      QCOMPARE(h->timer.interval(), 1000);
      h->advance(30);
      QCOMPARE(int(h->form().engine().state()), 105);
      QVERIFY(!h->timer.enabled());
    }
    // A time-out shows nothing; a send error closes the endpoint and shows nothing.
    dev->script = [](Msg, int) { return Reply::silent(); };
    h->click("ButtonPCRON");
    h->advance(1000);
    QCOMPARE(int(h->form().engine().state()), 104);
    h->endpoint.failSend = true;
    h->click("ButtonPCROFF");
    QVERIFY(!h->endpoint.isActive());
    QVERIFY(!h->timer.enabled());
    QCOMPARE(labelTest(), QString("Press 'Program Test Configuration' !"));
    QCOMPARE(h->text("PanelTest"), QString(""));
  }

  // A switch whose send fails leaves the transaction that was waiting to its own
  // time-out: the state is not taken over, the timer keeps its interval.
  void failedPcrSwitchLeavesWaitingTransaction() {
    struct Case {
      const char* starter;  // the button that starts the waiting transaction
      int waitState;
      int timeoutMs;
      const char* panel;
      QString shown;
    } cases[] = {
        {"ButtonEPF", 4, 1000, "PanelMpx", "No SDI IRQ received (in 1s)."},
        {"ButtonMS", 90, 2000, "LabelTest", "Error: No ACK answer received (in 2s)."},
    };
    for (const auto& c : cases) {
      dev.reset();
      h.reset();
      h = std::make_unique<uitest::Harness>();
      dev = std::make_unique<Device>(*h);
      dev->script = [](Msg, int) { return Reply::silent(); };
      h->find<QAbstractButton>(c.starter)->click();
      QCOMPARE(int(h->form().engine().state()), c.waitState);
      h->endpoint.failSend = true;
      h->click("ButtonPCRON");
      QCOMPARE(int(h->form().engine().state()), c.waitState);
      QVERIFY(!h->endpoint.isActive());
      QVERIFY(h->timer.enabled());
      QCOMPARE(h->timer.interval(), c.timeoutMs);
      h->advance(c.timeoutMs + 10);
      QCOMPARE(h->text(c.panel), c.shown);
      QVERIFY(page()->ButtonMS->isEnabled());
      QVERIFY(!page()->ButtonBreak->isEnabled());
    }
  }
};

// The page on a host of its own, to see the PCR chart points it asks for.
namespace {
class ChartHost : public PageHost {
 public:
  tessaly::testing::VirtualClock clock;
  tessaly::testing::VirtualTimer timer{clock};
  tessaly::testing::FakeEndpoint endpoint{&clock};
  tessaly::TransactionEngine eng{timer, endpoint};
  tessaly::tZODADevice dev;
  int samples = 0;

  tessaly::TransactionEngine& engine() override { return eng; }
  tessaly::tZODADevice& device() override { return dev; }
  tessaly::Framing framing() const override { return tessaly::Framing::DDToIP; }
  std::uint8_t sdiAddress() const override { return 1; }
  std::string deviceIp() const override { return "127.0.0.1"; }
  int devicePort() const override { return 9; }
  int hostPort() const override { return 9; }
  bool sendPageTransaction(const PageTransaction&) override { return false; }
  bool sendPageInstruction(std::string_view, std::uint8_t, const Bytes&, TPanel*, std::uint8_t, const QString&,
                           TMemo*) override {
    return false;
  }
  void query() override {}
  void message(const QString&) override {}
  void addChartSample() override { ++samples; }
};
}  // namespace

class MfgChartPoints : public QObject {
  Q_OBJECT
 private slots:
  void pointsForStatusAnswersOnly() {
    ChartHost host;
    PageMfg page(host);
    struct Case {
      Bytes answer;  // empty: none
      int points;
    } cases[] = {{statusAnswer(), 1}, {readBack(kPidOk), 0}, {{}, 0}, {Bytes(1046, 0), 0}};
    for (const auto& c : cases) {
      host.samples = 0;
      page.ButtonPCRONClick();
      if (!c.answer.empty()) host.endpoint.injectAfter(10, c.answer);
      host.clock.advance(2000);
      QCOMPARE(host.samples, c.points);
    }
    // The configuration answer of a run adds one too.
    host.samples = 0;
    page.ButtonMSClick();
    host.endpoint.injectAfter(10, statusAnswer());
    host.clock.advance(100);
    QCOMPARE(host.samples, 1);
    QCOMPARE(host.dev.NcoFrequency, 2000000);
    QCOMPARE(host.endpoint.sent.back().host, std::string("127.0.0.1"));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    MfgPageTest t;
    status |= QTest::qExec(&t, argc, argv);
  }
  {
    MfgChartPoints t;
    status |= QTest::qExec(&t, argc, argv);
  }
  return status;
}

#include "test_mfg_page.moc"
