// End to end on loopback: a hand-written instruction from the Instruction Test page
// reaches tessaly-emulator through the production window and changes what the next
// Query shows. Skipped when the emulator is not built. With TESSALY_SCREENSHOT_DIR
// set, also saves the page after a Send as 2-instruction-test.png.
#include <QTabWidget>
#include <QtTest>

#include "app/MainForm.h"
#include "app/ui/PageInstrTest.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"

using uitest::EmulatorProcess;

class E2eInstructionTest : public QObject {
  Q_OBJECT

  struct Panel : uitest::LivePanel {
    using LivePanel::LivePanel;
    PageInstrTest* page() const { return form->pageInstrTest(); }
    // Row 1 alone: the set-serial instruction (0x10) with a four-byte serial.
    void writeSetSerial(const QString& data) const {
      PageInstrTest* p = page();
      for (int n = 1; n <= 5; ++n) p->CheckBoxI[n]->setChecked(n == 1);
      p->EditOC[1]->setText("$10");
      p->EditData[1]->setText(data);
    }
  };

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void setSerialShowsInTheNextQuery_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void setSerialShowsInTheNextQuery() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    p.writeSetSerial("$00,$00,$30,$39");  // 12345
    p.click(p.page()->ButtonISend);
    QCOMPARE(p.memo("MemoIns").constLast(), QString("Step 3. - Waiting for answer"));
    QVERIFY(p.memo("MemoIns").contains(QString(" Destination port: %1").arg(emu.port())));
    // The board's interrupt notice is short, so the page waits out its second.
    QTRY_COMPARE_WITH_TIMEOUT(p.memo("MemoIns").constLast(), QString(" No answer received (in 1s)."), 3000);
    QCOMPARE(p.form->engine().state(), std::uint8_t{120});

    p.form->query();
    QTRY_VERIFY_WITH_TIMEOUT(p.memo("MemoInfo").contains("Serial: 12345"), 3000);
    QVERIFY(!p.memo("MemoInfo").contains("Serial: 20417"));
  }

  void screenshot() {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("TESSALY_SCREENSHOT_DIR is not set");
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 1);
    p.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    p.form->tabs()->setCurrentIndex(TMainForm::TabInstrTest);
    p.writeSetSerial("$00,$00,$30,$39");
    p.page()->CheckBoxI[2]->setChecked(true);
    p.page()->EditOC[2]->setText("$11");
    p.page()->EditData[2]->setText("$12,$F4");
    p.click(p.page()->ButtonISend);
    QTRY_COMPARE_WITH_TIMEOUT(p.memo("MemoIns").constLast(), QString(" No answer received (in 1s)."), 3000);
    QTest::qWait(150);
    QVERIFY(p.form->grab().save(out + "/2-instruction-test.png"));
  }
};

QTEST_MAIN(E2eInstructionTest)
#include "test_e2e_instruction_test.moc"
