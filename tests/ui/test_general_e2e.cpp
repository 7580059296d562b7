// End to end on loopback: the production window (Qt timer, real UDP endpoint) sends
// the "General" page's instructions to tessaly-emulator on 127.0.0.1 and finds each
// one in the next Query's status. Skipped when the emulator is not built. With
// TESSALY_SCREENSHOT_DIR set, also saves the General page after a PLL programming
// (general-pll.png).
#include <QLabel>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "app/MainForm.h"
#include "app/ui/PageGeneral.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"
#include "status/StatusReport.h"

using uitest::EmulatorProcess;

namespace {
constexpr int kWaitMs = 3000;
const QString kIrq = "SDI IRQ received.";
}  // namespace

class GeneralE2e : public QObject {
  Q_OBJECT

  // A production window in its own working directory, pointed at the emulator.
  struct Panel : uitest::LivePanel {
    int framing;
    Panel(int emulatorPort, int framing_) : LivePanel(emulatorPort, framing_), framing(framing_) {}
    PageGeneral& page() const { return *form->pageGeneral(); }
    QString label() const { return page().PanelGS->caption(); }
    const tessaly::tZODADevice& device() const { return form->device(); }
    void selectSdiAddress(int address) { find<TRadioGroup>("RadioGroup3")->setItemIndex(address - 1); }

    // Clicks an instruction button and waits for the outcome on LabelGS.
    bool instruct(QPushButton* button, const QString& outcome = kIrq) {
      click(button);
      if (label() != "Message sent, waiting for reply...") return false;
      return QTest::qWaitFor([&] { return label() == outcome; }, kWaitMs);
    }
    // Queries and waits until the answer has been evaluated.
    bool query() {
      const QString received = framing ? "DDToIP SDI Answer received." : "CW-Net Data received.";
      click(page().Button7);
      if (memo("MemoInfo").value(0) == received) return false;  // the send clears the memo first
      return QTest::qWaitFor([&] { return memo("MemoInfo").value(0) == received; }, kWaitMs);
    }
    bool queryDecoded() { return query() && form->findChild<QLabel*>("LabelD")->text() == "Device Code: h1A (v2.07)"; }
    QStringList info() const { return memo("MemoInfo"); }
    // The board's user text, bytes 2..16 of the status block in the receive buffer.
    QByteArray userText() const {
      QByteArray t;
      for (int i = 0; i < 15; ++i)
        t.append(static_cast<char>(form->engine().buffer().at(static_cast<std::size_t>(device().AnswerBase + 2 + i))));
      return t;
    }
  };

  static void framings() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void housekeepingReachesTheBoard_data() { framings(); }
  void housekeepingReachesTheBoard() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    PageGeneral& g = p.page();
    QVERIFY(p.queryDecoded());
    const int counter = p.device().InstructionCounter;

    g.EditSerial->setText("$0001E240");
    QVERIFY(p.instruct(g.ButtonSerial));
    QCOMPARE(g.EditSerial->text(), QString("123456"));
    QCOMPARE(p.page().PanelGS->color(), tColor(tessaly::colour::LightGreen));
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.device().SerialNumber, 123456);
    QVERIFY(p.info().contains("Serial: 123456"));

    g.EditType->setText("70000");
    QVERIFY(p.instruct(g.ButtonType));
    QCOMPARE(g.EditType->text(), QString("4464"));
    QVERIFY(p.queryDecoded());
    QCOMPARE(int(p.device().DeviceType), 4464);
    QVERIFY(p.info().contains("Type: 4464"));

    g.EditUT->setText("Hello");
    QVERIFY(p.instruct(g.ButtonUT));
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.userText(), QByteArray("Hello\0\0\0\0\0\0\0\0\0\0", 15));

    // Three instructions, each counted once; none rejected.
    QCOMPARE(int(p.device().InstructionCounter), counter + 3);
    QCOMPARE(int(p.device().IntRError), 0);

    // A reset keeps the identity and starts the counter again.
    QVERIFY(p.instruct(g.ButtonReset));
    QVERIFY(p.queryDecoded());
    QCOMPARE(int(p.device().InstructionCounter), 0);
    QCOMPARE(p.device().SerialNumber, 123456);
    QCOMPARE(int(p.device().DeviceType), 4464);
    QVERIFY(!p.form->endpoint().isActive());
  }

  void outputClockReachesTheBoard_data() { framings(); }
  void outputClockReachesTheBoard() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    PageGeneral& g = p.page();

    // NCO, 204-byte packets, high priority.
    g.EditNCO->setText("1234567");
    g.RadioGroupClkSource->setItemIndex(0);
    g.RadioGroupStrFormat->setItemIndex(1);
    g.RadioGroupPP->setItemIndex(1);
    QVERIFY(p.instruct(g.ButtonSetOutputFormat));
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.device().NcoFrequency, 1234567);
    QVERIFY(p.info().contains("NCO Frequency: 1234567 Hz"));
    QVERIFY(p.info().contains("Output Format: 204"));
    QVERIFY(p.info().contains("Clock Select: 0"));
    QCOMPARE(p.memo("MemoGS").value(3), QString("NCO Frequency: 1234567 Hz"));

    // PLL at 27 MHz, 188-byte packets: the board derives 27 MHz from PDiv and the word.
    g.EditPLL->setText("27000000");
    g.RadioGroupClkSource->setItemIndex(1);
    g.RadioGroupStrFormat->setItemIndex(0);
    g.RadioGroupPP->setItemIndex(0);
    QVERIFY(p.instruct(g.ButtonSetOutputFormat));
    QCOMPARE(p.memo("MemoGS").constLast(), QString(" h0004 h00400208"));
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.device().PDiv, 4);
    QCOMPARE(p.device().PllWord, 0x00400208u);
    QCOMPARE(p.device().PllFrequency, 27000000);
    QVERIFY(p.info().contains("PLL Frequency: 27000000 Hz (PDiv = 4)"));
    QVERIFY(p.info().contains("Output Format: 188"));
    QVERIFY(p.info().contains("Clock Select: 1"));
    QVERIFY(p.info().contains(" PLL (27000000 Hz)"));
    QCOMPARE(p.device().NcoFrequency, 1234567);  // the NCO packet went only with the NCO clock

    // The lowest PLL frequency: the largest divider.
    g.EditPLL->setText("1000");
    QVERIFY(p.instruct(g.ButtonSetOutputFormat));
    QCOMPARE(g.EditPLL->text(), QString("97753"));
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.device().PDiv, 1023);
    QCOMPARE(p.device().PllFrequency, 97753);

    // A TS input clock: the format alone; the PLL stays as it was.
    g.RadioGroupClkSource->setItemIndex(4);
    g.RadioGroupStrFormat->setItemIndex(1);
    QVERIFY(p.instruct(g.ButtonSetOutputFormat));
    QVERIFY(p.queryDecoded());
    QCOMPARE(int(p.device().OutputFormat), 0x04);
    QVERIFY(p.info().contains("Clock Select: 4"));
    QVERIFY(p.info().contains(" TS Input 3 Clock"));
    QCOMPARE(p.device().PDiv, 1023);
    QCOMPARE(int(p.device().IntRError), 0);
  }

  // The board moves to another SDI address: it answers there and no longer at the old one.
  void setAddressMovesTheBoard_data() { framings(); }
  void setAddressMovesTheBoard() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    PageGeneral& g = p.page();
    p.selectSdiAddress(1);
    g.RadioGroupAddress->setItemIndex(4);
    QVERIFY(p.instruct(g.ButtonSetAddress));
    QCOMPARE(p.form->findChild<TRadioGroup*>("RadioGroup3")->itemIndex(), 0);  // unchanged

    QVERIFY(p.query());
    QCOMPARE(p.info().constLast(), QString("There is no device connected to the SDI."));
    // An instruction to the old address raises no notice.
    QVERIFY(p.instruct(g.ButtonReset, "No SDI IRQ received (in 1s)."));
    QCOMPARE(g.PanelGS->color(), tColor(tessaly::colour::Red));

    p.selectSdiAddress(5);
    g.RadioGroupAddress->setItemIndex(0);
    QVERIFY(p.queryDecoded());
    QCOMPARE(p.device().AddressByte & 15, 5);
    QVERIFY(p.info().contains("Address: 5 "));
    QCOMPARE(g.RadioGroupAddress->itemIndex(), 4);  // the page shows the board's address
    QVERIFY(p.instruct(g.ButtonReset));
  }

  // A silent board: every instruction ends in the time-out report.
  void silentBoardTimesOut() {
    EmulatorProcess emu;
    QVERIFY(emu.start({"--drop", "1"}));
    Panel p(emu.port(), 1);
    QVERIFY(p.instruct(p.page().ButtonSerial, "No SDI IRQ received (in 1s)."));
    QCOMPARE(p.page().PanelGS->color(), tColor(tessaly::colour::Red));
    QVERIFY(!p.form->endpoint().isActive());
  }

  void screenshotAfterPllProgramming() {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("TESSALY_SCREENSHOT_DIR is not set");
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 1);
    p.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    p.form->tabs()->setCurrentIndex(TMainForm::TabGeneral);
    QVERIFY(p.queryDecoded());
    PageGeneral& g = p.page();
    g.EditPLL->setText("3000000");
    g.RadioGroupClkSource->setItemIndex(1);
    g.RadioGroupStrFormat->setItemIndex(0);
    g.RadioGroupPP->setItemIndex(0);
    QVERIFY(p.instruct(g.ButtonSetOutputFormat));
    QCOMPARE(p.memo("MemoGS").constLast(), QString(" h0022 h022013CC"));
    QTest::qWait(150);
    QVERIFY(p.form->grab().save(out + "/3-general.png"));
  }
};

QTEST_MAIN(GeneralE2e)
#include "test_general_e2e.moc"
