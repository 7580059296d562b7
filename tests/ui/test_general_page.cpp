// The "General" page on virtual time with the fake endpoint: the five housekeeping
// buttons and SETSTREAMFORMAT. Every sent datagram is compared byte for byte, in
// both framings, with one written out here by hand (the framing functions of the
// core are not used to build the expectations).
#include <QtTest>
#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "app/ui/PageGeneral.h"
#include "helpers/UiHarness.h"
#include "link/Engine.h"
#include "status/StatusReport.h"

using tessaly::Bytes;

namespace {

constexpr int kCwNet = 0, kDDToIP = 1;

// Wire pieces: "t:" and a text is that text's characters, anything else is
// hexadecimal bytes separated by spaces.
Bytes wire(std::initializer_list<std::string_view> pieces) {
  Bytes out;
  for (std::string_view p : pieces) {
    if (p.substr(0, 2) == "t:") {
      out.insert(out.end(), p.begin() + 2, p.end());
      continue;
    }
    const QByteArray raw = QByteArray::fromHex(QByteArray(p.data(), static_cast<qsizetype>(p.size())));
    out.insert(out.end(), raw.begin(), raw.end());
  }
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The SDI message: "DDToIP", the 15-character label, 0x01, the instructions.
Bytes sdiMessage(std::string_view label, const Bytes& instructions) {
  Q_ASSERT(label.size() == 15);
  return join({wire({"t:DDToIP"}), Bytes(label.begin(), label.end()), wire({"01"}), instructions});
}

// The load datagram around it, as the controller of each framing takes it.
Bytes loadDatagram(int framing, std::string_view label, std::uint8_t sdiAddress, const Bytes& sdi) {
  if (framing == kCwNet) return join({wire({"t:CW-Net", "18"}), Bytes{sdiAddress}, wire({"t:SLoad Data"}), sdi});
  const std::size_t n = sdi.size() + 1;
  return join({wire({"t:DDToIP"}), Bytes(label.begin(), label.end()), wire({"01 85"}),
               Bytes{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF), sdiAddress}, sdi});
}

// Bytes [from, to) of a datagram; as many as there are.
Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
  from = std::min(from, b.size());
  to = std::min(to, b.size());
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

QString hex(const Bytes& b) {
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())).toHex(' ').toUpper());
}

const QString kSent = "Message sent, waiting for reply...";
const QString kCommError = "Communication Error! Check your network connection!";
const QStringList kInitialMemo = {"NCO frequency range: 120 Hz - 40.5 MHz", "",
                                  "PLL frequency range: 97753 Hz - 40.5 MHz"};

}  // namespace

class GeneralPage : public QObject {
  Q_OBJECT

  // The page's controls and one click, on a harness whose Main page selects the
  // framing and the SDI address.
  struct Page {
    uitest::Harness h;
    Page(int framing, int sdiAddress) { h.selectLink(framing, sdiAddress); }
    QLineEdit* edit(const char* name) { return h.find<QLineEdit>(name); }
    TRadioGroup* radio(const char* name) { return h.find<TRadioGroup>(name); }
    void set(const char* editName, const QString& text) { edit(editName)->setText(text); }
    QString label() const { return h.text("LabelGS"); }
    QColor colour() const { return h.panel("PanelGS")->color(); }
    QStringList memo() const { return h.memo("MemoGS")->lines(); }
    const Bytes& lastSent() const {
      static const Bytes none;
      return h.endpoint.sent.empty() ? none : h.endpoint.sent.back().data;
    }
    // Clicks and checks what every successful send must leave behind.
    void clickAndExpectSent(const char* button) {
      const std::size_t before = h.endpoint.sent.size();
      h.click(button);
      QCOMPARE(h.endpoint.sent.size(), before + 1);
      QCOMPARE(h.endpoint.sent.back().host, std::string("127.0.0.1"));
      QCOMPARE(h.endpoint.sent.back().port, h.devicePort);
      QCOMPARE(h.form().engine().state(), tessaly::state::GeneralWait);
      QCOMPARE(label(), kSent);
      QCOMPARE(colour(), buttonFace());
      QVERIFY(h.timer.enabled());
      QCOMPARE(h.timer.interval(), 1000);
      QVERIFY(h.endpoint.isActive());
    }
    void pll(const QString& frequency) {
      set("EditPLL", frequency);
      radio("RadioGroupClkSource")->setItemIndex(1);
      radio("RadioGroupStrFormat")->setItemIndex(0);
      radio("RadioGroupPP")->setItemIndex(0);
    }
  };

  static void framings() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << kCwNet;
    QTest::newRow("DDToIP") << kDDToIP;
  }

 private slots:
  // ------------------------------------------------------------ SETSERIAL

  void serialNumbers_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("data");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what); };
      row("$10") << f << "$10" << "16" << "00 00 00 10";
      row("0x10") << f << "0x10" << "16" << "00 00 00 10";
      row("default") << f << "56765" << "56765" << "00 00 DD BD";
      row("above int32") << f << "2147483648" << "0" << "00 00 00 00";
      row("below int32") << f << "-2147483649" << "0" << "00 00 00 00";
      row("not a number") << f << "12ab" << "0" << "00 00 00 00";
      row("empty") << f << "" << "0" << "00 00 00 00";
      row("-1") << f << "-1" << "4294967295" << "FF FF FF FF";
      row("$FFFFFFFF") << f << "$FFFFFFFF" << "4294967295" << "FF FF FF FF";
      row("int32 max") << f << "2147483647" << "2147483647" << "7F FF FF FF";
      row("leading spaces, sign") << f << "  +42" << "42" << "00 00 00 2A";
    }
  }
  void serialNumbers() {
    QFETCH(int, framing);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, data);
    Page p(framing, 1);
    p.set("EditSerial", typed);
    p.clickAndExpectSent("ButtonSerial");
    QCOMPARE(p.edit("EditSerial")->text(), shown);
    const Bytes sdi = sdiMessage("Set Serial Num ", wire({"10 00 04", data.toStdString()}));
    QCOMPARE(sdi.size(), std::size_t{29});
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Serial Num ", 1, sdi)));
    QCOMPARE(p.lastSent().size(), std::size_t{framing == kDDToIP ? 55u : 47u});
    QCOMPARE(p.h.nonLoopbackSends(), 0);
  }

  // The DDToIP length field counts the SDI address byte (0x001E for the serial).
  void serialDatagramWrittenOut() {
    Page p(kDDToIP, 2);
    p.set("EditSerial", "$10");
    p.clickAndExpectSent("ButtonSerial");
    QCOMPARE(hex(p.lastSent()), hex(wire({"t:DDToIPSet Serial Num ", "01 85 00 1E 02", "t:DDToIPSet Serial Num ",
                                         "01 10 00 04 00 00 00 10"})));
  }

  // ------------------------------------------------------------ SETTYPE

  void types_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("data");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what); };
      row("70000") << f << "70000" << "4464" << "11 70";
      row("-1") << f << "-1" << "65535" << "FF FF";
      row("default") << f << "4852" << "4852" << "12 F4";
      row("$1234") << f << "$1234" << "4660" << "12 34";
      row("not a number") << f << "type" << "0" << "00 00";
      row("65536") << f << "65536" << "0" << "00 00";
    }
  }
  void types() {
    QFETCH(int, framing);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, data);
    Page p(framing, 4);
    p.set("EditType", typed);
    p.clickAndExpectSent("ButtonType");
    QCOMPARE(p.edit("EditType")->text(), shown);
    const Bytes sdi = sdiMessage("Set Type       ", wire({"11 00 02", data.toStdString()}));
    QCOMPARE(sdi.size(), std::size_t{27});
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Type       ", 4, sdi)));
    if (framing == kDDToIP) QCOMPARE(hex(slice(p.lastSent(), 23, 25)), QString("00 1C"));
  }

  // ------------------------------------------------------------ RESET

  void resetCarriesTheTypeLabel_data() { framings(); }
  void resetCarriesTheTypeLabel() {
    QFETCH(int, framing);
    Page p(framing, 15);
    p.clickAndExpectSent("ButtonReset");
    const Bytes sdi = wire({"t:DDToIPSet Type       ", "01", "01 00 02 01 00"});
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Type       ", 15, sdi)));
    if (framing == kDDToIP)
      QCOMPARE(hex(slice(p.lastSent(), 0, 26)),
               hex(wire({"t:DDToIPSet Type       ", "01 85 00 1C 0F"})));
    else
      QCOMPARE(hex(slice(p.lastSent(), 0, 18)), hex(wire({"t:CW-Net", "18 0F", "t:SLoad Data"})));
  }

  // ------------------------------------------------------------ SETUSERTEXT

  void userTexts_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("data");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what); };
      row("two characters") << f << "Hi" << "48 69 00 00 00 00 00 00 00 00 00 00 00 00 00";
      row("fifteen characters") << f << "ABCDEFGHIJKLMNO" << "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F";
      row("empty") << f << "" << "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
      row("8-bit character") << f << QString::fromLatin1("M\xFC") << "4D FC 00 00 00 00 00 00 00 00 00 00 00 00 00";
    }
  }
  void userTexts() {
    QFETCH(int, framing);
    QFETCH(QString, typed);
    QFETCH(QString, data);
    Page p(framing, 1);
    p.set("EditUT", typed);
    p.clickAndExpectSent("ButtonUT");
    QCOMPARE(p.edit("EditUT")->text(), typed);  // not written back
    const Bytes sdi = sdiMessage("Set User Text  ", wire({"12 00 0F", data.toStdString()}));
    QCOMPARE(sdi.size(), std::size_t{40});
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set User Text  ", 1, sdi)));
    if (framing == kDDToIP) QCOMPARE(hex(slice(p.lastSent(), 23, 25)), QString("00 29"));
  }

  // The edit takes at most 15 characters; a shorter text is filled with 0x00.
  void userTextEleven() {
    Page p(kCwNet, 1);
    QCOMPARE(typedMaxLength(p.edit("EditUT")), 15);
    // Typing stops at the limit; a text put there by the program is kept whole.
    p.edit("EditUT")->clear();
    QTest::keyClicks(p.edit("EditUT"), "ABCDEFGHIJKLMNOPQRST");
    QCOMPARE(p.edit("EditUT")->text(), QString("ABCDEFGHIJKLMNO"));
    p.edit("EditUT")->setText("ABCDEFGHIJKLMNOPQRST");
    QCOMPARE(p.edit("EditUT")->text().size(), 20);
    p.set("EditUT", "My UserText");
    p.clickAndExpectSent("ButtonUT");
    QCOMPARE(hex(p.lastSent()),
             hex(loadDatagram(kCwNet, "Set User Text  ", 1,
                              sdiMessage("Set User Text  ", wire({"12 00 0F", "t:My UserText", "00 00 00 00"})))));
  }

  // ------------------------------------------------------------ SETADDRESS

  void setAddressGoesToTheSelectedBoard_data() { framings(); }
  void setAddressGoesToTheSelectedBoard() {
    QFETCH(int, framing);
    Page p(framing, 3);
    p.radio("RadioGroupAddress")->setItemIndex(14);
    p.clickAndExpectSent("ButtonSetAddress");
    const Bytes sdi = wire({"t:DDToIPSet Address    ", "01 14 00 01 0F"});
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Address    ", 3, sdi)));
    QCOMPARE(p.radio("RadioGroup3")->itemIndex(), 2);  // the destination stays address 3
    QCOMPARE(p.radio("RadioGroupAddress")->itemIndex(), 14);
  }

  // The framing's worked example: new address 5, board at address 3.
  void setAddressWorkedExample_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("expected");
    const QString sdi = hex(wire({"t:DDToIPSet Address    ", "01 14 00 01 05"}));
    QTest::newRow("CW-Net") << kCwNet << hex(wire({"t:CW-Net", "18 03", "t:SLoad Data"})) + " " + sdi;
    QTest::newRow("DDToIP") << kDDToIP << hex(wire({"t:DDToIPSet Address    ", "01 85 00 1B 03"})) + " " + sdi;
  }
  void setAddressWorkedExample() {
    QFETCH(int, framing);
    QFETCH(QString, expected);
    Page p(framing, 3);
    p.radio("RadioGroupAddress")->setItemIndex(4);
    p.clickAndExpectSent("ButtonSetAddress");
    QCOMPARE(hex(p.lastSent()), expected);
    QCOMPARE(p.lastSent().size(), std::size_t{framing == kDDToIP ? 52u : 44u});
  }

  // ------------------------------------------------------------ SETSTREAMFORMAT, PLL

  void pllThreeMegahertz_data() { framings(); }
  void pllThreeMegahertz() {
    QFETCH(int, framing);
    Page p(framing, 2);
    p.pll("3000000");
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.edit("EditPLL")->text(), QString("3000000"));
    QCOMPARE(p.memo(), (QStringList{"PLL Info:", " N = 34", " M = 9", " P = 34", "Output Frequency: 3000000 Hz",
                                    "Error: 0 Hz", "Programming parameters:", " PDiv = 34",
                                    " N = 34  P = 3  Q = 30", " R = 2  VCO = 0", "SETPLL instruction data:",
                                    " h0022 h022013CC"}));
    // SETPLL, then the stream format: PLL clock (1), 188-byte packets (0x80), low priority.
    const Bytes instructions = wire({"E0 00 08 28 01 00 22 02 20 13 CC", "E0 00 03 27 01 81"});
    const Bytes sdi = sdiMessage("Set Output Form", instructions);
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Output Form", 2, sdi)));
    const Bytes& sent = p.lastSent();
    const std::size_t at = framing == kDDToIP ? 48 : 40;  // the first instruction of the SDI message
    QCOMPARE(hex(slice(sent, at, at + 11)), QString("E0 00 08 28 01 00 22 02 20 13 CC"));
    if (framing == kDDToIP)
      QCOMPARE(hex(slice(sent, 0, 26)), hex(wire({"t:DDToIPSet Output Form", "01 85 00 28 02"})));
  }

  void pllSearches_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("memo");
    QTest::addColumn<QString>("setPll");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      // The first pair with no error wins (PDiv 4, M 1, N 4, VCO 108 MHz), though later ones have none either.
      QTest::addRow("%s, 27 MHz", name)
          << f << "27000000" << "27000000"
          << QStringList{"PLL Info:", " N = 4", " M = 1", " P = 4", "Output Frequency: 27000000 Hz", "Error: 0 Hz",
                         "Programming parameters:", " PDiv = 4", " N = 4  P = 2  Q = 16", " R = 0  VCO = 0",
                         "SETPLL instruction data:", " h0004 h00400208"}
          << "E0 00 08 28 01 00 04 00 40 02 08";
      // The lowest frequency: PDiv 1023 and a VCO of 27 MHz * 1863 / 503 = 100,001,988 Hz.
      QTest::addRow("%s, 97753 Hz", name)
          << f << "97753" << "97753"
          << QStringList{"PLL Info:", " N = 1863", " M = 503", " P = 1023", "Output Frequency: 97753 Hz",
                         "Error: 0 Hz", "Programming parameters:", " PDiv = 1023", " N = 1863  P = 3  Q = 29",
                         " R = 317  VCO = 0", "SETPLL instruction data:", " h03FF h7479EBAC"}
          << "E0 00 08 28 01 03 FF 74 79 EB AC";
      // Below the range: clamped to the lowest frequency, searched as such.
      QTest::addRow("%s, 1000 Hz", name)
          << f << "1000" << "97753"
          << QStringList{"PLL Info:", " N = 1863", " M = 503", " P = 1023", "Output Frequency: 97753 Hz",
                         "Error: 0 Hz", "Programming parameters:", " PDiv = 1023", " N = 1863  P = 3  Q = 29",
                         " R = 317  VCO = 0", "SETPLL instruction data:", " h03FF h7479EBAC"}
          << "E0 00 08 28 01 03 FF 74 79 EB AC";
    }
  }
  void pllSearches() {
    QFETCH(int, framing);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QStringList, memo);
    QFETCH(QString, setPll);
    Page p(framing, 1);
    p.pll(typed);
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.edit("EditPLL")->text(), shown);
    QCOMPARE(p.memo(), memo);
    const Bytes sdi = sdiMessage("Set Output Form", wire({setPll.toStdString(), "E0 00 03 27 01 81"}));
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Output Form", 1, sdi)));
  }

  // The memo is cleared and written again on every PLL click, not added to.
  void pllReportReplacesTheMemo() {
    Page p(kCwNet, 1);
    p.pll("3000000");
    p.clickAndExpectSent("ButtonSetOutputFormat");
    const QStringList first = p.memo();
    QCOMPARE(first.size(), 12);
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.memo(), first);
    p.set("EditPLL", "27000000");
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.memo().size(), 12);
    QCOMPARE(p.memo().constLast(), QString(" h0004 h00400208"));
  }

  // ------------------------------------------------------------ SETSTREAMFORMAT, NCO and the others

  void ncoNormalising_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("hz");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what); };
      row("abc") << f << "abc" << "3000000" << "00 2D C6 C0";
      row("50") << f << "50" << "120" << "00 00 00 78";
      row("99999999") << f << "99999999" << "40500000" << "02 69 FB 20";
      row("120") << f << "120" << "120" << "00 00 00 78";
      row("1234567") << f << "1234567" << "1234567" << "00 12 D6 87";
      row("empty") << f << "" << "3000000" << "00 2D C6 C0";
    }
  }
  void ncoNormalising() {
    QFETCH(int, framing);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, hz);
    Page p(framing, 1);
    p.set("EditNCO", typed);
    p.set("EditPLL", "1000");
    p.radio("RadioGroupClkSource")->setItemIndex(0);
    p.radio("RadioGroupStrFormat")->setItemIndex(0);
    p.radio("RadioGroupPP")->setItemIndex(1);
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.edit("EditNCO")->text(), shown);
    QCOMPARE(p.edit("EditPLL")->text(), QString("97753"));  // normalised too, though not sent
    // The NCO packet first (NCO number 1), then the format byte 0xA0: NCO, 188, high priority.
    const Bytes sdi = sdiMessage("Set Output Form", wire({"40 00 05 01", hz.toStdString(), "E0 00 03 27 01 A0"}));
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Output Form", 1, sdi)));
    QCOMPARE(p.memo(), kInitialMemo);  // the NCO clock leaves the memo alone
  }

  void otherClockSourcesSendTheFormatAlone_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("clock");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("formatByte");
    const std::pair<const char*, int> framingRows[] = {{"CW-Net", kCwNet}, {"DDToIP", kDDToIP}};
    for (const auto& [name, f] : framingRows) {
      auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what); };
      row("TS Input 3, 204, Low") << f << 4 << 1 << 0 << "04";
      row("TS Input 1, 188, Low") << f << 2 << 0 << 0 << "82";
      row("TS Input 6, 204, High") << f << 7 << 1 << 1 << "27";
      row("External Clock, 188, High") << f << 8 << 0 << 1 << "A8";
    }
  }
  void otherClockSourcesSendTheFormatAlone() {
    QFETCH(int, framing);
    QFETCH(int, clock);
    QFETCH(int, format);
    QFETCH(int, priority);
    QFETCH(QString, formatByte);
    Page p(framing, 9);
    p.set("EditNCO", "50");
    p.set("EditPLL", "abc");
    p.radio("RadioGroupClkSource")->setItemIndex(clock);
    p.radio("RadioGroupStrFormat")->setItemIndex(format);
    p.radio("RadioGroupPP")->setItemIndex(priority);
    p.clickAndExpectSent("ButtonSetOutputFormat");
    const Bytes sdi = sdiMessage("Set Output Form", wire({"E0 00 03 27 01", formatByte.toStdString()}));
    QCOMPARE(hex(p.lastSent()), hex(loadDatagram(framing, "Set Output Form", 9, sdi)));
    QCOMPARE(p.edit("EditNCO")->text(), QString("120"));
    QCOMPARE(p.edit("EditPLL")->text(), QString("3000000"));
    QCOMPARE(p.memo(), kInitialMemo);
  }

  // A PLL report stays until something rewrites the memo: the NCO clock does not.
  void ncoClickLeavesAPllReport() {
    Page p(kDDToIP, 1);
    p.pll("3000000");
    p.clickAndExpectSent("ButtonSetOutputFormat");
    const QStringList report = p.memo();
    p.radio("RadioGroupClkSource")->setItemIndex(0);
    p.clickAndExpectSent("ButtonSetOutputFormat");
    QCOMPARE(p.memo(), report);
  }

  // ------------------------------------------------------------ the outcome of the wait

  void interruptNoticeAfter300ms_data() { framings(); }
  void interruptNoticeAfter300ms() {
    QFETCH(int, framing);
    Page p(framing, 1);
    p.clickAndExpectSent("ButtonSerial");
    p.h.injectAfter(300, uitest::datagramOfLength(26, 0x5A));
    p.h.advance(304);
    QCOMPARE(p.label(), kSent);
    QCOMPARE(p.h.form().engine().state(), tessaly::state::GeneralGot);
    p.h.advance(1);
    QCOMPARE(p.label(), QString("SDI IRQ received."));
    QCOMPARE(p.colour(), tColor(tessaly::colour::LightGreen));
    QVERIFY(!p.h.endpoint.isActive());
    QVERIFY(!p.h.timer.enabled());
  }

  void noInterruptNoticeTimesOut_data() {
    QTest::addColumn<QString>("button");
    for (const char* b : {"ButtonSerial", "ButtonType", "ButtonReset", "ButtonUT", "ButtonSetAddress",
                          "ButtonSetOutputFormat"})
      QTest::newRow(b) << QString(b);
  }
  void noInterruptNoticeTimesOut() {
    QFETCH(QString, button);
    Page p(kCwNet, 1);
    p.clickAndExpectSent(button.toLatin1().constData());
    p.h.advance(999);
    QCOMPARE(p.label(), kSent);
    p.h.advance(1);
    QCOMPARE(p.label(), QString("No SDI IRQ received (in 1s)."));
    QCOMPARE(p.colour(), tColor(tessaly::colour::Red));
    QCOMPARE(p.h.form().engine().state(), tessaly::state::GeneralWait);
    QVERIFY(!p.h.endpoint.isActive());
    // A late notice finds the endpoint closed.
    QVERIFY(!p.h.inject(uitest::datagramOfLength(4)));
    QCOMPARE(p.label(), QString("No SDI IRQ received (in 1s)."));
  }

  // A 27-byte answer is no interrupt notice: the wait ends at once, as a time-out.
  void longAnswerEndsTheWaitWithoutANotice() {
    Page p(kDDToIP, 1);
    p.clickAndExpectSent("ButtonType");
    p.h.advance(100);
    QVERIFY(p.h.inject(uitest::datagramOfLength(27)));
    p.h.advance(5);
    QCOMPARE(p.label(), QString("No SDI IRQ received (in 1s)."));
    QCOMPARE(p.colour(), tColor(tessaly::colour::Red));
  }

  // A second instruction while the first waits does not restart the second.
  void secondInstructionKeepsTheFirstWait() {
    Page p(kCwNet, 1);
    p.clickAndExpectSent("ButtonReset");
    p.h.advance(600);
    p.clickAndExpectSent("ButtonSerial");
    QCOMPARE(p.h.timer.dueAt(), std::int64_t{1000});
    p.h.advance(399);
    QCOMPARE(p.label(), kSent);
    p.h.advance(1);
    QCOMPARE(p.label(), QString("No SDI IRQ received (in 1s)."));
    QCOMPARE(p.h.endpoint.sent.size(), std::size_t{2});
  }

  // A new instruction after an outcome sets the panel neutral again.
  void newInstructionClearsTheLastOutcome() {
    Page p(kCwNet, 1);
    p.clickAndExpectSent("ButtonReset");
    p.h.advance(1000);
    QCOMPARE(p.colour(), tColor(tessaly::colour::Red));
    p.clickAndExpectSent("ButtonType");  // checks the neutral colour and the sent text
  }

  // ------------------------------------------------------------ send failures

  void sendFailure_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("failActivate");
    for (const char* b : {"ButtonSerial", "ButtonType", "ButtonReset", "ButtonUT", "ButtonSetAddress",
                          "ButtonSetOutputFormat"}) {
      QTest::addRow("%s, send", b) << QString(b) << false;
      QTest::addRow("%s, bind", b) << QString(b) << true;
    }
  }
  void sendFailure() {
    QFETCH(QString, button);
    QFETCH(bool, failActivate);
    Page p(kDDToIP, 1);
    p.set("EditSerial", "$10");
    p.set("EditType", "70000");
    p.set("EditPLL", "1000");
    p.radio("RadioGroupClkSource")->setItemIndex(1);
    (failActivate ? p.h.endpoint.failActivate : p.h.endpoint.failSend) = true;
    p.h.click(button);
    QVERIFY(p.h.endpoint.sent.empty());
    QCOMPARE(p.label(), kCommError);
    QCOMPARE(p.colour(), tColor(tessaly::colour::Red));
    QCOMPARE(p.h.form().engine().state(), tessaly::state::GeneralWait);
    QVERIFY(!p.h.timer.enabled());
    QVERIFY(!p.h.endpoint.isActive());
    // The inputs were normalised before the send.
    if (button == "ButtonSerial") QCOMPARE(p.edit("EditSerial")->text(), QString("16"));
    if (button == "ButtonType") QCOMPARE(p.edit("EditType")->text(), QString("4464"));
    if (button == "ButtonSetOutputFormat") {
      QCOMPARE(p.edit("EditPLL")->text(), QString("97753"));
      QCOMPARE(p.memo().value(0), QString("PLL Info:"));
    }
    // No time-out follows.
    p.h.advance(2000);
    QCOMPARE(p.label(), kCommError);
    QCOMPARE(p.h.timer.fireCount(), 0);
    // The next attempt, with the network back, goes out.
    p.h.endpoint.failActivate = p.h.endpoint.failSend = false;
    p.clickAndExpectSent(button.toLatin1().constData());
  }

  // A device IP that does not resolve is a send failure like any other.
  void unresolvableDeviceIp() {
    Page p(kCwNet, 1);
    // "Change IP" passes an IP base it does not validate; the name does not resolve.
    p.h.find<QLineEdit>("EditIP")->setText("a.bc.defg.5");
    p.h.click("ButtonIPBase");
    QCOMPARE(p.h.text("LabelIPAddr"), QString("a.bc.defg.5"));
    p.h.click("ButtonReset");
    QCOMPARE(p.label(), kCommError);
    QCOMPARE(p.colour(), tColor(tessaly::colour::Red));
  }

  // The link is read at the moment of the click.
  void framingAndAddressFollowTheMainPage() {
    Page p(kCwNet, 1);
    p.clickAndExpectSent("ButtonReset");
    QCOMPARE(hex(slice(p.lastSent(), 0, 8)), hex(wire({"t:CW-Net", "18 01"})));
    p.h.selectLink(kDDToIP, 12);
    p.clickAndExpectSent("ButtonReset");
    QCOMPARE(hex(slice(p.lastSent(), 0, 26)),
             hex(wire({"t:DDToIPSet Type       ", "01 85 00 1C 0C"})));
  }
};

QTEST_MAIN(GeneralPage)
#include "test_general_page.moc"
