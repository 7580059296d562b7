// A device IP that is a host name: the lookup runs in the background at every send,
// and each sender shows exactly what it shows with a dotted address, only later:
// once the datagram has left its "sent" texts and its wait, and when the lookup
// fails (or gives no answer within its own limit) its immediate send-failure display.
#include <QtTest>
#include <functional>

#include "app/ui/PageMain.h"
#include "helpers/UiHarness.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

using uitest::Harness;

namespace {

// The device IP becomes the host name "board.lab.1", set as a user sets it: an IP
// base (never validated) and the up-down's position.
void useHostName(TMainForm& form) {
  form.pageMain()->UpDownIP->setPosition(1);
  form.pageMain()->setIpBase("board.lab.");
}

struct Sender {
  const char* name;
  std::function<void(Harness&)> trigger;  // starts the transaction
  int waitMs;                             // the wait after the send
  QStringList controls;                   // what the display consists of
  QString failureText;                    // a text the failure display must show ("": none)
};

const std::vector<Sender>& senders() {
  static const std::vector<Sender> s = {
      {"Query", [](Harness& h) { h.click("ButtonQuery"); }, 1000,
       {"MemoInfo", "PanelMS", "PanelMpx", "PanelPSI", "PanelPCR", "LabelD"}, "Check your network connection!"},
      {"General", [](Harness& h) { h.click("ButtonReset"); }, 1000, {"LabelGS", "PanelGS"},
       "Communication Error! Check your network connection!"},
      {"Mpx", [](Harness& h) { h.click("ButtonEPF"); }, 1000, {"PanelMpx"},
       "Communication Error! Check your network connection!"},
      {"READPSI", [](Harness& h) { h.click("ButtonReadPSI"); }, 1000, {"PanelPSI", "MemoPSI"},
       "Communication Error! Check your network connection!"},
      {"PCR corrector", [](Harness& h) { h.click("ButtonSetPCR"); }, 1000, {"PanelPCR"}, "Communication Error!"},
      {"Instruction Test", [](Harness& h) { h.click("ButtonISend"); }, 1000, {"MemoIns"}, "Message cannot be sent."},
      {"PCR chart Start",
       [](Harness& h) {
         h.click("Button2");
         h.advance(100);  // the first poll
       },
       500, {"PanelPCR", "MemoInfo", "Button2", "Button3", "ButtonPCRQuery"}, "Communication Error!"},
      {"Manufacturer run", [](Harness& h) { h.click("ButtonMS"); }, 2000,
       {"LabelTest", "PanelTest", "ButtonMS", "ButtonBreak"}, "Programming Failed"},
      {"PCR switch", [](Harness& h) { h.click("ButtonPCRON"); }, 1000, {"PanelPCR1"}, ""},
  };
  return s;
}

// Texts, colours and button states of the controls, the engine's state, its timer
// and the endpoint; the device IP as sent is written <device>.
QStringList display(Harness& h, const QStringList& controls) {
  QStringList out;
  for (const QString& name : controls) {
    if (auto* m = h.form().findChild<TMemo*>(name)) {
      out << name + ": " + m->lines().join(" / ");
    } else if (auto* p = h.form().findChild<TPanel*>(name)) {
      out << name + ": " + p->caption() + " " + p->color().name();
    } else if (auto* b = h.form().findChild<QAbstractButton*>(name)) {
      out << name + (b->isEnabled() ? ": enabled" : ": disabled");
    } else {
      out << name + ": " + h.text(name);
    }
  }
  const auto& engine = h.form().engine();
  out << QString("state %1, timer %2, endpoint %3")
             .arg(engine.state())
             .arg(h.timer.enabled() ? QString::number(h.timer.interval()) : QString("off"))
             .arg(h.endpoint.isActive() ? "open" : "closed");
  return out.join("\n")
      .replace("board.lab.1", "<device>")
      .replace("127.0.0.1", "<device>")
      .replace(QString::number(h.devicePort), "<device port>")
      .replace(QString::number(h.hostPort), "<host port>")
      .split("\n");
}

enum class Lookup { Immediate, Slow, Fails, NeverAnswers };
constexpr int kSlowLookupMs = 1500;  // longer than any wait after a send
constexpr int kFailingLookupMs = 300;

// A resolver that never answers.
struct SilentResolver : tessaly::Resolver {
  int asked = 0;
  void lookup(const QString&, Done) override { ++asked; }
};

}  // namespace

Q_DECLARE_METATYPE(std::function<void(Harness&)>)

class HostLookupTest : public QObject {
  Q_OBJECT
 private slots:
  void hostNameShowsTheDottedDisplayLater_data() {
    QTest::addColumn<int>("sender");
    QTest::addColumn<int>("lookup");
    const std::pair<Lookup, const char*> lookups[] = {{Lookup::Immediate, "lookup answers at once"},
                                                      {Lookup::Slow, "lookup answers slowly"},
                                                      {Lookup::Fails, "lookup fails"},
                                                      {Lookup::NeverAnswers, "lookup never answers"}};
    for (int i = 0; i < int(senders().size()); ++i)
      for (const auto& [lookup, what] : lookups)
        QTest::newRow(qPrintable(QString(senders()[std::size_t(i)].name) + ", " + what)) << i << int(lookup);
  }
  void hostNameShowsTheDottedDisplayLater() {
    QFETCH(int, sender);
    QFETCH(int, lookup);
    const Sender& s = senders()[std::size_t(sender)];
    const auto how = static_cast<Lookup>(lookup);
    const bool resolves = how == Lookup::Immediate || how == Lookup::Slow;

    // The same action with a dotted address: what it shows once sent and after its
    // wait; or, for a failing lookup, a send that fails at once.
    Harness dotted;
    if (!resolves) useHostName(dotted.form());  // a name that fails at once
    s.trigger(dotted);
    const QStringList sent = display(dotted, s.controls);
    if (!resolves && !s.failureText.isEmpty())
      QVERIFY2(sent.join("\n").contains(s.failureText), qPrintable(sent.join("\n")));
    dotted.advance(s.waitMs + 10);
    const QStringList waited = display(dotted, s.controls);

    Harness named;
    useHostName(named.form());
    named.endpoint.namesWait = true;
    s.trigger(named);
    QVERIFY(named.endpoint.sendPending());
    switch (how) {
      case Lookup::Immediate: named.endpoint.finishLookup(true); break;
      case Lookup::Slow:
        named.advance(kSlowLookupMs);
        QVERIFY(named.endpoint.sent.empty());
        named.endpoint.finishLookup(true);
        break;
      case Lookup::Fails:
        named.advance(kFailingLookupMs);
        named.endpoint.finishLookup(false);
        break;
      case Lookup::NeverAnswers:
        named.advance(tessaly::kLookupLimitMs - 1);
        QVERIFY(named.endpoint.sendPending());
        // Nothing of a successful send shows while the lookup runs.
        QVERIFY(!display(named, s.controls).join("\n").contains("Message sent"));
        named.advance(1);
        break;
    }
    QVERIFY(!named.endpoint.sendPending());
    QCOMPARE(display(named, s.controls), sent);
    if (resolves) {
      QCOMPARE(named.endpoint.sent.size(), std::size_t(1));
      QCOMPARE(named.endpoint.sent[0].host, std::string("board.lab.1"));
      named.advance(s.waitMs + 10);
      QCOMPARE(display(named, s.controls), waited);
    } else {
      QVERIFY(named.endpoint.sent.empty());
      named.advance(s.waitMs + 10);  // and nothing follows
      QCOMPARE(display(named, s.controls), sent);
    }
    QCOMPARE(named.endpoint.lookups, 1);
  }

  // Two actions to the name within one lookup: the older ends through its own
  // send-failure display, the newer goes on as with a dotted address.
  void newerSendEndsTheWaitingOne_data() {
    QTest::addColumn<int>("older");
    QTest::addColumn<int>("newer");
    auto index = [](const char* name) {
      for (int i = 0; i < int(senders().size()); ++i)
        if (QString(senders()[std::size_t(i)].name) == name) return i;
      return -1;
    };
    QTest::newRow("Query, then the chart's Start") << index("Query") << index("PCR chart Start");
    QTest::newRow("Instruction Test, then READPSI") << index("Instruction Test") << index("READPSI");
    QTest::newRow("READPSI, then the Instruction Test") << index("READPSI") << index("Instruction Test");
    QTest::newRow("PCR switch, then the General page") << index("PCR switch") << index("General");
    QTest::newRow("Manufacturer run, then the Query") << index("Manufacturer run") << index("Query");
    QTest::newRow("the Instruction Test twice") << index("Instruction Test") << index("Instruction Test");
  }
  void newerSendEndsTheWaitingOne() {
    QFETCH(int, older);
    QFETCH(int, newer);
    const Sender& o = senders()[std::size_t(older)];
    const Sender& n = senders()[std::size_t(newer)];

    Harness failed;  // the older action's send failing at once
    useHostName(failed.form());
    o.trigger(failed);
    QStringList olderFailed = display(failed, o.controls);
    olderFailed.removeLast();  // the engine line belongs to the newer action
    // The newer action's own controls (those the older failure also wrote are left out).
    QStringList newerControls = n.controls;
    if (older != newer)
      for (const QString& c : o.controls) newerControls.removeAll(c);
    Harness dotted;  // the newer action alone, dotted address
    n.trigger(dotted);
    const QStringList newerSent = display(dotted, newerControls);
    dotted.advance(n.waitMs + 10);
    const QStringList newerWaited = display(dotted, newerControls);

    Harness h;
    useHostName(h.form());
    h.endpoint.namesWait = true;
    o.trigger(h);
    h.advance(50);
    n.trigger(h);
    if (older != newer) QCOMPARE(display(h, o.controls).mid(0, olderFailed.size()), olderFailed);
    QVERIFY(h.endpoint.sendPending());
    h.endpoint.finishLookup(true);
    QCOMPARE(display(h, newerControls), newerSent);
    h.advance(n.waitMs + 10);
    QCOMPARE(display(h, newerControls), newerWaited);
    QCOMPARE(h.endpoint.sent.size(), std::size_t(1));
  }

  // Stop, Break and leaving the Manufacturer Setup page during a run drop a send that
  // waits for its lookup, as they drop a transaction: nothing goes out, nothing is
  // reported, the timer stays off.
  void stopAndBreakDropTheWaitingSend_data() {
    using Step = std::function<void(Harness&)>;
    QTest::addColumn<Step>("start");
    QTest::addColumn<Step>("stop");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("stoppedText");
    auto click = [](const char* name) { return Step([name](Harness& h) { h.click(name); }); };
    auto page = [](int index) { return Step([index](Harness& h) { h.form().tabs()->setCurrentIndex(index); }); };
    const Step mfgRun = [](Harness& h) {
      h.form().tabs()->setCurrentIndex(TMainForm::TabMfg);
      h.click("ButtonMS");
    };
    QTest::newRow("chart Stop") << click("Button2") << click("Button3") << "PanelPCR"
                                << "Press Start to analize PCR Correction!";
    QTest::newRow("chart, another page shown") << click("Button2") << page(TMainForm::TabGeneral) << "PanelPCR"
                                               << "Press Start to analize PCR Correction!";
    QTest::newRow("manufacturer run, page left") << mfgRun << page(TMainForm::TabMain) << "LabelTest"
                                                 << "Programming stopped.";
  }
  void stopAndBreakDropTheWaitingSend() {
    using Step = std::function<void(Harness&)>;
    QFETCH(Step, start);
    QFETCH(Step, stop);
    QFETCH(QString, control);
    QFETCH(QString, stoppedText);
    Harness h;
    useHostName(h.form());
    h.endpoint.namesWait = true;
    start(h);
    h.advance(100);
    QVERIFY(h.endpoint.sendPending());
    stop(h);
    QCOMPARE(h.text(control), stoppedText);
    QVERIFY(!h.endpoint.sendPending());
    h.endpoint.finishLookup(true);
    h.advance(tessaly::kLookupLimitMs + 1000);
    QCOMPARE(h.text(control), stoppedText);
    QVERIFY(h.endpoint.sent.empty());
    QVERIFY(!h.form().engine().timer().enabled());
  }

  // The production endpoint and timer with a resolver that never answers: the click
  // returns at once (a blocking lookup would never return), and the lookup's limit
  // ends it with the communication error.
  void windowNeverWaitsForTheLookup() {
    uitest::TempWorkDir dir;
    dir.write("Settings.ini", uitest::loopbackSettings(uitest::freeUdpPort(), uitest::freeUdpPort()));
    SilentResolver resolver;
    tessaly::QtTimer timer;
    tessaly::QtUdpEndpoint endpoint(resolver);
    TMainForm form(timer, endpoint);
    useHostName(form);
    const QString before = uitest::textOf(form, "PanelMS");
    QTest::mouseClick(form.findChild<QAbstractButton*>("ButtonQuery"), Qt::LeftButton);
    QCOMPARE(resolver.asked, 1);
    QCOMPARE(uitest::textOf(form, "PanelMS"), before);
    QTRY_COMPARE_WITH_TIMEOUT(uitest::textOf(form, "PanelMS"), QString("Communication Error!"),
                              tessaly::kLookupLimitMs + 3000);
    QCOMPARE(form.findChild<TMemo*>("MemoInfo")->lines(),
             (QStringList{"Communication Error!", "Check your network connection!"}));
    QVERIFY(!endpoint.isActive());
  }
};

QTEST_MAIN(HostLookupTest)
#include "test_host_lookup.moc"
