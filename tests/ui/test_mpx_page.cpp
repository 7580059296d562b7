// "Mpx and PID Filter" page: the bytes each button sends in both framings, the
// texts written back into the edits, the remap box, and how the page panel reports
// a sent instruction, the board's interrupt notice, a time-out and a send failure.
#include <QtTest>
#include <algorithm>
#include <functional>

#include "app/MainForm.h"
#include "app/ui/PageMpx.h"
#include "helpers/LoadDatagram.h"
#include "helpers/UiHarness.h"
#include "status/StatusReport.h"

using tessaly::Bytes;
using uitest::Harness;

namespace {

const QString kSent = "Message sent, waiting for reply...";
const QString kCommError = "Communication Error! Check your network connection!";

using Case = uitest::InstructionCase;

void setBoxes(Harness& h, const char* column, std::initializer_list<int> ticked) {
  for (int i = 1; i <= 6; ++i)
    h.find<QCheckBox>(QString(column) + QString::number(i))->setChecked(std::find(ticked.begin(), ticked.end(), i) != ticked.end());
}

void filterBoxes(Harness& h, std::initializer_list<int> en, std::initializer_list<int> dv, std::initializer_list<int> np,
                 std::initializer_list<int> tsp) {
  setBoxes(h, "CheckBoxEN", en);
  setBoxes(h, "CheckBoxDV", dv);
  setBoxes(h, "CheckBoxNP", np);
  setBoxes(h, "CheckBoxTSP", tsp);
}

// TS input index, PID text, remap box, remap text.
std::function<void(Harness&)> pidInputs(int ts, const char* pid, bool remap = false, const char* remapText = "500") {
  return [=](Harness& h) {
    h.find<TRadioGroup>("RadioGroupTS")->setItemIndex(ts);
    h.find<QLineEdit>("EditPID")->setText(pid);
    h.find<QCheckBox>("CheckBoxREMAP")->setChecked(remap);
    h.find<QLineEdit>("EditREMAP")->setText(remapText);
  };
}

const std::vector<Case>& cases() {
  static const std::vector<Case> c = {
      {"general filter, every box of input 1", [](Harness& h) { filterBoxes(h, {1}, {1}, {1}, {1}); },
       "ButtonSetGeneralFilter", "Set General Fil", {0x10, 0x01, 0x01, 0x01, 0x01}, 30, {}},
      {"general filter, Enable on all inputs", [](Harness& h) { filterBoxes(h, {1, 2, 3, 4, 5, 6}, {}, {}, {}); },
       "ButtonSetGeneralFilter", "Set General Fil", {0x10, 0x3F, 0x00, 0x00, 0x00}, 30, {}},
      {"general filter, one box per column", [](Harness& h) { filterBoxes(h, {2}, {3}, {5}, {6}); },
       "ButtonSetGeneralFilter", "Set General Fil", {0x10, 0x02, 0x04, 0x10, 0x20}, 30, {}},
      {"erase", [](Harness&) {}, "ButtonEPF", "Erase PIDFilter", {0x12, 0x01}, 27, {}},
      {"write 500, remap clear", pidInputs(2, "500"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x02, 0x01, 0xF4, 0xC1, 0xF4}, 33, {{"EditPID", "500"}, {"EditREMAP", "500"}}},
      {"write 500, remap 8191", pidInputs(0, "500", true, "8191"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x00, 0x01, 0xF4, 0xDF, 0xFF}, 33, {{"EditPID", "500"}, {"EditREMAP", "8191"}}},
      {"write, remap 9000 clamped", pidInputs(5, "16", true, "9000"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x05, 0x00, 0x10, 0xDF, 0xFF}, 33, {{"EditPID", "16"}, {"EditREMAP", "8191"}}},
      {"write, remap not a number", pidInputs(1, "16", true, "x1"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x01, 0x00, 0x10, 0xC0, 0x00}, 33, {{"EditPID", "16"}, {"EditREMAP", "0"}}},
      {"write, PID 9000", pidInputs(0, "9000"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x00, 0x1F, 0xFF, 0xDF, 0xFF}, 33, {{"EditPID", "8191"}}},
      {"write, PID -5", pidInputs(0, "-5"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}, 33, {{"EditPID", "0"}}},
      {"write, PID abc", pidInputs(0, "abc"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}, 33, {{"EditPID", "0"}}},
      {"write, PID in hexadecimal", pidInputs(0, "$1F4"), "ButtonPPF", "Write PIDFilter",
       {0x11, 0x01, 0x00, 0x00, 0x01, 0xF4, 0xC1, 0xF4}, 33, {{"EditPID", "500"}}},
      {"write, remap clear leaves a bad remap text", pidInputs(3, "256", false, "not a pid"), "ButtonPPF",
       "Write PIDFilter", {0x11, 0x01, 0x00, 0x03, 0x01, 0x00, 0xC1, 0x00}, 33,
       {{"EditPID", "256"}, {"EditREMAP", "not a pid"}}},
      {"read 503", pidInputs(5, "503"), "ButtonRPF", "Read  PIDFilter", {0x14, 0x01, 0x00, 0x05, 0x01, 0xF0}, 31,
       {{"EditPID", "496"}}},
      {"read 8191", pidInputs(0, "8191"), "ButtonRPF", "Read  PIDFilter", {0x14, 0x01, 0x00, 0x00, 0x1F, 0xF8}, 31,
       {{"EditPID", "8184"}}},
      {"read 9000", pidInputs(0, "9000"), "ButtonRPF", "Read  PIDFilter", {0x14, 0x01, 0x00, 0x00, 0x1F, 0xF8}, 31,
       {{"EditPID", "8184"}}},
      {"read, remap box ignored", pidInputs(0, "7", true, "bad"), "ButtonRPF", "Read  PIDFilter",
       {0x14, 0x01, 0x00, 0x00, 0x00, 0x00}, 31, {{"EditPID", "0"}, {"EditREMAP", "bad"}}},
  };
  return c;
}

const char* const kButtons[] = {"ButtonSetGeneralFilter", "ButtonEPF", "ButtonPPF", "ButtonRPF"};

}  // namespace

class MpxPageTest : public QObject {
  Q_OBJECT

 private slots:
  void sendsTheInstructionInBothFramings_data() { uitest::addInstructionRows(cases(), 3, 15); }
  void sendsTheInstructionInBothFramings() {
    QFETCH(int, index);
    QFETCH(int, framing);
    QFETCH(int, sdi);
    uitest::verifyInstructionCase(cases()[static_cast<std::size_t>(index)], framing, sdi);
  }

  // Time line of one instruction: the panel goes neutral with the sent text, then
  // reports the interrupt notice 5 ms after it arrives, or the time-out.
  void reportsTheOutcomeOnItsPanel_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answerAt");      // -1: none
    QTest::addColumn<int>("answerLength");
    QTest::addColumn<int>("reportAt");
    QTest::addColumn<QString>("report");
    QTest::addColumn<std::uint32_t>("colour");
    for (const char* b : kButtons) {
      QTest::addRow("%s, notice after 300 ms", b)
          << QString(b) << 300 << 26 << 305 << "SDI IRQ received." << tessaly::colour::LightGreen;
      QTest::addRow("%s, silence", b) << QString(b) << -1 << 0 << 1000 << "No SDI IRQ received (in 1s)."
                                      << tessaly::colour::Red;
    }
    QTest::addRow("long answer ends the wait") << QString("ButtonPPF") << 300 << 27 << 305
                                               << "No SDI IRQ received (in 1s)." << tessaly::colour::Red;
  }
  void reportsTheOutcomeOnItsPanel() {
    QFETCH(QString, button);
    QFETCH(int, answerAt);
    QFETCH(int, answerLength);
    QFETCH(int, reportAt);
    QFETCH(QString, report);
    QFETCH(std::uint32_t, colour);
    Harness h;
    auto* panel = h.panel("PanelMpx");
    panel->setCaption("old");
    panel->setColor(tessaly::colour::Red);
    h.click(button);
    QCOMPARE(panel->caption(), kSent);
    QCOMPARE(panel->color(), tColor(tessaly::colour::ButtonFace));
    QCOMPARE(h.form().engine().state(), std::uint8_t{4});
    QVERIFY(h.endpoint.isActive());
    QCOMPARE(h.timer.interval(), 1000);
    QCOMPARE(h.timer.dueAt(), std::int64_t{1000});
    if (answerAt >= 0) h.injectAfter(answerAt, uitest::datagramOfLength(static_cast<std::size_t>(answerLength)));
    h.advance(reportAt - 1);
    QCOMPARE(panel->caption(), kSent);
    h.advance(1);
    QCOMPARE(panel->caption(), report);
    QCOMPARE(panel->color(), tColor(colour));
    QVERIFY(!h.endpoint.isActive());
    // Only this page's panel speaks.
    QCOMPARE(h.text("PanelPSI"), QString("Status"));
  }

  void readInstructionLeavesTheNoteInTheMemo_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("note");
    for (const char* b : kButtons) QTest::newRow(b) << QString(b) << (QString(b) == "ButtonRPF");
  }
  void readInstructionLeavesTheNoteInTheMemo() {
    QFETCH(QString, button);
    QFETCH(bool, note);
    Harness h;
    const QStringList before = h.memo("MemoMpx")->lines();
    QCOMPARE(before.size(), 15);
    h.click(button);
    QCOMPARE(h.memo("MemoMpx")->lines(), note ? QStringList{"Press Query to show data!"} : before);
  }

  // A failed send: red error text, endpoint closed, no timer, waiting code kept,
  // memo untouched; the edits still show the normalised values.
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
    h.find<QLineEdit>("EditPID")->setText("503");
    const QStringList memo = h.memo("MemoMpx")->lines();
    h.click(button);
    auto* panel = h.panel("PanelMpx");
    QCOMPARE(panel->caption(), kCommError);
    QCOMPARE(panel->color(), tColor(tessaly::colour::Red));
    QVERIFY(!h.endpoint.isActive());
    QVERIFY(!h.timer.enabled());
    QCOMPARE(h.form().engine().state(), std::uint8_t{4});
    QCOMPARE(h.memo("MemoMpx")->lines(), memo);
    if (button == "ButtonRPF") QCOMPARE(h.text("EditPID"), QString("496"));
    h.advance(2000);
    QCOMPARE(panel->caption(), kCommError);
  }

  void remapBoxEnablesItsEdit() {
    Harness h;
    auto* edit = h.find<QLineEdit>("EditREMAP");
    auto* box = h.find<QCheckBox>("CheckBoxREMAP");  // no caption: click() hits it wherever it is laid out
    // White in both states: a point inside the frame, right of the text.
    auto background = [edit] { return edit->grab().toImage().pixelColor(edit->width() - 6, edit->height() / 2); };
    QVERIFY(!edit->isEnabled());
    QCOMPARE(background(), QColor(Qt::white));
    box->click();
    QVERIFY(edit->isEnabled());
    QCOMPARE(background(), QColor(Qt::white));
    box->click();
    QVERIFY(!edit->isEnabled());
    QCOMPARE(background(), QColor(Qt::white));
    QVERIFY(h.endpoint.sent.empty());
  }

  void remapBoxTickedInTheSettingsStartsWithTheEditEnabled() {
    uitest::Options o;
    o.extraSettings = "[MpxAndPIDFilter]\nRemapCB=1\nRemap=777\nPID=32\n";
    Harness h(o);
    QVERIFY(h.find<QCheckBox>("CheckBoxREMAP")->isChecked());
    QVERIFY(h.find<QLineEdit>("EditREMAP")->isEnabled());
    h.click("ButtonPPF");
    QCOMPARE(h.endpoint.sent.size(), std::size_t{1});
    const Bytes& d = h.endpoint.sent[0].data;
    QCOMPARE(uitest::hexOf(Bytes(d.end() - 4, d.end())), uitest::hexOf({0x00, 0x20, 0xC3, 0x09}));  // 32 -> 777
  }

  // The link is read when the button is pressed.
  void framingAndAddressFollowTheMainPage() {
    Harness h;
    h.selectLink(1, 7);
    h.click("ButtonEPF");
    h.selectLink(0, 2);
    h.click("ButtonEPF");
    QCOMPARE(h.endpoint.sent.size(), std::size_t{2});
    QCOMPARE(uitest::hexOf(h.endpoint.sent[0].data),
             uitest::hexOf(uitest::expectedLoadDatagram(1, 7, "Erase PIDFilter", {0x12, 0x01})));
    QCOMPARE(uitest::hexOf(h.endpoint.sent[1].data),
             uitest::hexOf(uitest::expectedLoadDatagram(0, 2, "Erase PIDFilter", {0x12, 0x01})));
  }
};

QTEST_MAIN(MpxPageTest)
#include "test_mpx_page.moc"
