// "SDRAM and PSI Inserter" page: the bytes each button sends in both framings
// (sectors, flash erase, the 204-byte test packet in its three fill types, flash
// read), the texts written back, the inert sector rows 5..12, and the panel's
// reports of a sent instruction, a notice, a time-out and a send failure.
#include <QtTest>
#include <functional>

#include "app/MainForm.h"
#include "app/ui/PagePsi.h"
#include "helpers/LoadDatagram.h"
#include "helpers/UiHarness.h"
#include "status/StatusReport.h"

using tessaly::Bytes;
using uitest::Harness;

namespace {

const QString kSent = "Message sent, waiting for reply...";
const QString kCommError = "Communication Error! Check your network connection!";

using Case = uitest::InstructionCase;

std::function<void(Harness&)> sector(int row, bool enabled, const char* start, const char* end) {
  return [=](Harness& h) {
    const QString d = QString::number(row);
    h.find<QCheckBox>("CheckBoxS" + d)->setChecked(enabled);
    h.find<QLineEdit>("EditSS" + d)->setText(start);
    h.find<QLineEdit>("EditSE" + d)->setText(end);
  };
}

// PID, address, timer and fix texts, packet type, Auto CC.
std::function<void(Harness&)> flash(const char* pid, const char* address, const char* timer, const char* fix,
                                    int type = 0, bool autoCc = false) {
  return [=](Harness& h) {
    h.find<QLineEdit>("EditPIDPSI")->setText(pid);
    h.find<QLineEdit>("EditAddress")->setText(address);
    h.find<QLineEdit>("EditTimer")->setText(timer);
    h.find<QLineEdit>("EditFix")->setText(fix);
    h.find<TRadioGroup>("RadioGroupPT")->setItemIndex(type);
    h.find<QCheckBox>("CheckBoxACC")->setChecked(autoCc);
  };
}

// WRITEPSI data: operation, unit, address, timer, auto CC byte, then the packet
// (sync, PID, 0x10, 200 fill bytes).
Bytes writePsi(std::uint32_t address, std::uint32_t timer, std::uint8_t autoCc, std::uint16_t pid,
               const std::function<std::uint8_t(int)>& fill) {
  Bytes d{0x21, 0x01};
  for (int shift : {16, 8, 0}) d.push_back(static_cast<std::uint8_t>(address >> shift));
  for (int shift : {16, 8, 0}) d.push_back(static_cast<std::uint8_t>(timer >> shift));
  d.push_back(autoCc);
  d.push_back(0x47);
  d.push_back(static_cast<std::uint8_t>(pid >> 8));
  d.push_back(static_cast<std::uint8_t>(pid));
  d.push_back(0x10);
  for (int k = 4; k < 204; ++k) d.push_back(fill(k));
  return d;
}
std::uint8_t ascending(int k) { return static_cast<std::uint8_t>(k + 1); }
std::uint8_t descending(int k) { return static_cast<std::uint8_t>(204 - k); }

const std::vector<Case>& cases() {
  static const std::vector<Case> c = {
      {"sector 3 enabled, end clamped", sector(3, true, "4096", "131072"), "ButtonS3", "Set Sector     ",
       {0x20, 0x01, 0xE2, 0x00, 0x10, 0x00, 0x01, 0xFF, 0xFF}, 34, {{"EditSS3", "4096"}, {"EditSE3", "131071"}}},
      {"sector 1 cleared, zeros", sector(1, false, "0", "0"), "ButtonS1", "Set Sector     ",
       {0x20, 0x01, 0x60, 0, 0, 0, 0, 0, 0}, 34, {{"EditSS1", "0"}, {"EditSE1", "0"}}},
      {"sector 2 enabled, bad texts", sector(2, true, "abc", "-7"), "ButtonS2", "Set Sector     ",
       {0x20, 0x01, 0xE1, 0, 0, 0, 0, 0, 0}, 34, {{"EditSS2", "0"}, {"EditSE2", "0"}}},
      {"sector 4 cleared, start after end", sector(4, false, "$1FFFF", "70000"), "ButtonS4", "Set Sector     ",
       {0x20, 0x01, 0x63, 0x01, 0xFF, 0xFF, 0x01, 0x11, 0x70}, 34, {{"EditSS4", "131071"}, {"EditSE4", "70000"}}},
      {"erase", [](Harness&) {}, "ButtonErasePSI", "Erase PSI      ", {0x22, 0x01}, 27, {}},
      {"write, 1..188", flash("1000", "0", "10", "15"), "ButtonWritePSI", "Write PSI      ",
       writePsi(0, 10, 0x00, 1000, ascending), 238,
       {{"EditPIDPSI", "1000"}, {"EditAddress", "0"}, {"EditTimer", "10"}, {"EditFix", "15"}}},
      {"write, 188..1 with Auto CC", flash("256", "70000", "16777215", "15", 1, true), "ButtonWritePSI",
       "Write PSI      ", writePsi(70000, 0xFFFFFF, 0x01, 256, descending), 238,
       {{"EditAddress", "70000"}, {"EditTimer", "16777215"}}},
      {"write, Fix 300", flash("1000", "0", "10", "300", 2), "ButtonWritePSI", "Write PSI      ",
       writePsi(0, 10, 0x00, 1000, [](int) { return std::uint8_t{0x2C}; }), 238, {{"EditFix", "44"}}},
      {"write, empty texts", flash("", "", "", "", 2), "ButtonWritePSI", "Write PSI      ",
       writePsi(0, 10, 0x00, 1000, [](int) { return std::uint8_t{15}; }), 238,
       {{"EditPIDPSI", "1000"}, {"EditAddress", "0"}, {"EditTimer", "10"}, {"EditFix", "15"}}},
      {"write, out of range", flash("9000", "999999", "-1", "-1", 2), "ButtonWritePSI", "Write PSI      ",
       writePsi(0x1FFFF, 0, 0x00, 8191, [](int) { return std::uint8_t{0xFF}; }), 238,
       {{"EditPIDPSI", "8191"}, {"EditAddress", "131071"}, {"EditTimer", "0"}, {"EditFix", "255"}}},
      {"write, hexadecimal texts", flash("$64", "$10", "$FF", "$1", 0), "ButtonWritePSI", "Write PSI      ",
       writePsi(16, 255, 0x00, 100, ascending), 238,
       {{"EditPIDPSI", "100"}, {"EditAddress", "16"}, {"EditTimer", "255"}, {"EditFix", "1"}}},
      {"read 70000", flash("1", "70000", "1", "1"), "ButtonReadPSI", "Read  PSI      ", {0x25, 0x01, 0x01, 0x11, 0x70},
       30, {{"EditAddress", "70000"}, {"EditPIDPSI", "1"}}},
      {"read, empty address", flash("1", "", "1", "1"), "ButtonReadPSI", "Read  PSI      ", {0x25, 0x01, 0, 0, 0}, 30,
       {{"EditAddress", "0"}}},
      {"read, address clamped", flash("1", "200000", "1", "1"), "ButtonReadPSI", "Read  PSI      ",
       {0x25, 0x01, 0x01, 0xFF, 0xFF}, 30, {{"EditAddress", "131071"}}},
  };
  return c;
}

const char* const kButtons[] = {"ButtonS1", "ButtonS4", "ButtonErasePSI", "ButtonWritePSI", "ButtonReadPSI"};

}  // namespace

class PsiPageTest : public QObject {
  Q_OBJECT

 private slots:
  void sendsTheInstructionInBothFramings_data() { uitest::addInstructionRows(cases(), 1, 9); }
  void sendsTheInstructionInBothFramings() {
    QFETCH(int, index);
    QFETCH(int, framing);
    QFETCH(int, sdi);
    uitest::verifyInstructionCase(cases()[static_cast<std::size_t>(index)], framing, sdi);
  }

  // The tail of the packet in each fill type, as the board's flash would hold it.
  void packetTypesEndTheirPacket_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("1..188") << 0 << QByteArray("ca cb cc");
    QTest::newRow("188..1") << 1 << QByteArray("03 02 01");
    QTest::newRow("Fix") << 2 << QByteArray("2c 2c 2c");
  }
  void packetTypesEndTheirPacket() {
    QFETCH(int, type);
    QFETCH(QByteArray, tail);
    Harness h;
    flash("1000", "0", "10", "300", type)(h);
    h.click("ButtonWritePSI");
    QCOMPARE(h.endpoint.sent.size(), std::size_t{1});
    const Bytes& d = h.endpoint.sent[0].data;
    QCOMPARE(uitest::hexOf(Bytes(d.end() - 3, d.end())), tail);
  }

  void sectorRowsFiveToTwelveSendNothing() {
    Harness h;
    for (int k = 5; k <= 12; ++k) {
      const QString name = "ButtonS" + QString::number(k);
      auto* b = h.find<QPushButton>(name);
      QVERIFY2(!b->isEnabled(), qPrintable(name));
      h.click(name);
      b->setEnabled(true);  // even when enabled from outside, the row has no instruction
      b->click();
    }
    QVERIFY(h.endpoint.sent.empty());
    QCOMPARE(h.text("PanelPSI"), QString("Status"));
    for (int k = 1; k <= 4; ++k) QVERIFY(h.find<QPushButton>("ButtonS" + QString::number(k))->isEnabled());
  }

  void reportsTheOutcomeOnItsPanel_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answerAt");
    QTest::addColumn<int>("reportAt");
    QTest::addColumn<QString>("report");
    QTest::addColumn<std::uint32_t>("colour");
    for (const char* b : kButtons) {
      QTest::addRow("%s, notice after 300 ms", b)
          << QString(b) << 300 << 305 << "SDI IRQ received." << tessaly::colour::LightGreen;
      QTest::addRow("%s, silence", b) << QString(b) << -1 << 1000 << "No SDI IRQ received (in 1s)."
                                      << tessaly::colour::Red;
    }
  }
  void reportsTheOutcomeOnItsPanel() {
    QFETCH(QString, button);
    QFETCH(int, answerAt);
    QFETCH(int, reportAt);
    QFETCH(QString, report);
    QFETCH(std::uint32_t, colour);
    Harness h;
    auto* panel = h.panel("PanelPSI");
    panel->setColor(tessaly::colour::LightGreen);
    h.click(button);
    QCOMPARE(panel->caption(), kSent);
    QCOMPARE(panel->color(), tColor(tessaly::colour::ButtonFace));
    QCOMPARE(h.form().engine().state(), std::uint8_t{6});
    QCOMPARE(h.timer.dueAt(), std::int64_t{1000});
    if (answerAt >= 0) h.injectAfter(answerAt, uitest::datagramOfLength(20));
    h.advance(reportAt - 1);
    QCOMPARE(panel->caption(), kSent);
    h.advance(1);
    QCOMPARE(panel->caption(), report);
    QCOMPARE(panel->color(), tColor(colour));
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(h.text("PanelMpx"), QString("Status"));
  }

  void readInstructionLeavesTheNoteInTheMemo_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("note");
    for (const char* b : kButtons) QTest::newRow(b) << QString(b) << (QString(b) == "ButtonReadPSI");
  }
  void readInstructionLeavesTheNoteInTheMemo() {
    QFETCH(QString, button);
    QFETCH(bool, note);
    Harness h;
    h.memo("MemoPSI")->addLines(QStringList{"an earlier read-back", "line 2"});
    const QStringList before = h.memo("MemoPSI")->lines();
    h.click(button);
    QCOMPARE(h.memo("MemoPSI")->lines(), note ? QStringList{"Press Query to show data!"} : before);
  }

  void sendFailureIsReportedInRed_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("failActivate");
    for (const char* b : kButtons) {
      QTest::addRow("%s, send fails", b) << QString(b) << false;
      QTest::addRow("%s, activate fails", b) << QString(b) << true;
    }
  }
  void sendFailureIsReportedInRed() {
    QFETCH(QString, button);
    QFETCH(bool, failActivate);
    Harness h;
    h.endpoint.failSend = !failActivate;
    h.endpoint.failActivate = failActivate;
    h.find<QLineEdit>("EditAddress")->setText("999999");
    h.click(button);
    auto* panel = h.panel("PanelPSI");
    QCOMPARE(panel->caption(), kCommError);
    QCOMPARE(panel->color(), tColor(tessaly::colour::Red));
    QVERIFY(!h.endpoint.isActive());
    QVERIFY(!h.timer.enabled());
    QCOMPARE(h.form().engine().state(), std::uint8_t{6});
    QVERIFY(h.memo("MemoPSI")->lines().join("").isEmpty());
    if (button.contains("PSI") && button != "ButtonErasePSI") QCOMPARE(h.text("EditAddress"), QString("131071"));
    h.advance(2000);
    QCOMPARE(panel->caption(), kCommError);
  }
};

QTEST_MAIN(PsiPageTest)
#include "test_psi_page.moc"
