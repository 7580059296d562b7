// "PCR Corrector" page instructions: the bytes SETPCRCORRECTOR and SETTESTPCRPID
// send in both framings, the test PID written back, and how PanelPCR reports the
// board's notice, a time-out and a failed send.
#include <QtTest>

#include "app/MainForm.h"
#include "helpers/LoadDatagram.h"
#include "helpers/UiHarness.h"
#include "status/StatusReport.h"

using tessaly::Bytes;
using uitest::Harness;

namespace {

struct Case {
  const char* name;
  bool on, direct;
  const char* pidText;  // nullptr: SETPCRCORRECTOR
  Bytes data;
  const char* pidAfter;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> c = {
      {"corrector off", false, false, nullptr, {0x30, 0x00}, nullptr},
      {"off, direct ticked", false, true, nullptr, {0x30, 0x00}, nullptr},
      {"on", true, false, nullptr, {0x30, 0x01}, nullptr},
      {"on, direct", true, true, nullptr, {0x30, 0x11}, nullptr},
      {"test PID 8191", false, false, "8191", {0x31, 0x01, 0x1F, 0xFF}, "8191"},
      {"test PID 9999", false, false, "9999", {0x31, 0x01, 0x1F, 0xFF}, "8191"},
      // Typing stops at four characters, but a longer text put there is read whole.
      {"test PID 10000", false, false, "10000", {0x31, 0x01, 0x1F, 0xFF}, "8191"},
      {"test PID empty", false, false, "", {0x31, 0x01, 0x03, 0xE8}, "1000"},
      {"test PID text", false, false, "pid", {0x31, 0x01, 0x03, 0xE8}, "1000"},
      {"test PID -1", false, false, "-1", {0x31, 0x01, 0x00, 0x00}, "0"},
      {"test PID $100", true, true, "$100", {0x31, 0x01, 0x01, 0x00}, "256"},
  };
  return c;
}

const char* buttonOf(const Case& c) { return c.pidText ? "ButtonST1" : "ButtonSetPCR"; }

}  // namespace

class PcrCorrectorTest : public QObject {
  Q_OBJECT

 private slots:
  void sendsInBothFramings_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("sdi");
    for (int i = 0; i < static_cast<int>(cases().size()); ++i) {
      QTest::addRow("CW-Net: %s", cases()[static_cast<std::size_t>(i)].name) << i << 0 << 2;
      QTest::addRow("DDToIP: %s", cases()[static_cast<std::size_t>(i)].name) << i << 1 << 15;
    }
  }
  void sendsInBothFramings() {
    QFETCH(int, index);
    QFETCH(int, framing);
    QFETCH(int, sdi);
    const Case& c = cases()[static_cast<std::size_t>(index)];
    Harness h;
    h.selectLink(framing, sdi);
    h.find<QCheckBox>("CheckBoxPCR")->setChecked(c.on);
    h.find<QCheckBox>("CheckBoxDP")->setChecked(c.direct);
    if (c.pidText) h.find<QLineEdit>("EditTestPID1")->setText(c.pidText);
    h.click(buttonOf(c));
    uitest::verifyOneInstructionSent(h, framing, sdi, "Set PCR Correct", c.data, c.pidText ? 29 : 27);
    if (QTest::currentTestFailed()) return;
    if (c.pidAfter) QCOMPARE(h.text("EditTestPID1"), QString(c.pidAfter));
    QCOMPARE(h.text("PanelPCR"), QString("Message sent, waiting for reply..."));
    QCOMPARE(h.form().engine().state(), std::uint8_t{8});
    QCOMPARE(h.timer.interval(), 1000);
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void reportsTheOutcome_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answerAt");  // -1: none
    QTest::addColumn<int>("answerLength");
    QTest::addColumn<int>("reportAt");
    QTest::addColumn<QString>("report");
    QTest::addColumn<std::uint32_t>("colour");
    for (const char* b : {"ButtonSetPCR", "ButtonST1"}) {
      QTest::addRow("%s, notice after 300 ms", b)
          << QString(b) << 300 << 18 << 305 << "SDI IRQ received." << tessaly::colour::LightGreen;
      QTest::addRow("%s, silence", b) << QString(b) << -1 << 0 << 1000 << "No SDI IRQ received (in 1s)."
                                      << tessaly::colour::Red;
    }
    QTest::addRow("long answer ends the wait")
        << QString("ButtonST1") << 200 << 1032 << 205 << "No SDI IRQ received (in 1s)." << tessaly::colour::Red;
  }
  void reportsTheOutcome() {
    QFETCH(QString, button);
    QFETCH(int, answerAt);
    QFETCH(int, answerLength);
    QFETCH(int, reportAt);
    QFETCH(QString, report);
    QFETCH(std::uint32_t, colour);
    Harness h;
    auto* panel = h.panel("PanelPCR");
    panel->setColor(tessaly::colour::Red);
    h.click(button);
    QCOMPARE(panel->color(), tColor(tessaly::colour::ButtonFace));
    if (answerAt >= 0) h.injectAfter(answerAt, uitest::datagramOfLength(static_cast<std::size_t>(answerLength)));
    h.advance(reportAt - 1);
    QCOMPARE(panel->caption(), QString("Message sent, waiting for reply..."));
    h.advance(1);
    QCOMPARE(panel->caption(), report);
    QCOMPARE(panel->color(), tColor(colour));
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(h.text("PanelMpx"), QString("Status"));
  }

  void sendFailure_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("failActivate");
    for (const char* b : {"ButtonSetPCR", "ButtonST1"}) {
      QTest::addRow("%s, send fails", b) << QString(b) << false;
      QTest::addRow("%s, bind fails", b) << QString(b) << true;
    }
  }
  void sendFailure() {
    QFETCH(QString, button);
    QFETCH(bool, failActivate);
    Harness h;
    h.find<QLineEdit>("EditTestPID1")->setText("9999");
    (failActivate ? h.endpoint.failActivate : h.endpoint.failSend) = true;
    h.click(button);
    QCOMPARE(h.text("PanelPCR"), QString("Communication Error!"));
    QCOMPARE(h.panel("PanelPCR")->color(), tColor(tessaly::colour::Red));
    QCOMPARE(h.form().engine().state(), std::uint8_t{8});
    QVERIFY(!h.timer.enabled());
    QVERIFY(!h.endpoint.isActive());
    if (button == "ButtonST1") QCOMPARE(h.text("EditTestPID1"), QString("8191"));
    h.advance(3000);
    QCOMPARE(h.text("PanelPCR"), QString("Communication Error!"));
  }
};

QTEST_MAIN(PcrCorrectorTest)
#include "test_pcr_corrector.moc"
