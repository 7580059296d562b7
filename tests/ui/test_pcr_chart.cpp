// "PCR Corrector" chart: the polling cadence on virtual time, the plotted points,
// the bottom axis steps, the stop after 3,600 samples, Continue and Clear, invalid
// and missing answers, a failed send, Auto Scale, and stopping when another page
// is shown.
#include <QtTest>
#include <functional>

#include "app/MainForm.h"
#include "app/ui/PageMain.h"
#include "app/ui/PagePcr.h"
#include "helpers/UiHarness.h"
#include "link/Engine.h"
#include "status/Decode.h"
#include "status/StatusReport.h"
#include "widgets/LineChart.h"

using tessaly::Bytes;
using uitest::Harness;
using uitest::StatusBlock;

namespace {

const QColor kLightOrange = tColor(tessaly::colour::LightOrange);

bool isStatusRequest(const Bytes& d) { return d.size() == 18 || d.size() == 28; }

StatusBlock slideBlock(std::int32_t slide) {
  return StatusBlock().set16(tessaly::block::PcrSlide, static_cast<std::uint32_t>(slide + 32768));
}

// Plays a board that answers every status request `delayMs` later; `answer`
// gives the datagram for the n-th request (1-based).
struct Board {
  Harness& h;
  std::function<Bytes(int)> answer;
  int delayMs = 50;
  int requests = 0;
  explicit Board(Harness& harness, std::function<Bytes(int)> a = {}) : h(harness), answer(std::move(a)) {
    if (!answer) answer = [](int) { return uitest::cwNetAnswer(slideBlock(0)); };
    h.endpoint.onSend = [this](const tessaly::testing::SentDatagram& s) {
      if (!isStatusRequest(s.data)) return;
      ++requests;
      h.injectAfter(delayMs, answer(requests));
    };
  }
  ~Board() { h.endpoint.onSend = nullptr; }
};

}  // namespace

class PcrChartTest : public QObject {
  Q_OBJECT

  static PagePcr* page(Harness& h) { return h.form().pagePcr(); }
  static TLineChart* chart(Harness& h) { return page(h)->ChartPCR; }
  static void showPcrPage(Harness& h) { h.form().tabs()->setCurrentIndex(TMainForm::TabPcr); }
  static std::vector<std::int64_t> sendTimes(Harness& h) {
    std::vector<std::int64_t> t;
    for (const auto& s : h.endpoint.sent) t.push_back(s.at);
    return t;
  }
  static void checkPollingButtons(Harness& h, bool polling) {
    for (const char* name : {"Button3", "Button4"}) QCOMPARE(h.find<QWidget>(name)->isEnabled(), polling);
    for (const char* name : {"Button2", "Button5", "ButtonPCRQuery", "ButtonSetPCR", "ButtonST1"})
      QCOMPARE(h.find<QWidget>(name)->isEnabled(), !polling);
  }

 private slots:
  void openingState() {
    Harness h;
    checkPollingButtons(h, false);
    QCOMPARE(chart(h)->bottomMax(), 500.0);
    QVERIFY(!chart(h)->leftAutomatic());
    QCOMPARE(chart(h)->leftMin(), -120.0);
    QCOMPARE(chart(h)->leftMax(), 120.0);
    QCOMPARE(chart(h)->count(), 0);
  }

  void cadenceAndPoints_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void cadenceAndPoints() {
    QFETCH(int, framing);
    Harness h;
    h.selectLink(framing, 3);
    showPcrPage(h);
    Board board(h, [framing](int n) {
      const StatusBlock b = slideBlock(291 * n);
      return framing ? uitest::ddtoipAnswer(b) : uitest::cwNetAnswer(b, 3);
    });
    h.click("Button2");
    checkPollingButtons(h, true);
    QCOMPARE(chart(h)->bottomMax(), 100.0);
    h.advance(99);
    QVERIFY(h.endpoint.sent.empty());
    h.advance(1);
    QCOMPARE(h.endpoint.sent.size(), std::size_t(1));
    QCOMPARE(h.endpoint.sent[0].data, tessaly::encodeReadDatagram(tessaly::Framing(framing), 3));
    QCOMPARE(h.text("PanelPCR"), QString("Message sent..."));
    // The answer (at 150 ms) waits for the end of the 500 ms wait.
    h.advance(499);
    QCOMPARE(chart(h)->count(), 0);
    QCOMPARE(h.form().engine().state(), tessaly::state::ChartPollGot);
    h.advance(1);
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(h.text("PanelPCR"), QString("Data refreshed."));
    QCOMPARE(h.text("LabelCOR"), QString("COR @ 40 ms: 1"));
    h.advance(2400);
    QCOMPARE(sendTimes(h), (std::vector<std::int64_t>{100, 1100, 2100}));
    QCOMPARE(chart(h)->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(chart(h)->point(i), QPointF(i + 1, i + 1));
    QCOMPARE(h.form().device().SampleCount, 3);
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  // The poll path appends a whole report per decoded answer without clearing.
  void eachAnswerAppendsAReport() {
    Harness h;
    showPcrPage(h);
    Board board(h);
    h.click("Button2");
    h.advance(600);
    const int once = h.form().pageMain()->MemoInfo->lineCount();
    h.advance(1000);
    const int twice = h.form().pageMain()->MemoInfo->lineCount();
    QVERIFY(twice > once);
    QCOMPARE(twice - once, static_cast<int>(tessaly::statusReportLines(h.form().device()).size()));
  }

  void slideValues_data() {
    QTest::addColumn<int>("slide");
    QTest::addColumn<double>("y");
    QTest::newRow("-582") << -582 << -2.0;
    QTest::newRow("290") << 290 << 0.0;
    QTest::newRow("-290") << -290 << 0.0;
    QTest::newRow("-32768") << -32768 << -112.0;
  }
  void slideValues() {
    QFETCH(int, slide);
    QFETCH(double, y);
    Harness h;
    showPcrPage(h);
    Board board(h, [slide](int) { return uitest::cwNetAnswer(slideBlock(slide)); });
    h.click("Button2");
    h.advance(600);
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(chart(h)->point(0), QPointF(1, y));
  }

  void axisStepsStopAndContinue() {
    Harness h;
    showPcrPage(h);
    Board board(h);
    h.click("Button2");
    const struct {
      int sample;
      double max;
    } steps[] = {{1, 100}, {89, 100}, {90, 300}, {289, 300}, {290, 600}, {589, 600},
                 {590, 1800}, {1789, 1800}, {1790, 3600}, {3600, 3600}};
    std::int64_t now = 0;
    for (const auto& s : steps) {
      const std::int64_t at = 600 + 1000LL * (s.sample - 1);
      h.advance(at - now);
      now = at;
      QCOMPARE(h.form().device().SampleCount, s.sample);
      QCOMPARE(chart(h)->bottomMax(), s.max);
    }
    // The 3,600th point is plotted, then polling stops as by Stop.
    QCOMPARE(chart(h)->count(), 3600);
    QCOMPARE(chart(h)->point(3599).x(), 3600.0);
    checkPollingButtons(h, false);
    QCOMPARE(h.text("PanelPCR"), QString("Press Start to analize PCR Correction!"));
    QCOMPARE(h.panel("PanelPCR")->color(), buttonFace());
    QVERIFY(!h.timer.enabled());
    const std::size_t sends = h.endpoint.sent.size();
    h.advance(5000);
    QCOMPARE(h.endpoint.sent.size(), sends);

    // Continue numbers from 1 again, keeps the old points and the axis until x = 90.
    Board answers(h, [](int) { return uitest::cwNetAnswer(slideBlock(-582)); });
    h.click("Button5");
    checkPollingButtons(h, true);
    h.advance(600);
    QCOMPARE(h.form().device().SampleCount, 1);
    QCOMPARE(chart(h)->count(), 3601);
    QCOMPARE(chart(h)->bottomMax(), 3600.0);
    // Points stay in ascending x: the new x = 1 sits after the old x = 1.
    QCOMPARE(chart(h)->point(0), QPointF(1, 0));
    QCOMPARE(chart(h)->point(1), QPointF(1, -2));
    h.advance(1000LL * 88);
    QCOMPARE(h.form().device().SampleCount, 89);
    QCOMPARE(chart(h)->bottomMax(), 3600.0);
    h.advance(1000);
    QCOMPARE(chart(h)->bottomMax(), 300.0);
  }

  void continueBeforeStart() {
    Harness h;
    showPcrPage(h);
    Board board(h, [](int) { return uitest::cwNetAnswer(slideBlock(-582)); });
    h.click("Button5");
    checkPollingButtons(h, true);
    h.advance(99);
    QVERIFY(h.endpoint.sent.empty());
    h.advance(501);
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(chart(h)->point(0), QPointF(1, -2));
    QCOMPARE(chart(h)->bottomMax(), 500.0);
    h.advance(1000LL * 88);
    QCOMPARE(chart(h)->bottomMax(), 500.0);
    h.advance(1000);
    QCOMPARE(h.form().device().SampleCount, 90);
    QCOMPARE(chart(h)->bottomMax(), 300.0);
  }

  // A bad answer shows its message in light orange and repeats the last value.
  void invalidAnswerRepeatsThePoint_data() {
    QTest::addColumn<Bytes>("bad");
    QTest::addColumn<QString>("message");
    Bytes code = uitest::cwNetAnswer(slideBlock(582));
    code[6] = 0x18;
    QTest::newRow("CW-Net answer code") << code << "Unknown message received.";
    QTest::newRow("DDToIP no device")
        << uitest::ddtoipAnswer(slideBlock(582).set8(tessaly::block::Presence, 0)) << "No device connected to the SDI.";
    QTest::newRow("CW-Net other device") << uitest::cwNetAnswer(slideBlock(582).set8(tessaly::block::DeviceCode, 0x1B))
                                         << "There is no ASI Remultiplexer connected to the SDI.";
    QTest::newRow("other length") << uitest::datagramOfLength(1046, 0x45) << "Unknown message received.";
  }
  void invalidAnswerRepeatsThePoint() {
    QFETCH(Bytes, bad);
    QFETCH(QString, message);
    Harness h;
    showPcrPage(h);
    Board board(h, [bad](int n) { return n == 1 ? uitest::cwNetAnswer(slideBlock(-582)) : bad; });
    h.click("Button2");
    h.advance(600);
    const QStringList report = h.form().pageMain()->MemoInfo->lines();
    h.advance(1000);
    QCOMPARE(h.text("PanelPCR"), message);
    QCOMPARE(h.panel("PanelPCR")->color(), kLightOrange);
    QCOMPARE(chart(h)->count(), 2);
    QCOMPARE(chart(h)->point(1), QPointF(2, -2));
    QCOMPARE(h.form().device().PcrSlide, -582);  // not decoded
    QCOMPARE(h.form().pageMain()->MemoInfo->lines(), report);
    // Polling goes on.
    QVERIFY(h.timer.enabled());
    h.advance(500);
    QCOMPARE(board.requests, 3);
  }

  // Checked by length whatever the framing selected: a DDToIP answer to a CW-Net request decodes.
  void answerCheckedByLength() {
    Harness h;
    h.selectLink(0);
    showPcrPage(h);
    Board board(h, [](int) { return uitest::ddtoipAnswer(slideBlock(-582)); });
    h.click("Button2");
    h.advance(600);
    QCOMPARE(h.text("PanelPCR"), QString("Data refreshed."));
    QCOMPARE(chart(h)->point(0), QPointF(1, -2));
    QCOMPARE(h.form().device().AnswerBase, 25);
  }

  // An answer too late for the 500 ms wait (the endpoint is closed by then), or the
  // status of another board than the one polled (a late answer to an earlier request),
  // is no answer: the request is sent again.
  void missingAnswerIsSentAgain_data() {
    QTest::addColumn<int>("firstDelayMs");
    QTest::addColumn<int>("firstAddress");
    QTest::newRow("too late") << 700 << 1;
    QTest::newRow("another board's status") << 50 << 2;
  }
  void missingAnswerIsSentAgain() {
    QFETCH(int, firstDelayMs);
    QFETCH(int, firstAddress);
    Harness h;
    showPcrPage(h);
    Board board(h, [firstAddress](int n) {
      return uitest::cwNetAnswer(slideBlock(-582).set8(tessaly::block::Address, n == 1 ? firstAddress : 1));
    });
    board.delayMs = firstDelayMs;
    h.click("Button2");
    h.advance(600);
    QCOMPARE(h.text("PanelPCR"), QString("SDI Answer not received!"));
    QCOMPARE(h.panel("PanelPCR")->color(), kLightOrange);
    QCOMPARE(chart(h)->count(), 0);
    QCOMPARE(h.form().device().SampleCount, 0);
    board.delayMs = 50;
    h.advance(500);
    QCOMPARE(sendTimes(h), (std::vector<std::int64_t>{100, 1100}));
    QCOMPARE(h.endpoint.sent[1].data, h.endpoint.sent[0].data);
    h.advance(500);
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(chart(h)->point(0), QPointF(1, -2));
  }

  void sendFailureRestsInState201() {
    Harness h;
    showPcrPage(h);
    Board board(h);
    h.click("Button2");
    h.endpoint.failSend = true;
    h.advance(100);
    QCOMPARE(h.text("PanelPCR"), QString("Communication Error!"));
    QCOMPARE(h.panel("PanelPCR")->color(), kLightOrange);
    QCOMPARE(h.form().pageMain()->MemoInfo->lines().join(""), QString());
    QCOMPARE(h.form().engine().state(), tessaly::state::ChartPollSent);
    QVERIFY(!h.timer.enabled());
    QVERIFY(!h.endpoint.isActive());
    checkPollingButtons(h, true);
    h.advance(10000);
    QCOMPARE(chart(h)->count(), 0);
    // Stop, then Continue takes it up again.
    h.click("Button3");
    checkPollingButtons(h, false);
    h.endpoint.failSend = false;
    h.click("Button5");
    h.advance(600);
    QCOMPARE(chart(h)->count(), 1);
  }

  void stopAndClear() {
    Harness h;
    showPcrPage(h);
    Board board(h);
    h.click("Button2");
    h.advance(3000);
    QCOMPARE(chart(h)->count(), 3);
    // Clear while polling: the next point is x = 1 on an axis of 100, polling goes on.
    h.click("Button4");
    QCOMPARE(chart(h)->count(), 0);
    QCOMPARE(chart(h)->bottomMax(), 100.0);
    h.advance(1000);
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(chart(h)->point(0).x(), 1.0);
    h.click("Button3");
    checkPollingButtons(h, false);
    QVERIFY(!h.timer.enabled());
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(h.text("PanelPCR"), QString("Press Start to analize PCR Correction!"));
    const std::size_t sends = h.endpoint.sent.size();
    h.advance(5000);
    QCOMPARE(h.endpoint.sent.size(), sends);
    // Start clears what Stop kept.
    h.click("Button2");
    QCOMPARE(chart(h)->count(), 0);
    QCOMPARE(h.form().device().SampleCount, 0);
  }

  void autoScale() {
    Harness h;
    showPcrPage(h);
    Board board(h, [](int n) { return uitest::cwNetAnswer(slideBlock(n == 1 ? -582 : 1455)); });
    h.click("CheckBox9");
    QVERIFY(chart(h)->leftAutomatic());
    h.click("CheckBox9");
    QVERIFY(!chart(h)->leftAutomatic());
    QCOMPARE(chart(h)->leftMin(), -120.0);
    QCOMPARE(chart(h)->leftMax(), 120.0);
    h.click("CheckBox9");
    h.click("Button2");
    h.advance(1600);
    QVERIFY(chart(h)->leftAutomatic());
    QCOMPARE(chart(h)->leftMin(), -2.0);
    QCOMPARE(chart(h)->leftMax(), 5.0);
  }

  void anotherPageStopsPolling_data() {
    QTest::addColumn<int>("tab");
    QTest::newRow("Main") << int(TMainForm::TabMain);
    QTest::newRow("Instruction Test") << int(TMainForm::TabInstrTest);
    QTest::newRow("General") << int(TMainForm::TabGeneral);
    QTest::newRow("Mpx and PID Filter") << int(TMainForm::TabMpx);
    QTest::newRow("SDRAM and PSI Inserter") << int(TMainForm::TabPsi);
    QTest::newRow("Manufacturer Setup") << int(TMainForm::TabMfg);
  }
  void anotherPageStopsPolling() {
    QFETCH(int, tab);
    Harness h;
    showPcrPage(h);
    Board board(h);
    h.click("Button2");
    h.advance(1200);
    h.form().tabs()->setCurrentIndex(tab);
    checkPollingButtons(h, false);
    QVERIFY(!h.timer.enabled());
    QCOMPARE(h.text("PanelPCR"), QString("Press Start to analize PCR Correction!"));
    showPcrPage(h);
    const std::size_t sends = h.endpoint.sent.size();
    h.advance(5000);
    QCOMPARE(h.endpoint.sent.size(), sends);
    checkPollingButtons(h, false);
  }

  // Another page shown while the chart is stopped leaves the page's panel alone.
  void anotherPageWhileStopped() {
    Harness h;
    showPcrPage(h);
    h.click("ButtonSetPCR");
    h.form().tabs()->setCurrentIndex(TMainForm::TabMain);
    QCOMPARE(h.text("PanelPCR"), QString("Message sent, waiting for reply..."));
    QCOMPARE(h.form().engine().state(), tessaly::state::PcrWait);
  }

  // The manufacturer test adds its points through the page host.
  void hostAddsAPoint() {
    Harness h;
    h.form().device().PcrSlide = -582;
    static_cast<PageHost&>(h.form()).addChartSample();
    QCOMPARE(chart(h)->count(), 1);
    QCOMPARE(chart(h)->point(0), QPointF(1, -2));
    QCOMPARE(h.form().device().SampleCount, 1);
  }
};

QTEST_MAIN(PcrChartTest)
#include "test_pcr_chart.moc"
