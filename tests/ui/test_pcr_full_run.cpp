// A whole chart run of 3,600 samples on virtual time against the emulator's
// in-process board: the corrector is switched on and the test PID set through the
// page's own buttons, then Start polls until the automatic stop. With
// TESSALY_SCREENSHOT_DIR set, also saves the page after 300 samples.
#include <QElapsedTimer>
#include <QtTest>

#include "app/MainForm.h"
#include "app/ui/PageMain.h"
#include "app/ui/PagePcr.h"
#include "helpers/UiHarness.h"
#include "model/Emulator.h"
#include "widgets/LineChart.h"

using uitest::Harness;

namespace {

// Every datagram the panel sends goes to the model; its answers come back with
// their delays on the virtual clock.
struct ModelBoard {
  Harness& h;
  tessaly::emu::Emulator emu;
  ModelBoard(Harness& harness, std::uint64_t seed) : h(harness), emu(options(seed)) {
    h.endpoint.onSend = [this](const tessaly::testing::SentDatagram& s) {
      for (auto& a : emu.receive(s.data, h.clock.now())) h.injectAfter(a.delayMs, std::move(a.data));
    };
  }
  ~ModelBoard() { h.endpoint.onSend = nullptr; }
  static tessaly::emu::EmulatorOptions options(std::uint64_t seed) {
    tessaly::emu::EmulatorOptions o;
    o.seed = seed;
    o.delayMinMs = 5;
    o.delayMaxMs = 40;
    return o;
  }
};

void switchCorrectorOn(Harness& h, const char* testPid) {
  h.find<QCheckBox>("CheckBoxPCR")->setChecked(true);
  h.click("ButtonSetPCR");
  h.advance(1000);
  QCOMPARE(h.text("PanelPCR"), QString("SDI IRQ received."));
  h.find<QLineEdit>("EditTestPID1")->setText(testPid);
  h.click("ButtonST1");
  h.advance(1000);
  QCOMPARE(h.text("PanelPCR"), QString("SDI IRQ received."));
}

}  // namespace

class PcrFullRun : public QObject {
  Q_OBJECT

 private slots:
  void fullRun_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void fullRun() {
    QFETCH(int, framing);
    Harness h;
    h.selectLink(framing, 1);
    h.form().tabs()->setCurrentIndex(TMainForm::TabPcr);
    ModelBoard board(h, 11);
    switchCorrectorOn(h, "100");
    QElapsedTimer real;
    real.start();
    h.click("Button2");
    h.advance(3600LL * 1000 + 5000);
    qInfo("3,600 samples in %lld ms of real time", static_cast<long long>(real.elapsed()));

    PagePcr* page = h.form().pagePcr();
    QCOMPARE(page->ChartPCR->count(), 3600);
    QCOMPARE(h.form().device().SampleCount, 3600);
    QCOMPARE(page->ChartPCR->bottomMax(), 3600.0);
    for (int i = 0; i < 3600; ++i) QCOMPARE(page->ChartPCR->point(i).x(), double(i + 1));
    QVERIFY(!page->Button3->isEnabled());
    QCOMPARE(h.text("PanelPCR"), QString("Press Start to analize PCR Correction!"));
    // Every answer was decoded: the report of the last one ends the memo, and the
    // board's settings came back through the status block.
    QVERIFY(h.find<QCheckBox>("CheckBoxPCR")->isChecked());
    QCOMPARE(h.text("EditTestPID1"), QString("100"));
    QCOMPARE(h.form().pageMain()->MemoInfo->lines().constLast(), QString(" Test PID: 100"));
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void screenshot() {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("TESSALY_SCREENSHOT_DIR is not set");
    Harness h;
    h.selectLink(1, 1);
    h.form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.form()));
    h.form().tabs()->setCurrentIndex(TMainForm::TabPcr);
    ModelBoard board(h, 11);
    switchCorrectorOn(h, "100");
    h.click("Button2");
    for (int i = 0; i < 300; ++i) {
      h.advance(1000);
      QCoreApplication::processEvents();
    }
    QCOMPARE(h.form().pagePcr()->ChartPCR->count(), 300);
    QTest::qWait(100);
    QVERIFY(h.form().grab().save(out + "/6-pcr-corrector.png"));
  }
};

QTEST_MAIN(PcrFullRun)
#include "test_pcr_full_run.moc"
