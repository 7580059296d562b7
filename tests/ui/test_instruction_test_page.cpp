// The Instruction Test page on the harness: the dumps it writes for what the rows
// hold, what it sends, the answer and time-out reports, send failures, and the
// edits' key handling.
#include <QApplication>
#include <QtTest>

#include "app/ui/PageGeneral.h"
#include "app/ui/PageInstrTest.h"
#include "app/ui/PageMain.h"
#include "helpers/UiHarness.h"
#include "link/Engine.h"

namespace {

using tessaly::Bytes;

const QColor kUnconfirmed(0xC7, 0xCD, 0xB4);  // 0xB4CDC7 in blue-green-red

// The bytes a dump shows, in order ("$4F " tokens of every line after the first).
Bytes dumpedBytes(const QStringList& lines) {
  Bytes out;
  for (const QString& line : lines.mid(1))
    for (const QString& token : line.split(' ', Qt::SkipEmptyParts))
      if (token.startsWith('$')) out.push_back(static_cast<std::uint8_t>(token.mid(1).toUInt(nullptr, 16)));
  return out;
}

// " $16 $17 ..." for bytes 22.. of a datagram whose byte i is i & 0xFF.
QString bodyOfCountingDatagram(int length) {
  QString s = " DDToIP body:";
  for (int i = 22; i < length; ++i) s += QString(" $%1").arg(i & 0xFF, 2, 16, QChar('0')).toUpper();
  return s;
}

Bytes countingDatagram(int length) {
  Bytes d(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) d[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return d;
}

struct Row {
  bool ticked;
  QString opcode;
  QString data;
};

// The row-1 example at SDI address 3 under the initial user text.
const QStringList kDDToIPView = {
    "Step 1. - DDToIP Message bytes:",
    "Header: $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "        $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    "        $85 $00 $1D $03 ",
    "        $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "        $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    "IT1:    $00 $00 $03 $00 $56 $78 ",
};
const QStringList kDDToIPSend = {
    "Step 1. - Processing DDToIP Message",
    " Header: $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "         $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    "         $85 $00 $1D $03 ",
    "         $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "         $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    " IT1:    $00 $00 $03 $00 $56 $78 ",
    " ",
    "Step 2. - Sending Message",
};
const QStringList kCwNetView = {
    "Step 1. - CW-Net Message bytes:",
    "Header: $43 $57 $2D $4E $65 $74 $18 $03 $53 ",
    "        $4C $6F $61 $64 $20 $44 $61 $74 $61 ",
    "        $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "        $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    "IT1:    $00 $00 $03 $00 $56 $78 ",
};
const QStringList kCwNetSend = {
    "Step 1. - Processing CW-Net Message",
    " Header: $43 $57 $2D $4E $65 $74 $18 $03 $53 ",
    "         $4C $6F $61 $64 $20 $44 $61 $74 $61 ",
    "         $44 $44 $54 $6F $49 $50 $51 $75 $69 $6C $6C ",
    "         $6D $61 $72 $73 $68 $20 $42 $74 $2E $00 $01 ",
    " IT1:    $00 $00 $03 $00 $56 $78 ",
    " ",
    "Step 2. - Sending Message",
};

}  // namespace

class InstructionTestPage : public QObject {
  Q_OBJECT

  // A harness with the link on `framing`, SDI address 3, and the page's rows as given
  // (rows not listed are cleared).
  std::unique_ptr<uitest::Harness> harness(int framing, const QList<Row>& rows) {
    auto h = std::make_unique<uitest::Harness>();
    h->selectLink(framing, 3);
    PageInstrTest* p = page(*h);
    for (int n = 1; n <= 5; ++n) {
      const Row r = n <= rows.size() ? rows[n - 1] : Row{false, "$00", "0"};
      p->CheckBoxI[n]->setChecked(r.ticked);
      p->EditOC[n]->setText(r.opcode);
      p->EditData[n]->setText(r.data);
    }
    p->Edit1->setText("Quillmarsh Bt.");
    return h;
  }
  static PageInstrTest* page(uitest::Harness& h) { return h.form().pageInstrTest(); }
  static QStringList memo(uitest::Harness& h) { return h.memo("MemoIns")->lines(); }
  static QStringList sentReport(const uitest::Harness& h) {
    return {" Message sent sucessfuly.", " Destination IP: 127.0.0.1",
            QString(" Destination port: %1").arg(h.devicePort), " Destination SDI address: 3", " ",
            "Step 3. - Waiting for answer"};
  }
  // Sends row 1 alone in DDToIP and checks the page now waits.
  std::unique_ptr<uitest::Harness> sentAndWaiting() {
    auto h = harness(1, {{true, "$10", "1,2,3,4"}});
    h->click("ButtonISend");
    if (h->form().engine().state() != tessaly::state::InstrTestWait) qWarning("the page does not wait");
    return h;
  }

 private slots:
  void initialPage() {
    uitest::Harness h;
    QCOMPARE(memo(h), QStringList{"Instruction Set Tester"});
    QCOMPARE(h.text("Edit1"), QString("Quillmarsh Bt."));
    QCOMPARE(h.memo("MemoIns")->font().styleHint(), QFont::TypeWriter);
    QVERIFY(QFontInfo(h.memo("MemoIns")->font()).fixedPitch());
  }

  void rowOneDumps_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("dump");
    QTest::newRow("DDToIP view") << 1 << "ButtonICompute" << kDDToIPView;
    QTest::newRow("DDToIP send") << 1 << "ButtonISend" << kDDToIPSend;
    QTest::newRow("CW-Net view") << 0 << "ButtonICompute" << kCwNetView;
    QTest::newRow("CW-Net send") << 0 << "ButtonISend" << kCwNetSend;
  }
  void rowOneDumps() {
    QFETCH(int, framing);
    QFETCH(QString, button);
    QFETCH(QStringList, dump);
    auto h = harness(framing, {{true, "$00", "$00,$56,$78"}});
    page(*h)->EditL[1]->setText("0");
    h->click(button);
    QCOMPARE(h->text("EditL1"), QString("3"));
    QCOMPARE(h->text("Edit1"), QString("Quillmarsh Bt."));
    const bool send = button == "ButtonISend";
    const QStringList expected = send ? dump + sentReport(*h) : dump;
    QCOMPARE(memo(*h), expected);
    if (!send) {
      QVERIFY(h->endpoint.sent.empty());
      QCOMPARE(int(h->form().engine().state()), 0);
      QVERIFY(!h->timer.enabled());
      return;
    }
    // What went out is exactly what the dump shows, to the selected destination.
    QCOMPARE(int(h->endpoint.sent.size()), 1);
    const auto& s = h->endpoint.sent.front();
    QCOMPARE(s.host, std::string("127.0.0.1"));
    QCOMPARE(s.port, h->devicePort);
    QCOMPARE(s.data, dumpedBytes(dump));
    QCOMPARE(int(h->form().engine().state()), int(tessaly::state::InstrTestWait));
    QVERIFY(h->timer.enabled());
    QCOMPARE(h->timer.interval(), 1000);
    QCOMPARE(h->nonLoopbackSends(), 0);
  }

  void noRowTicked_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("headLines");
    QTest::newRow("DDToIP") << 1 << 48 << 5;
    QTest::newRow("CW-Net") << 0 << 40 << 4;
  }
  void noRowTicked() {
    QFETCH(int, framing);
    QFETCH(int, size);
    QFETCH(int, headLines);
    auto h = harness(framing, {});
    h->click("ButtonICompute");
    const QStringList view = memo(*h);
    QCOMPARE(view.size(), 1 + headLines);
    h->click("ButtonISend");
    QCOMPARE(memo(*h).mid(1 + headLines), QStringList({" ", "Step 2. - Sending Message"}) + sentReport(*h));
    const Bytes& d = h->endpoint.sent.at(0).data;
    QCOMPARE(int(d.size()), size);
    QCOMPARE(dumpedBytes(view), d);
    if (framing == 1) {
      QCOMPARE(view.at(3), QString("        $85 $00 $17 $03 "));
    } else {
      QCOMPARE(view.at(1), QString("Header: $43 $57 $2D $4E $65 $74 $18 $03 $53 "));
    }
  }

  // Ticked rows are cleaned, counted and written back; a cleared row is left as it is.
  void rowsAreCleanedAndCounted() {
    auto h = harness(1, {{true, "x1f", "5,"},
                         {false, "x!", "a, b"},
                         {true, "", ""},
                         {true, "$a5", ",5"},
                         {true, "300", ",,"}});
    PageInstrTest* p = page(*h);
    p->EditL[2]->setText("4");
    h->click("ButtonICompute");
    const QStringList opcodes = {"1F", "x!", "0", "$A5", "300"};
    const QStringList datas = {"5,", "a, b", "0", ",5", ",,"};
    const QStringList lengths = {"1", "4", "1", "2", "2"};
    for (int n = 1; n <= 5; ++n) {
      QCOMPARE(p->EditOC[n]->text(), opcodes[n - 1]);
      QCOMPARE(p->EditData[n]->text(), datas[n - 1]);
      QCOMPARE(p->EditL[n]->text(), lengths[n - 1]);
    }
    QCOMPARE(memo(*h).mid(6), QStringList({"IT1:    $00 $00 $01 $05 ", "IT3:    $00 $00 $01 $00 ",
                                           "IT4:    $A5 $00 $02 $00 $05 ", "IT5:    $2C $00 $02 $00 $00 "}));
    // "View message" again: the cleaned texts clean to themselves.
    const QStringList first = memo(*h);
    h->click("ButtonICompute");
    QCOMPARE(memo(*h), first);
    QVERIFY(h->endpoint.sent.empty());
  }

  void userTextBecomesTheLabel_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("label");
    QTest::newRow("cut to 15") << "ABCDEFGHIJKLMNOPQRST" << "ABCDEFGHIJKLMNO" << QByteArray("ABCDEFGHIJKLMNO");
    QTest::newRow("filled with 0x00") << "abc" << "abc" << QByteArray("abc\0\0\0\0\0\0\0\0\0\0\0\0", 15);
    QTest::newRow("empty") << "" << "" << QByteArray(15, '\0');
  }
  void userTextBecomesTheLabel() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QByteArray, label);
    for (int framing : {0, 1}) {
      auto h = harness(framing, {{true, "$01", "$02"}});
      page(*h)->Edit1->setText(typed);
      h->click("ButtonISend");
      QCOMPARE(h->text("Edit1"), shown);
      const Bytes& d = h->endpoint.sent.at(0).data;
      // The SDI message's label, and in DDToIP the outer one too.
      const std::size_t inner = framing == 1 ? 26 + 6 : 18 + 6;
      QCOMPARE(QByteArray(reinterpret_cast<const char*>(d.data() + inner), 15), label);
      if (framing == 1) QCOMPARE(QByteArray(reinterpret_cast<const char*>(d.data() + 6), 15), label);
    }
  }

  void answers_data() {
    QTest::addColumn<int>("length");
    QTest::newRow("27 bytes") << 27;
    QTest::newRow("1032 bytes") << 1032;
    QTest::newRow("1049 bytes") << 1049;
    QTest::newRow("1499 bytes") << 1499;
  }
  void answers() {
    QFETCH(int, length);
    auto h = sentAndWaiting();
    const QStringList sent = memo(*h);
    h->injectAfter(300, countingDatagram(length));
    h->advance(304);
    QCOMPARE(memo(*h), sent);
    h->advance(1);
    QCOMPARE(memo(*h), sent + QStringList({QString(" Answer received (%1 bytes).").arg(length),
                                           bodyOfCountingDatagram(length)}));
    QCOMPARE(int(h->form().engine().state()), int(tessaly::state::InstrTestGot));
    QVERIFY(!h->endpoint.isActive());
    h->advance(2000);
    QCOMPARE(memo(*h).size(), sent.size() + 2);
  }

  // A shorter answer after a longer one shows only its own bytes.
  void answerAfterALongerOne() {
    auto h = sentAndWaiting();
    h->injectAfter(100, countingDatagram(1049));
    h->advance(200);
    h->click("ButtonISend");
    h->injectAfter(100, Bytes(27, 0xAB));
    h->advance(200);
    QCOMPARE(memo(*h).constLast(), QString(" DDToIP body: $AB $AB $AB $AB $AB"));
  }

  void noAnswer_data() {
    QTest::addColumn<int>("length");
    QTest::newRow("nothing") << 0;
    QTest::newRow("26-byte notice") << 26;
    QTest::newRow("1-byte notice") << 1;
    QTest::newRow("1500 bytes") << 1500;
  }
  void noAnswer() {
    QFETCH(int, length);
    auto h = sentAndWaiting();
    const QStringList sent = memo(*h);
    if (length > 0) h->injectAfter(200, Bytes(static_cast<std::size_t>(length), 0x11));
    h->advance(999);
    QCOMPARE(memo(*h), sent);
    QCOMPARE(int(h->form().engine().state()), int(tessaly::state::InstrTestWait));
    h->advance(1);
    QCOMPARE(memo(*h), sent + QStringList{" No answer received (in 1s)."});
    QVERIFY(!h->endpoint.isActive());
    QVERIFY(!h->timer.enabled());
  }

  void sendFailures_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("endpoint does not open") << "activate";
    QTest::newRow("socket error") << "send";
    QTest::newRow("host does not resolve") << "host";
    QTest::newRow("too large for one datagram") << "size";
  }
  void sendFailures() {
    QFETCH(QString, fault);
    auto h = harness(1, {{true, "$01", "1"}});
    PageInstrTest* p = page(*h);
    if (fault == "activate") h->endpoint.failActivate = true;
    if (fault == "send") h->endpoint.failSend = true;
    if (fault == "host") h->form().pageMain()->setIpBase("a.bc.defg.");
    if (fault == "size") {
      // Two rows of 32767 empty items: 65588 bytes in all.
      for (int n : {1, 2}) {
        p->CheckBoxI[n]->setChecked(true);
        p->EditData[n]->setText(QString(32767, ','));
      }
    }
    h->form().engine().setState(tessaly::state::GeneralGot);
    h->click("ButtonISend");
    const QStringList lines = memo(*h);
    QCOMPARE(lines.mid(lines.size() - 5),
             QStringList({" ", "Step 2. - Sending Message", " ", "Communication Error !", "Message cannot be sent."}));
    QCOMPARE(lines.first(), QString("Step 1. - Processing DDToIP Message"));
    QVERIFY(h->endpoint.sent.empty());
    QVERIFY(!h->endpoint.isActive());
    QVERIFY(!h->timer.enabled());
    QCOMPARE(int(h->form().engine().state()), int(tessaly::state::GeneralGot));
    h->advance(2000);
    QCOMPARE(memo(*h), lines);
  }

  void checkBoxesEnableTheirRow() {
    auto h = harness(1, {{true, "$01", "1"}});
    PageInstrTest* p = page(*h);
    QVERIFY(p->EditOC[1]->isEnabled());
    QVERIFY(!p->EditData[4]->isEnabled());
    p->CheckBoxI[1]->click();
    p->CheckBoxI[4]->click();
    QVERIFY(!p->EditOC[1]->isEnabled() && !p->EditData[1]->isEnabled());
    QVERIFY(p->EditOC[4]->isEnabled() && p->EditData[4]->isEnabled());
    QCOMPARE(p->EditOC[1]->text(), QString("$01"));
    QVERIFY(!p->EditL[4]->isEnabled());
  }

  // Rows ticked or cleared by the settings file have their edits enabled to match.
  void rowsFromTheSettingsFile() {
    uitest::Options o;
    o.extraSettings = "[InstructionTest]\nEnable1=0\nEnable3=1\nOpCode3=$12\n";
    uitest::Harness h(o);
    PageInstrTest* p = page(h);
    QVERIFY(!p->EditOC[1]->isEnabled() && !p->EditData[1]->isEnabled());
    QVERIFY(p->EditOC[3]->isEnabled() && p->EditData[3]->isEnabled());
    h.click("ButtonICompute");
    QCOMPARE(memo(h).constLast(), QString("IT3:    $12 $00 $01 $00 "));
  }

  void keys_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("confirmed");
    QTest::newRow("opcode x1f") << "EditOC1" << "x1f" << "1F";
    QTest::newRow("opcode -") << "EditOC2" << "-" << "0";
    QTest::newRow("data with spaces") << "EditData3" << " 1, a5 ,$ff" << "1,A5,$FF";
    QTest::newRow("data 5,") << "EditData5" << "5," << "5,";
  }
  void keys() {
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QString, confirmed);
    auto h = harness(1, {{true, "", ""}, {true, "", ""}, {true, "", ""}, {true, "", ""}, {true, "", ""}});
    auto* e = h->find<QLineEdit>(edit);
    const QColor window = QApplication::palette(e).color(QPalette::Base);
    QCOMPARE(e->palette().color(QPalette::Base), window);
    QTest::keyClick(e, Qt::Key_Shift);
    QCOMPARE(e->palette().color(QPalette::Base), window);
    QTest::keyClicks(e, typed);
    QCOMPARE(e->text(), typed);  // the keys reach the edit unchanged
    QCOMPARE(e->palette().color(QPalette::Base), kUnconfirmed);
    // A build cleans the text but leaves the colour.
    h->click("ButtonICompute");
    QCOMPARE(e->text(), confirmed);
    QCOMPARE(e->palette().color(QPalette::Base), kUnconfirmed);
    e->setText(typed);
    QTest::keyClick(e, Qt::Key_Return);
    QCOMPARE(e->text(), confirmed);
    QCOMPARE(e->palette().color(QPalette::Base), window);
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->palette().color(QPalette::Base), kUnconfirmed);
    QTest::keyClick(e, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(e->palette().color(QPalette::Base), window);
  }
};

QTEST_MAIN(InstructionTestPage)
#include "test_instruction_test_page.moc"
