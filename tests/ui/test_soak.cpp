// Soak on virtual time: the whole panel against the in-process board on a hostile
// network (20 % of answers lost, random delays up to 800 ms, duplicates, corrupted
// answers). Every instruction button of every page in both framings, a full
// 3,600-sample chart run and 20 manufacturer-test runs back to back. Nothing may
// crash or hang, every outcome shown must be one of the panel's own texts, and the
// chart must end with exactly 3,600 points.
//
// The network's random choices are seeded; TESSALY_SOAK_SEED=n plays another
// network (CI runs n = 0), for hunting with many seeds:
//   for n in $(seq 1 50); do TESSALY_SOAK_SEED=$n QT_QPA_PLATFORM=offscreen build/tests/ui/test_soak || break; done
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <set>

#include "helpers/InProcessBoard.h"
#include "helpers/UiHarness.h"
#include "app/ui/PagePcr.h"
#include "widgets/LineChart.h"

using uitest::Harness;
using uitest::InProcessBoard;

namespace {

const QStringList kPanelTexts = {
    "Status", "Message sent, waiting for reply...", "SDI IRQ received.", "No SDI IRQ received (in 1s).",
    "Communication Error! Check your network connection!", "Communication Error!", "Data refreshed.",
    "No answer received (in 1s).", "Unknown message received.", "CW-Net Data received.",
    "DDToIP SDI Answer received.", "No device connected to the SDI.", "Press Query!",
    // the chart's polling messages
    "Press Start to analize PCR Correction!", "Message sent...", "SDI Answer not received!",
    "There is no ASI Remultiplexer connected to the SDI.",
};

const QStringList kRunEndTexts = {
    "Test program loaded successfully.",     "Error: No ACK answer received (in 2s).",
    "Error: No ACK answer received (in 1s).", "Error: Unknown message received.",
    "Error: Setting NCO frequency failed.",  "No ACK received (5 times) !",
    "PID Filter or PSI Inserter erase failed.", "PID Filter read error!",
    "PSI Inserter read error!",              "Communication Error!",
};

tessaly::emu::EmulatorOptions hostileNetwork(std::uint64_t seed) {
  tessaly::emu::EmulatorOptions o;
  o.drop = 0.2;
  o.duplicate = 0.1;
  o.corrupt = 0.1;
  o.delayMinMs = 0;
  o.delayMaxMs = 800;
  o.eraseMs = 3000;
  o.seed = seed + 1000 * static_cast<std::uint64_t>(qEnvironmentVariableIntValue("TESSALY_SOAK_SEED"));
  return o;
}

}  // namespace

class SoakTest : public QObject {
  Q_OBJECT

  static void checkPanels(Harness& h, const char* after) {
    for (const char* name : {"LabelGS", "PanelMpx", "PanelPSI", "PanelPCR", "PanelMS"}) {
      const QString text = h.text(name);
      QVERIFY2(kPanelTexts.contains(text), qPrintable(QString("%1 shows \"%2\" after %3").arg(name, text, after)));
    }
    const QString label = h.text("LabelD");
    QVERIFY2(label.startsWith("Device Code:"), qPrintable(label));
  }

  static void clickAndSettle(Harness& h, const char* button) {
    QWidget* w = h.find<QWidget>(button);
    QVERIFY2(w, button);
    if (!w->isEnabled()) return;
    h.click(button);
    h.advance(2100);  // past the longest time-out and the latest answer
  }

 private slots:
  void everyButtonBothFramings() {
    Harness h;
    InProcessBoard board(h, hostileNetwork(11));
    const char* pageButtons[][2] = {
        {"ButtonSerial", "General"},        {"ButtonType", "General"},          {"ButtonReset", "General"},
        {"ButtonUT", "General"},            {"ButtonSetAddress", "General"},    {"ButtonSetOutputFormat", "General"},
        {"ButtonICompute", "InstrTest"},    {"ButtonISend", "InstrTest"},       {"ButtonSetGeneralFilter", "Mpx"},
        {"ButtonEPF", "Mpx"},               {"ButtonPPF", "Mpx"},               {"ButtonRPF", "Mpx"},
        {"ButtonS1", "Psi"},                {"ButtonS2", "Psi"},                {"ButtonS3", "Psi"},
        {"ButtonS4", "Psi"},                {"ButtonErasePSI", "Psi"},          {"ButtonWritePSI", "Psi"},
        {"ButtonReadPSI", "Psi"},           {"ButtonSetPCR", "Pcr"},            {"ButtonST1", "Pcr"},
        {"ButtonQuery", "Main"},            {"Button7", "General"},             {"ButtonRQ", "Mpx"},
        {"Button1", "Psi"},                 {"ButtonPCRQuery", "Pcr"},          {"Button6", "Mfg"},
        {"ButtonPCRON", "Mfg"},             {"ButtonPCROFF", "Mfg"},
    };
    for (int round = 0; round < 3; ++round) {
      for (int framing : {0, 1}) {
        h.selectLink(framing, 1);
        for (const auto& b : pageButtons) {
          clickAndSettle(h, b[0]);
          checkPanels(h, b[0]);
        }
      }
    }
    QCOMPARE(h.nonLoopbackSends(), 0);
    QVERIFY(board.answersSent() > 100);
  }

  void fullChartRun() {
    Harness h;
    InProcessBoard board(h, hostileNetwork(22));
    h.selectLink(1, 1);
    h.form().tabs()->setCurrentIndex(TMainForm::TabPcr);
    h.click("Button2");  // Start
    auto* stop = h.find<QPushButton>("Button3");
    // About one sample a second, fewer with losses: bounded well above what is needed.
    int steps = 0;
    while (stop->isEnabled() && steps < 12000) {
      h.advance(1000);
      ++steps;
      if (steps % 500 == 0) checkPanels(h, "polling");
    }
    QVERIFY2(!stop->isEnabled(), "the chart run did not end");
    QCOMPARE(h.form().pagePcr()->ChartPCR->count(), 3600);
    QCOMPARE(h.form().device().SampleCount, 3600);
    QCOMPARE(h.text("PanelPCR"), QString("Press Start to analize PCR Correction!"));
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void twentyManufacturerRuns() {
    Harness h;
    InProcessBoard board(h, hostileNetwork(33));
    h.form().tabs()->setCurrentIndex(TMainForm::TabMfg);
    auto* start = h.find<QPushButton>("ButtonMS");
    int succeeded = 0;
    for (int run = 0; run < 20; ++run) {
      QVERIFY(start->isEnabled());
      h.click("ButtonMS");
      int steps = 0;
      while (!start->isEnabled() && steps < 4000) {
        h.advance(500);
        ++steps;
      }
      QVERIFY2(start->isEnabled(), "a run did not end");
      const QString end = h.text("LabelTest");
      QVERIFY2(kRunEndTexts.contains(end), qPrintable(end));
      const QString result = h.text("PanelTest");
      QVERIFY2(result == "Programming succeeded" || result == "Programming failed", qPrintable(result));
      QCOMPARE(result == "Programming succeeded", end == "Test program loaded successfully.");
      succeeded += result == "Programming succeeded";
    }
    QCOMPARE(h.nonLoopbackSends(), 0);
    qInfo("%d of 20 runs succeeded on the hostile network", succeeded);
  }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
