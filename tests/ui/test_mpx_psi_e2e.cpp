// End to end on loopback: the production window (Qt timer, real UDP endpoint)
// sends the Mpx/PID filter and SDRAM/PSI inserter instructions to tessaly-emulator
// on 127.0.0.1, and the next Query shows their effect on the pages. Skipped when
// the emulator is not built. With TESSALY_SCREENSHOT_DIR set, also saves both
// pages after the exchanges.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "app/MainForm.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"

using uitest::EmulatorProcess;

namespace {

constexpr int kEraseMs = 60;
const QString kIrq = "SDI IRQ received.";
const QString kRefreshed = "Data refreshed.";

// A production window in its own working directory, pointed at the emulator.
struct Panel : uitest::LivePanel {
  using LivePanel::LivePanel;
  void setText(const QString& name, const QString& t) { find<QLineEdit>(name)->setText(t); }
  void tick(const QString& name, bool on) { find<QCheckBox>(name)->setChecked(on); }
  bool ticked(const QString& name) const { return find<QCheckBox>(name)->isChecked(); }
};

// Presses `button` and waits for the board's interrupt notice on `panel`.
#define SEND_AND_WAIT(p, button, panel)                                              \
  do {                                                                               \
    (p).find<TPanel>(panel)->setCaption("-");                                        \
    (p).click(button);                                                               \
    QTRY_COMPARE_WITH_TIMEOUT((p).text(panel), kIrq, 3000);                          \
  } while (0)

#define QUERY_AND_WAIT(p, button, panel)                                             \
  do {                                                                               \
    (p).find<TPanel>(panel)->setCaption("-");                                        \
    (p).click(button);                                                               \
    QTRY_COMPARE_WITH_TIMEOUT((p).text(panel), kRefreshed, 3000);                    \
  } while (0)

// Input filters, then erase / write / read of the PID filter, then a Query.
void mpxExchanges(Panel& p) {
  const char* columns[] = {"CheckBoxEN", "CheckBoxDV", "CheckBoxNP", "CheckBoxTSP"};
  // One pattern per column: EN 1,3; DV 2; NP 4,5; TSP 6.
  const std::vector<std::vector<int>> pattern = {{1, 3}, {2}, {4, 5}, {6}};
  for (int c = 0; c < 4; ++c)
    for (int i = 1; i <= 6; ++i)
      p.tick(columns[c] + QString::number(i),
             std::find(pattern[c].begin(), pattern[c].end(), i) != pattern[c].end());
  SEND_AND_WAIT(p, "ButtonSetGeneralFilter", "PanelMpx");

  SEND_AND_WAIT(p, "ButtonEPF", "PanelMpx");
  QTest::qWait(kEraseMs + 40);  // a busy filter refuses writes
  p.find<TRadioGroup>("RadioGroupTS")->setItemIndex(1);
  p.setText("EditPID", "500");
  p.find<QCheckBox>("CheckBoxREMAP")->click();
  QVERIFY(p.find<QLineEdit>("EditREMAP")->isEnabled());
  p.setText("EditREMAP", "777");
  SEND_AND_WAIT(p, "ButtonPPF", "PanelMpx");

  p.setText("EditPID", "503");
  p.click("ButtonRPF");
  QCOMPARE(p.text("EditPID"), QString("496"));
  QCOMPARE(p.memo("MemoMpx"), QStringList{"Press Query to show data!"});
  QTRY_COMPARE_WITH_TIMEOUT(p.text("PanelMpx"), kIrq, 3000);

  // The boxes show what the board reports, not what they were left at.
  for (const char* c : columns)
    for (int i = 1; i <= 6; ++i) p.tick(c + QString::number(i), true);
  QUERY_AND_WAIT(p, "ButtonRQ", "PanelMpx");
}

void checkMpxEffects(const Panel& p) {
  const char* columns[] = {"CheckBoxEN", "CheckBoxDV", "CheckBoxNP", "CheckBoxTSP"};
  const std::vector<std::vector<int>> pattern = {{1, 3}, {2}, {4, 5}, {6}};
  for (int c = 0; c < 4; ++c)
    for (int i = 1; i <= 6; ++i) {
      const QString name = columns[c] + QString::number(i);
      const bool expected = std::find(pattern[c].begin(), pattern[c].end(), i) != pattern[c].end();
      QVERIFY2(p.ticked(name) == expected, qPrintable(name));
    }
  // Entries 496..527 of input TS2: only 500 is set, remapped to 777 (0xC000 + 777).
  const QStringList memo = p.memo("MemoMpx");
  QCOMPARE(memo.size(), 10);
  QCOMPARE(memo[0], QString("PID Filter Readback Data:"));
  QCOMPARE(memo[1], QString(" hFFFF hFFFF hFFFF hFFFF "));
  QCOMPARE(memo[2], QString(" hC309 hFFFF hFFFF hFFFF "));
  for (int k = 3; k <= 8; ++k) QCOMPARE(memo[k], QString(" hFFFF hFFFF hFFFF hFFFF "));
  QCOMPARE(memo[9], QString(" ..."));
}

// A sector row, then erase / write / read of the PSI flash, then a Query.
void psiExchanges(Panel& p) {
  p.tick("CheckBoxS2", true);
  p.setText("EditSS2", "1000");
  p.setText("EditSE2", "131072");
  SEND_AND_WAIT(p, "ButtonS2", "PanelPSI");
  QCOMPARE(p.text("EditSE2"), QString("131071"));

  SEND_AND_WAIT(p, "ButtonErasePSI", "PanelPSI");
  QTest::qWait(kEraseMs + 40);
  p.find<TRadioGroup>("RadioGroupPT")->setItemIndex(2);
  p.setText("EditFix", "300");
  p.setText("EditPIDPSI", "256");
  p.setText("EditAddress", "100");
  p.setText("EditTimer", "20");
  p.tick("CheckBoxACC", true);
  SEND_AND_WAIT(p, "ButtonWritePSI", "PanelPSI");
  QCOMPARE(p.text("EditFix"), QString("44"));

  p.click("ButtonReadPSI");
  QCOMPARE(p.memo("MemoPSI"), QStringList{"Press Query to show data!"});
  QTRY_COMPARE_WITH_TIMEOUT(p.text("PanelPSI"), kIrq, 3000);

  p.tick("CheckBoxS2", false);
  p.setText("EditSS2", "0");
  p.setText("EditSE2", "0");
  QUERY_AND_WAIT(p, "Button1", "PanelPSI");
}

void checkPsiEffects(const Panel& p) {
  QVERIFY(p.ticked("CheckBoxS2"));
  QCOMPARE(p.text("EditSS2"), QString("1000"));
  QCOMPARE(p.text("EditSE2"), QString("131071"));
  // The flash record at 100: timer, Auto CC byte, then the packet (PID 256, fill 0x2C),
  // and erased flash after its 208 bytes.
  const QStringList memo = p.memo("MemoPSI");
  QCOMPARE(memo.size(), 17);
  QCOMPARE(memo[0], QString("PSI Inserter Readback Data:"));
  QCOMPARE(memo[1], QString(" h0000 h1401 h4701 h0010 h2C2C h2C2C h2C2C h2C2C "));
  QCOMPARE(memo[13], QString(" h2C2C h2C2C h2C2C h2C2C h2C2C h2C2C h2C2C h2C2C "));
  QCOMPARE(memo[14], QString(" hFFFF hFFFF hFFFF hFFFF hFFFF hFFFF hFFFF hFFFF "));
}

}  // namespace

class MpxPsiE2e : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void instructionsShowTheirEffectAfterQuery_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void instructionsShowTheirEffectAfterQuery() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start({"--erase-ms", QString::number(kEraseMs)}));
    Panel p(emu.port(), framing);
    mpxExchanges(p);
    if (QTest::currentTestFailed()) return;
    checkMpxEffects(p);
    if (QTest::currentTestFailed()) return;
    psiExchanges(p);
    if (QTest::currentTestFailed()) return;
    checkPsiEffects(p);
    QVERIFY(!p.form->endpoint().isActive());
  }

  // A silent board: both pages report the missing notice after a second.
  void silentBoardTimesOut() {
    EmulatorProcess emu;
    QVERIFY(emu.start({"--drop", "1"}));
    Panel p(emu.port(), 1);
    p.click("ButtonEPF");
    QCOMPARE(p.text("PanelMpx"), QString("Message sent, waiting for reply..."));
    QTRY_COMPARE_WITH_TIMEOUT(p.text("PanelMpx"), QString("No SDI IRQ received (in 1s)."), 3000);
    p.click("ButtonReadPSI");
    QTRY_COMPARE_WITH_TIMEOUT(p.text("PanelPSI"), QString("No SDI IRQ received (in 1s)."), 3000);
    QCOMPARE(p.memo("MemoPSI"), QStringList{"Press Query to show data!"});
  }

  void screenshots() {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("TESSALY_SCREENSHOT_DIR is not set");
    EmulatorProcess emu;
    QVERIFY(emu.start({"--erase-ms", QString::number(kEraseMs)}));
    Panel p(emu.port(), 1);
    p.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    mpxExchanges(p);
    if (QTest::currentTestFailed()) return;
    psiExchanges(p);
    if (QTest::currentTestFailed()) return;
    const std::pair<int, const char*> pages[] = {{3, "4-mpx-pid-filter"}, {4, "5-sdram-psi-inserter"}};
    for (const auto& [index, name] : pages) {
      p.form->tabs()->setCurrentIndex(index);
      QTest::qWait(150);
      QVERIFY(p.form->grab().save(out + "/" + name + ".png"));
    }
  }
};

QTEST_MAIN(MpxPsiE2e)
#include "test_mpx_psi_e2e.moc"
