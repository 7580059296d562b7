// A device IP that is a host name: the lookup runs in the background, and a lookup
// that fails or has not answered when the wait ends shows each sender's own
// communication-error display, exactly as a send that fails at once does.
#include <QtTest>
#include <functional>

#include "app/ui/PageMain.h"
#include "helpers/UiHarness.h"
#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"

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
  QString expected;                       // a text the display must show
};

const std::vector<Sender>& senders() {
  static const std::vector<Sender> s = {
      {"Query", [](Harness& h) { h.click("ButtonQuery"); }, 1000,
       {"MemoInfo", "PanelMS", "PanelMpx", "PanelPSI"}, "Check your network connection!"},
      {"General", [](Harness& h) { h.click("ButtonReset"); }, 1000, {"LabelGS", "PanelGS"},
       "Communication Error! Check your network connection!"},
      {"Mpx", [](Harness& h) { h.click("ButtonEPF"); }, 1000, {"PanelMpx"},
       "Communication Error! Check your network connection!"},
      {"PSI", [](Harness& h) { h.click("ButtonErasePSI"); }, 1000, {"PanelPSI"},
       "Communication Error! Check your network connection!"},
      {"PCR corrector", [](Harness& h) { h.click("ButtonSetPCR"); }, 1000, {"PanelPCR"}, "Communication Error!"},
      {"Instruction Test", [](Harness& h) { h.click("ButtonISend"); }, 1000, {"MemoIns"}, "Message cannot be sent."},
      {"PCR chart",
       [](Harness& h) {
         h.click("Button2");
         h.advance(100);  // the first poll
       },
       500, {"PanelPCR", "MemoInfo", "Button3", "Button2"}, "Communication Error!"},
      {"Manufacturer run", [](Harness& h) { h.click("ButtonMS"); }, 2000,
       {"LabelTest", "PanelTest", "ButtonMS", "ButtonBreak"}, "Programming Failed"},
  };
  return s;
}

// Texts, colours and button states of the controls; memos by their last three lines
// (the Instruction Test memo keeps its send report above the error).
QStringList display(Harness& h, const QStringList& controls) {
  QStringList out;
  for (const QString& name : controls) {
    if (auto* m = h.form().findChild<TMemo*>(name)) {
      out << name + ": " + m->lines().mid(std::max<qsizetype>(0, m->lines().size() - 3)).join(" / ");
    } else if (auto* p = h.form().findChild<TPanel*>(name)) {
      out << name + ": " + p->caption() + " " + p->color().name();
    } else if (auto* b = h.form().findChild<QAbstractButton*>(name)) {
      out << name + (b->isEnabled() ? ": enabled" : ": disabled");
    } else {
      out << name + ": " + h.text(name);
    }
  }
  return out;
}

// A resolver that never answers.
struct SilentResolver : tessaly::Resolver {
  int asked = 0;
  void lookup(const QString&, Done) override { ++asked; }
};

}  // namespace

class HostLookupTest : public QObject {
  Q_OBJECT
 private slots:
  void lateFailureShowsTheImmediateFailureDisplay_data() {
    QTest::addColumn<int>("sender");
    QTest::addColumn<bool>("lookupFails");  // false: it never answers
    for (int i = 0; i < int(senders().size()); ++i) {
      QTest::newRow(qPrintable(QString(senders()[std::size_t(i)].name) + ", lookup fails")) << i << true;
      QTest::newRow(qPrintable(QString(senders()[std::size_t(i)].name) + ", no answer in time")) << i << false;
    }
  }
  void lateFailureShowsTheImmediateFailureDisplay() {
    QFETCH(int, sender);
    QFETCH(bool, lookupFails);
    const Sender& s = senders()[std::size_t(sender)];

    Harness immediate;
    useHostName(immediate.form());  // resolves to nothing
    s.trigger(immediate);
    const QStringList expected = display(immediate, s.controls);
    QVERIFY2(expected.join("\n").contains(s.expected), qPrintable(expected.join("\n")));

    Harness late;
    useHostName(late.form());
    late.endpoint.namesWait = true;
    s.trigger(late);
    QVERIFY(late.endpoint.sendPending());
    if (lookupFails) {
      late.advance(s.waitMs / 2);
      late.endpoint.finishLookup(false);
    } else {
      late.advance(s.waitMs + 10);
    }
    QCOMPARE(display(late, s.controls), expected);
    QVERIFY(!late.endpoint.isActive());
    QVERIFY(!late.timer.enabled());
    QVERIFY(late.endpoint.sent.empty());
    QCOMPARE(late.nonLoopbackSends(), 0);
  }

  void lookupThatAnswersInTimeIsOneLookupPerText() {
    Harness h;
    useHostName(h.form());
    h.endpoint.namesWait = true;
    h.click("ButtonReset");
    h.advance(200);
    h.endpoint.finishLookup(true);
    h.injectAfter(100, uitest::datagramOfLength(10));
    h.advance(200);
    QCOMPARE(h.text("LabelGS"), QString("SDI IRQ received."));
    QCOMPARE(h.endpoint.sent.size(), std::size_t(1));
    QCOMPARE(h.endpoint.sent[0].host, std::string("board.lab.1"));
  }

  // The production endpoint and timer with a resolver that never answers: the click
  // returns at once (a blocking lookup would never return), and the wait ends with
  // the communication error.
  void windowNeverWaitsForTheLookup() {
    uitest::TempWorkDir dir;
    dir.write("Settings.ini", uitest::loopbackSettings(uitest::freeUdpPort(), uitest::freeUdpPort()));
    SilentResolver resolver;
    tessaly::QtTimer timer;
    tessaly::QtUdpEndpoint endpoint(resolver);
    TMainForm form(timer, endpoint);
    useHostName(form);
    QTest::mouseClick(form.findChild<QAbstractButton*>("ButtonQuery"), Qt::LeftButton);
    QCOMPARE(resolver.asked, 1);
    QCOMPARE(uitest::textOf(form, "PanelMS"), QString("Message sent, waiting for reply..."));
    QTRY_COMPARE_WITH_TIMEOUT(uitest::textOf(form, "PanelMS"), QString("Communication Error!"), 3000);
    QCOMPARE(form.findChild<TMemo*>("MemoInfo")->lines(),
             (QStringList{"Communication Error!", "Check your network connection!"}));
    QVERIFY(!endpoint.isActive());
  }
};

QTEST_MAIN(HostLookupTest)
#include "test_host_lookup.moc"
