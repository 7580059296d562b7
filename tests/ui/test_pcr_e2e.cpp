// End to end on loopback: the production window (Qt timer, real UDP endpoint)
// against tessaly-emulator on 127.0.0.1. SETPCRCORRECTOR and SETTESTPCRPID show
// their effect after the next Query, and the chart polls the emulator in real time.
// Skipped when the emulator is not built.
#include <QtTest>

#include "app/MainForm.h"
#include "app/ui/PagePcr.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"
#include "widgets/LineChart.h"

using uitest::EmulatorProcess;

namespace {

constexpr int kWaitMs = 3000;

struct Panel : uitest::LivePanel {
  Panel(int emulatorPort, int framing) : LivePanel(emulatorPort, framing) {
    form->tabs()->setCurrentIndex(TMainForm::TabPcr);
  }
  QString panel() const { return text("PanelPCR"); }
  bool sendAndWaitForNotice(const char* button) {
    click(button);
    return QTest::qWaitFor([this] { return panel() == "SDI IRQ received."; }, kWaitMs);
  }
  bool query() {
    find<TPanel>("PanelPCR")->setCaption("");
    click("ButtonPCRQuery");
    return QTest::qWaitFor([this] { return panel() == "Data refreshed."; }, kWaitMs);
  }
};

}  // namespace

class PcrE2e : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void instructionsShowAfterQuery_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void instructionsShowAfterQuery() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    QCOMPARE(p.form->deviceIp(), std::string("127.0.0.1"));

    p.find<QCheckBox>("CheckBoxPCR")->setChecked(true);
    p.find<QCheckBox>("CheckBoxDP")->setChecked(true);
    QVERIFY(p.sendAndWaitForNotice("ButtonSetPCR"));
    p.find<QLineEdit>("EditTestPID1")->setText("9999");
    QVERIFY(p.sendAndWaitForNotice("ButtonST1"));
    QCOMPARE(p.find<QLineEdit>("EditTestPID1")->text(), QString("8191"));
    // Clear the boxes and the edit so that only the answer can set them again.
    p.find<QCheckBox>("CheckBoxPCR")->setChecked(false);
    p.find<QCheckBox>("CheckBoxDP")->setChecked(false);
    p.find<QLineEdit>("EditTestPID1")->setText("0");
    QVERIFY(p.query());
    QVERIFY(p.find<QCheckBox>("CheckBoxPCR")->isChecked());
    QVERIFY(p.find<QCheckBox>("CheckBoxDP")->isChecked());
    QCOMPARE(p.find<QLineEdit>("EditTestPID1")->text(), QString("8191"));

    // Off: direct re-stamping goes with it.
    p.find<QCheckBox>("CheckBoxPCR")->setChecked(false);
    p.find<QCheckBox>("CheckBoxDP")->setChecked(true);
    QVERIFY(p.sendAndWaitForNotice("ButtonSetPCR"));
    p.find<QLineEdit>("EditTestPID1")->setText("");
    QVERIFY(p.sendAndWaitForNotice("ButtonST1"));
    QVERIFY(p.query());
    QVERIFY(!p.find<QCheckBox>("CheckBoxPCR")->isChecked());
    QVERIFY(!p.find<QCheckBox>("CheckBoxDP")->isChecked());
    QCOMPARE(p.find<QLineEdit>("EditTestPID1")->text(), QString("1000"));
  }

  // Three seconds of real polling: about one point a second, then Stop.
  void chartPollsTheEmulator() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 1);
    PagePcr* page = p.form->pagePcr();
    p.click("Button2");
    QVERIFY(QTest::qWaitFor([page] { return page->ChartPCR->count() >= 3; }, 6000));
    p.click("Button3");
    const int points = page->ChartPCR->count();
    for (int i = 0; i < points; ++i) QCOMPARE(page->ChartPCR->point(i).x(), double(i + 1));
    QCOMPARE(p.panel(), QString("Press Start to analize PCR Correction!"));
    QTest::qWait(1500);
    QCOMPARE(page->ChartPCR->count(), points);
  }
};

QTEST_MAIN(PcrE2e)
#include "test_pcr_e2e.moc"
