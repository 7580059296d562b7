// The status presentation on every page, the per-page interrupt-notice outcomes of
// the one send path, and the memo that takes whole reports.
#include <QScrollBar>

#include "app/ui/PageHost.h"
#include "helpers/UiHarness.h"
#include "link/Framing.h"
#include "status/StatusReport.h"

using uitest::Harness;
using uitest::StatusBlock;
using namespace tessaly;

namespace {

StatusBlock richBlock() {
  StatusBlock b;
  b.set16(block::DeviceType, 4852)
      .set32(block::Serial, 0xFFFFFFFF)
      .set8(block::Address, 0x13)
      .set8(block::InstrCounter, 9)
      .set8(block::VersionMajor, 2)
      .set8(block::VersionMinor, 7)
      .set8(block::ChannelEnable, 0x05)
      .set8(block::DataValid, 0x02)
      .set8(block::NullFilter, 0x04)
      .set8(block::TspFilter, 0x20)
      .set8(block::OutputFormat, 0x81)
      .set8(block::IicError, 0x0A)
      .set32(block::Nco, 3000000)
      .set16(block::PDiv, 34)
      .set32(block::PllWord, (34u << 20) | (2u << 11) | (30u << 5) | (3u << 2))
      .set8(block::PidFilterState, 1)
      .set8(block::IntRError, 3)
      .set8(block::ReadbackKind, 1)
      .set8(block::Leds, 0x88)
      .set8(block::PcrState, 0x11)
      .set16(block::TestPid, 500)
      .set8(block::MpxVersion, 14)
      .set8(block::SppVersion, 9)
      .set8(block::Model, 1)
      .set32(block::InputStatus + 0, (3u << 24) | (1u << 23) | 256)
      .set32(block::InputStatus + 8, (1u << 22) | 1000)
      .set24(block::SdramInput, 100)
      .set24(block::SdramWord, (1u << 21) | 60000)
      .set24(block::NullRate, 5)
      .set24(block::InsertedRate, 2)
      .set8(block::PcrDiscont, 6)
      .set16(block::PcrPidCount, 4)
      .set16(block::PcrBaseError, 0x8000 | 45)
      .set16(block::PcrSlide, 32768 - 300)
      .set8(block::LargePcrErrors, 7)
      .set8(block::NewPcrPids, 8)
      .set8(block::Sectors, 0x83)
      .set16(block::Sectors + 1, 0x0010)
      .set16(block::Sectors + 3, 0xFFFF)
      .set8(block::Sectors + 55, 0x00)
      .set16(block::Sectors + 56, 5)
      .set16(block::Sectors + 58, 6);
  for (int i = 0; i < 256; ++i) b.set8(block::Readback + i, static_cast<std::uint32_t>(i * 0x11));
  return b;
}

// Query, answer, hand-over: the presentation of `b` (CW-Net), asked of the board's
// own SDI address (another board's status is no answer).
void present(Harness& h, const StatusBlock& b) {
  const int address = b.bytes()[block::Address] & 0x0F;
  h.selectLink(0, address ? address : 1);
  h.click("ButtonQuery");
  h.inject(uitest::cwNetAnswer(b));
  h.advance(5);
}

QStringList toList(const std::vector<std::string>& v) {
  QStringList l;
  for (const auto& s : v) l << QString::fromStdString(s);
  return l;
}

}  // namespace

class PresentStatus : public QObject {
  Q_OBJECT
 private slots:
  void everyPageShowsTheRecord() {
    Harness h;
    present(h, richBlock());
    const std::pair<const char*, const char*> texts[] = {
        {"LabelD", "Device Code: h1A (v2.07)"},
        {"PanelMpx", "Data refreshed."},
        {"LabelIICError", "IIC Error: h0A"},
        {"LabelIRE", "Int. R. Er.: 3"},
        {"LabelPFState", "PID Filter State: h01"},
        {"PanelPFState", "Busy"},
        {"LabelCh1S", "385 kbps"},
        {"LabelCh1F", "188"},
        {"LabelCh2S", "0 kbps"},
        {"LabelCh2F", " - "},
        {"LabelCh3S", "1632 kbps"},
        {"LabelCh3F", "204"},
        {"LabelPFOut", "163 kbps"},
        {"Label29", "204"},
        {"PanelPSI", "Data refreshed."},
        {"Label13", "100 packet/sec"},
        {"LabelNP", "5 packet/sec"},
        {"LabelIns", "2 packet/sec"},
        {"Label15", "60000 packets"},
        {"LabelPSIState", "PSI Inserter State: h00"},
        {"PanelPSIState", "Free"},
        {"EditSS1", "65552"},
        {"EditSE1", "131071"},
        {"EditSS12", "5"},
        {"EditSE12", "6"},
        {"PanelPCR", "Data refreshed."},
        {"LabelSDR", "SDRAM Packets: 60000"},
        {"LabelSlide", "Slide: -300 (-23 Hz)"},
        {"LabelCOR", "COR @ 40 ms: -1"},
        {"LabelBR", "PCR Base Error: 45"},
        {"Label110", "(0.500 ms)"},
        {"LabelPCRG", "Gradient: +"},
        {"EditTestPID1", "500"},
        {"LabelPCR1", "4"},
        {"LabelNPCR1", "8"},
        {"LabelPCRD1", "6"},
        {"LabelLPCR1", "7"},
    };
    for (const auto& [name, text] : texts) QCOMPARE(QString(name) + "=" + h.text(name), QString(name) + "=" + text);

    const std::pair<const char*, bool> checks[] = {
        {"CheckBoxEN1", true}, {"CheckBoxEN2", false}, {"CheckBoxEN3", true},  {"CheckBoxDV2", true},
        {"CheckBoxDV1", false}, {"CheckBoxNP3", true}, {"CheckBoxTSP6", true}, {"CheckBoxTSP5", false},
        {"CheckBoxS1", true},  {"CheckBoxS12", false}, {"CheckBoxPCR", true},  {"CheckBoxDP", true}};
    for (const auto& [name, on] : checks) QCOMPARE(QString(name) + (h.find<QCheckBox>(name)->isChecked() ? "+" : "-"),
                                                   QString(name) + (on ? "+" : "-"));

    QCOMPARE(h.find<TRadioGroup>("RadioGroupAddress")->itemIndex(), 2);
    QCOMPARE(h.find<TGauge>("GaugeCh1")->progress(), 385);
    QCOMPARE(h.find<TGauge>("GaugeCh1")->color(), tColor(colour::Orange));  // first answer: 3 new sync errors
    QCOMPARE(h.find<TGauge>("GaugeCh2")->color(), buttonFace());
    QCOMPARE(h.find<TGauge>("GaugeCh3")->color(), tColor(colour::Red));
    QCOMPARE(h.find<TGauge>("GaugePFOut")->progress(), 163);
    QCOMPARE(h.find<TGauge>("GaugeSDRAM")->progress(), 60000);
    QCOMPARE(h.find<TGauge>("GaugeSDRAM")->color(), tColor(colour::Yellow));
    QCOMPARE(h.panel("PanelPFState")->color(), tColor(colour::Red));
    QCOMPARE(h.panel("PanelPSIState")->color(), tColor(colour::LightGreen));
    QCOMPARE(h.panel("PanelPCR1")->color(), tColor(colour::LightGreen));
    QCOMPARE(h.panel("PanelPCR2")->color(), buttonFace());
    QCOMPARE(h.find<QLabel>("LabelSDR")->palette().color(QPalette::WindowText), tColor(colour::Blue));
    QCOMPARE(h.memo("MemoGS")->lines(), toList(generalMemoLines(h.form().device())));
    QCOMPARE(h.memo("MemoGS")->lines()[4], QString("PLL Frequency: 3000000 Hz"));
    const QStringList mpx = h.memo("MemoMpx")->lines();
    QCOMPARE(mpx.size(), 10);
    QCOMPARE(mpx[1], QString(" h0011 h2233 h4455 h6677 "));
    QVERIFY(h.memo("MemoPSI")->lines().isEmpty());

    // The next answer with the same synchronisation counter: green.
    present(h, richBlock());
    QCOMPARE(h.find<TGauge>("GaugeCh1")->color(), tColor(colour::Green));
  }

  // Fractions use the decimal separator of the user's locale.
  void fractionsFollowTheLocale() {
    const QLocale saved;
    struct Case {
      QLocale locale;
      const char* shown;
    } cases[] = {{QLocale(QLocale::German, QLocale::Germany), "(0,500 ms)"}, {QLocale::c(), "(0.500 ms)"}};
    for (const auto& c : cases) {
      QLocale::setDefault(c.locale);
      Harness h;
      present(h, richBlock());
      const QString shown = h.text("Label110");
      QLocale::setDefault(saved);
      QCOMPARE(shown, QString(c.shown));
    }
  }

  void sdramGaugeColour_data() {
    QTest::addColumn<int>("usage");
    QTest::addColumn<uint>("colour");
    QTest::newRow("50000") << 50000 << uint(colour::Green);
    QTest::newRow("50001") << 50001 << uint(colour::Yellow);
    QTest::newRow("65533") << 65533 << uint(colour::Yellow);
    QTest::newRow("65534") << 65534 << uint(colour::Red);
  }
  void sdramGaugeColour() {
    QFETCH(int, usage);
    QFETCH(uint, colour);
    Harness h;
    present(h, StatusBlock().set24(block::SdramWord, static_cast<std::uint32_t>(usage) | (1u << 22)));
    QCOMPARE(h.find<TGauge>("GaugeSDRAM")->color(), tColor(colour));
    QCOMPARE(h.find<QLabel>("LabelSDR")->palette().color(QPalette::WindowText), tColor(colour::Red));
  }

  void readbackGoesOnlyWhereItsKindSays_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mpxLines");
    QTest::addColumn<int>("psiLines");
    QTest::newRow("0") << 0 << 15 << 0;
    QTest::newRow("1") << 1 << 10 << 0;
    QTest::newRow("2") << 2 << 15 << 17;
    QTest::newRow("3") << 3 << 15 << 0;
  }
  void readbackGoesOnlyWhereItsKindSays() {
    QFETCH(int, kind);
    QFETCH(int, mpxLines);
    QFETCH(int, psiLines);
    Harness h;
    present(h, StatusBlock().set8(block::ReadbackKind, static_cast<std::uint32_t>(kind)));
    QCOMPARE(h.memo("MemoMpx")->lineCount(), mpxLines);
    QCOMPARE(h.memo("MemoPSI")->lineCount(), psiLines);
    if (kind == 2) QCOMPARE(h.memo("MemoPSI")->lines()[0], QString("PSI Inserter Readback Data:"));
  }

  void addressZeroClearsTheAddressGroup() {
    Harness h;
    present(h, StatusBlock().set8(block::Address, 0x10));
    QCOMPARE(h.find<TRadioGroup>("RadioGroupAddress")->itemIndex(), -1);
    present(h, StatusBlock().set8(block::Address, 0x0F));
    QCOMPARE(h.find<TRadioGroup>("RadioGroupAddress")->itemIndex(), 14);
  }

  void twoPresentationsAppendTheReportTwice() {
    Harness h;
    present(h, richBlock());
    auto* memo = h.memo("MemoInfo");
    memo->clearLines();
    h.form().PresentStatus();
    h.form().PresentStatus();
    const QStringList report = toList(statusReportLines(h.form().device()));
    QCOMPARE(memo->lines(), report + report);
  }

  void aReportIsOneInsertion() {
    Harness h;
    present(h, richBlock());
    auto* memo = h.memo("MemoInfo");
    int changes = 0;
    connect(memo, &TMemo::changed, [&changes] { ++changes; });
    const int before = memo->lineCount();
    h.form().PresentStatus();
    QCOMPARE(changes, 1);
    QCOMPARE(memo->lineCount(), before + int(statusReportLines(h.form().device()).size()));
    // The view follows the newest line.
    QCOMPARE(memo->verticalScrollBar()->value(), memo->verticalScrollBar()->maximum());
  }

  void memoKeepsLinesExactly() {
    TMemo memo("MemoT", {"first", "", " "});
    QCOMPARE(memo.lines(), (QStringList{"first", "", " "}));
    memo.addLines(std::vector<std::string>{"a", "", "b"});
    memo.addLine("two\nlines");
    QCOMPARE(memo.lines(), (QStringList{"first", "", " ", "a", "", "b", "two", "lines"}));
    QCOMPARE(memo.line(7), QString("lines"));
    QCOMPARE(memo.line(8), QString());
    memo.clearLines();
    QCOMPARE(memo.lineCount(), 0);
    QVERIFY(memo.lines().isEmpty());
    memo.addLine("");
    QCOMPARE(memo.lines(), QStringList{""});
    memo.addLines(QStringList{});
    QCOMPARE(memo.lineCount(), 1);
  }

  void pageSendPathAndInterruptOutcome_data() {
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("textLabel");
    QTest::addColumn<int>("code");
    QTest::newRow("General") << "PanelGS" << "LabelGS" << 2;
    QTest::newRow("Mpx") << "PanelMpx" << "PanelMpx" << 4;
    QTest::newRow("PSI") << "PanelPSI" << "PanelPSI" << 6;
    QTest::newRow("PCR") << "PanelPCR" << "PanelPCR" << 8;
  }
  void pageSendPathAndInterruptOutcome() {
    QFETCH(QString, panel);
    QFETCH(QString, textLabel);
    QFETCH(int, code);
    const auto w = static_cast<std::uint8_t>(code);
    const QString failed = "No SDI IRQ received (in 1s).";
    auto send = [&](Harness& h, TMemo* memo = nullptr) {
      h.panel(panel)->setColor(tColor(colour::Red));
      return h.form().sendPageInstruction("Erase PIDFilter", 0xE0, {0x12, 0x01}, h.panel(panel), w,
                                          "Communication Error! Check your network connection!", memo);
    };
    {  // notice after 300 ms: reported about 5 ms later
      Harness h;
      h.selectLink(1, 3);
      QVERIFY(send(h));
      QCOMPARE(h.endpoint.sent.back().data,
               encodeSingleInstructionDatagram(Framing::DDToIP, "Erase PIDFilter", 3, 0xE0, {0x12, 0x01}));
      QCOMPARE(h.panel(panel)->color(), buttonFace());
      QCOMPARE(h.text(textLabel), QString("Message sent, waiting for reply..."));
      QCOMPARE(int(h.form().engine().state()), code);
      h.injectAfter(300, uitest::datagramOfLength(26));
      h.advance(304);
      QCOMPARE(h.text(textLabel), QString("Message sent, waiting for reply..."));
      h.advance(1);
      QCOMPARE(h.text(textLabel), QString("SDI IRQ received."));
      QCOMPARE(h.panel(panel)->color(), tColor(colour::LightGreen));
      QCOMPARE(int(h.form().engine().state()), code + 1);
    }
    {  // no notice
      Harness h;
      QVERIFY(send(h));
      h.advance(999);
      QCOMPARE(h.text(textLabel), QString("Message sent, waiting for reply..."));
      h.advance(1);
      QCOMPARE(h.text(textLabel), failed);
      QCOMPARE(h.panel(panel)->color(), tColor(colour::Red));
    }
    {  // a long datagram ends the wait at once, as a failure
      Harness h;
      QVERIFY(send(h));
      h.injectAfter(100, uitest::datagramOfLength(27));
      h.advance(105);
      QCOMPARE(h.text(textLabel), failed);
      QCOMPARE(int(h.form().engine().state()), code);
    }
    {  // send failure: the page's text in red, no timer
      Harness h;
      h.endpoint.failSend = true;
      QVERIFY(!send(h));
      QCOMPARE(h.text(textLabel), QString("Communication Error! Check your network connection!"));
      QCOMPARE(h.panel(panel)->color(), tColor(colour::Red));
      QVERIFY(!h.timer.enabled());
      QVERIFY(!h.endpoint.isActive());
      QCOMPARE(int(h.form().engine().state()), code);
    }
    {  // a read instruction leaves its note in the page memo
      Harness h;
      QVERIFY(send(h, h.memo("MemoMpx")));
      QCOMPARE(h.memo("MemoMpx")->lines(), QStringList{"Press Query to show data!"});
    }
  }
};

QTEST_MAIN(PresentStatus)
#include "test_present_status.moc"
