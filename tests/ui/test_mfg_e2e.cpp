// End to end on loopback: the production window (Qt timer, real UDP endpoint) runs
// the manufacturer test against tessaly-emulator on 127.0.0.1, in real time.
// Skipped when the emulator is not built. With TESSALY_SCREENSHOT_DIR set, also
// saves the page after a successful and after a failed run.
#include <QTabWidget>
#include <QtTest>

#include "app/MainForm.h"
#include "app/ui/PageMfg.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"
#include "link/Engine.h"

using uitest::EmulatorProcess;

namespace {

// An erase the emulator reports busy for a while: long enough to be seen by the
// first poll (200 ms after the erase message), short enough to end by the second.
const QStringList kShortErase{"--erase-ms", "1000"};

struct Panel : uitest::LivePanel {
  Panel(int emulatorPort, int framing)
      : LivePanel(emulatorPort, framing,
                  "AdditionalPID1CB=1\nAdditionalPID2CB=1\nAdditionalPID3CB=1\nMulticastIPCB=1\n") {
    form->tabs()->setCurrentIndex(TMainForm::TabMfg);
  }
  PageMfg* page() const { return form->pageMfg(); }
  QString labelTest() const { return page()->LabelTest->text(); }
  QString result() const { return page()->PanelTest->caption(); }
};

}  // namespace

class MfgE2e : public QObject {
  Q_OBJECT

  static void save(Panel& p, const QString& name) {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) return;
    QVERIFY(p.form->grab().save(out + "/" + name));
  }

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void fullRunSucceeds() {
    EmulatorProcess emu;
    QVERIFY(emu.start(kShortErase));
    // The Main page's framing and SDI address play no part in the run.
    Panel p(emu.port(), 0);
    if (!qEnvironmentVariableIsEmpty("TESSALY_SCREENSHOT_DIR")) {
      p.form->show();
      QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
      p.click(p.page()->Button6);  // step 1 first, as an engineer would
      QTRY_COMPARE_WITH_TIMEOUT(p.page()->PanelMS->caption(), QString("CW-Net Data received."), 3000);
    }
    p.click(p.page()->ButtonMS);
    QCOMPARE(p.labelTest(), QString("Programming in progress..."));
    QTRY_COMPARE_WITH_TIMEOUT(p.labelTest(), QString("Erasing PID Filters and PSI Inserters..."), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(p.labelTest(), QString("Test program loaded successfully."), 30000);
    QCOMPARE(p.result(), QString("Programming succeeded"));
    QCOMPARE(p.page()->PanelTest->color(), tColor(0xC0DCC0));
    for (int u = 1; u <= 4; ++u) {
      QCOMPARE(p.page()->PanelPID[static_cast<std::size_t>(u)]->color(), tColor(0xC0DCC0));
      QCOMPARE(p.page()->PanelPSIUnit[static_cast<std::size_t>(u)]->color(), tColor(0xC0DCC0));
    }
    QCOMPARE(p.form->device().NcoFrequency, 2000000);
    QVERIFY(p.page()->ButtonMS->isEnabled());
    QVERIFY(!p.page()->ButtonBreak->isEnabled());
    QVERIFY(!p.form->endpoint().isActive());
    save(p, "7-manufacturer-setup.png");
  }

  void silentDeviceFailsTheFirstStep() {
    EmulatorProcess emu;
    QVERIFY(emu.start({"--drop", "1"}));
    Panel p(emu.port(), 1);
    if (!qEnvironmentVariableIsEmpty("TESSALY_SCREENSHOT_DIR")) {
      p.form->show();
      QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    }
    p.click(p.page()->ButtonMS);
    QTRY_COMPARE_WITH_TIMEOUT(p.labelTest(), QString("Error: No ACK answer received (in 2s)."), 4000);
    QCOMPARE(p.result(), QString("Programming failed"));
    QCOMPARE(p.page()->PanelTest->color(), tColor(0x0000FF));
    QVERIFY(p.page()->ButtonMS->isEnabled());
    save(p, "manufacturer-failed.png");
  }

  void pcrCorrectorButtonsSwitchTheFourUnits() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 1);
    auto& engine = p.form->engine();
    for (bool on : {true, false}) {
      p.click(on ? p.page()->ButtonPCRON : p.page()->ButtonPCROFF);
      QCOMPARE(int(engine.state()), 104);
      // The device answers with its status: the corrector mode byte shows all four units.
      QTRY_COMPARE_WITH_TIMEOUT(int(engine.state()), 105, 3000);
      QTRY_VERIFY_WITH_TIMEOUT(!p.form->endpoint().isActive(), 1000);
      QCOMPARE(engine.receivedLength(), std::size_t{1046});
      QCOMPARE(int(engine.buffer().at(22)), 0xF0);
      QCOMPARE(int(engine.buffer().at(78)), on ? 0x0F : 0x00);
      // And the board's own status says the same for unit 1.
      p.click(p.page()->Button6);
      QTRY_COMPARE_WITH_TIMEOUT(p.page()->PanelMS->caption(), QString("DDToIP SDI Answer received."), 3000);
      QCOMPARE(p.form->device().PcrState & 1, on ? 1 : 0);
      QCOMPARE(p.page()->PanelPCRUnit[1]->color(), on ? tColor(0xC0DCC0) : buttonFace());
      p.page()->PanelMS->setCaption("");
    }
  }
};

QTEST_MAIN(MfgE2e)
#include "test_mfg_e2e.moc"
