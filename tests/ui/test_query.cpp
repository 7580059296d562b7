// The device query on every "Query" button, in both framings: the request, the
// sent report, the time-out, every failure of the answer and the hand-over to
// the decoder.
#include "helpers/UiHarness.h"
#include "link/Framing.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

using uitest::Harness;
using uitest::StatusBlock;

namespace {
const QString kSent = "Message sent, waiting for reply...";
const QStringList kAllPanels{"PanelMS", "PanelMpx", "PanelPSI", "PanelPCR"};

QStringList toList(const std::vector<std::string>& v) {
  QStringList l;
  for (const auto& s : v) l << QString::fromStdString(s);
  return l;
}
}  // namespace

class Query : public QObject {
  Q_OBJECT
 private slots:
  void everyQueryButtonSendsTheStatusRequest_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("sdi");
    for (const char* b : {"ButtonQuery", "Button7", "ButtonRQ", "Button1", "ButtonPCRQuery", "Button6"}) {
      QTest::addRow("%s CW-Net", b) << b << 0 << 1;
      QTest::addRow("%s DDToIP", b) << b << 1 << 15;
    }
  }
  void everyQueryButtonSendsTheStatusRequest() {
    QFETCH(QString, button);
    QFETCH(int, framing);
    QFETCH(int, sdi);
    Harness h;
    QCOMPARE(h.text(button), QString("Query"));
    h.selectLink(framing, sdi);
    h.panel("PanelMS")->setColor(tColor(tessaly::colour::Red));
    h.advance(50);
    h.click(button);
    const auto f = framing ? tessaly::Framing::DDToIP : tessaly::Framing::CwNet;
    QCOMPARE(h.endpoint.sent.size(), std::size_t{1});
    QCOMPARE(h.endpoint.sent[0].data, tessaly::encodeReadDatagram(f, static_cast<std::uint8_t>(sdi)));
    QCOMPARE(h.endpoint.sent[0].data.size(), std::size_t(framing ? 28 : 18));
    QCOMPARE(h.endpoint.sent[0].host, std::string("127.0.0.1"));
    QCOMPARE(h.endpoint.sent[0].port, h.devicePort);
    QCOMPARE(int(h.form().engine().state()), framing ? 42 : 40);
    QCOMPARE(h.memo("MemoInfo")->lines(),
             (QStringList{QString("Host Computer Port: %1").arg(h.hostPort), QString("Device Port: %1").arg(h.devicePort),
                          "Device IP: 127.0.0.1", " ", kSent}));
    for (const char* p : {"PanelMS", "PanelMpx", "PanelPSI"}) QCOMPARE(h.text(p), kSent);
    QCOMPARE(h.text("PanelPCR"), QString("Status"));
    QCOMPARE(h.panel("PanelMS")->color(), buttonFace());
    QCOMPARE(h.timer.dueAt(), std::int64_t{1050});
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void timeOutAfterOneSecond_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void timeOutAfterOneSecond() {
    QFETCH(int, framing);
    Harness h;
    h.selectLink(framing);
    h.find<QLabel>("LabelD")->setText("Device Code: h1A (v1.00)");
    h.click("ButtonQuery");
    h.advance(999);
    QCOMPARE(h.text("PanelMS"), kSent);
    h.advance(1);
    QStringList memo = h.memo("MemoInfo")->lines();
    QCOMPARE(memo.size(), 6);
    QCOMPARE(memo.constLast(), QString("No answer received (in 1s)."));
    QCOMPARE(memo[4], kSent);
    QCOMPARE(h.text("LabelD"), QString("Device Code:"));
    for (const QString& p : kAllPanels) {
      QCOMPARE(h.text(p), QString("No answer received (in 1s)."));
      QCOMPARE(h.panel(p)->color(), tColor(tessaly::colour::Red));
    }
    QVERIFY(!h.endpoint.isActive());
    QVERIFY(!h.timer.enabled());
    QCOMPARE(int(h.form().engine().state()), framing ? 42 : 40);
    // A late answer finds the endpoint closed.
    QVERIFY(!h.inject(uitest::cwNetAnswer(StatusBlock())));
    QCOMPARE(h.memo("MemoInfo")->lines().size(), 6);
  }

  void sendFailure() {
    Harness h;
    h.find<QLabel>("LabelD")->setText("Device Code: h1A (v1.00)");
    h.endpoint.failSend = true;
    h.click("ButtonQuery");
    QCOMPARE(h.memo("MemoInfo")->lines(), (QStringList{"Communication Error!", "Check your network connection!"}));
    for (const char* p : {"PanelMS", "PanelMpx", "PanelPSI"}) QCOMPARE(h.text(p), QString("Communication Error!"));
    QCOMPARE(h.text("PanelPCR"), QString("Status"));
    QCOMPARE(h.panel("PanelMpx")->color(), buttonFace());  // colours unchanged
    QCOMPARE(h.text("LabelD"), QString("Device Code: h1A (v1.00)"));
    QVERIFY(!h.timer.enabled());
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(int(h.form().engine().state()), 40);
    h.advance(5000);  // no time-out report follows
    QCOMPARE(h.memo("MemoInfo")->lines().size(), 2);
  }

  void answerFailureTable_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("memo");  // whole memo after the answer (before any report)
    QTest::addColumn<QString>("msPanel");
    QTest::addColumn<QString>("otherPanels");
    QTest::addColumn<bool>("red");
    QTest::addColumn<QString>("labelD");
    auto qb = [](const tessaly::Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); };
    const QString unknown = "Unknown message received.";
    const QString cw = "CW-Net Data received.", dd = "DDToIP SDI Answer received.";
    const QString unchanged = "Device Code: h1A (v9.99)";

    auto cwAnswer = uitest::cwNetAnswer(StatusBlock(), 4);
    auto shortCw = cwAnswer;
    shortCw.pop_back();
    QTest::newRow("CW-Net 1031 bytes") << 0 << qb(shortCw) << QStringList{unknown, "Message length: 1031 bytes"}
                                       << unknown << unknown << true << unchanged;
    QTest::newRow("CW-Net answer to a DDToIP query")
        << 1 << qb(cwAnswer) << QStringList{unknown, "Message length: 1032 bytes"} << unknown << unknown << true
        << unchanged;
    auto wrongCode = cwAnswer;
    wrongCode[6] = 0x18;
    QTest::newRow("CW-Net opcode in decimal")
        << 0 << qb(wrongCode) << QStringList{unknown, "Message length: 1032 bytes", "Message opcode: 24"} << unknown
        << unknown << true << unchanged;
    auto ddAnswer = uitest::ddtoipAnswer(StatusBlock());
    auto ddWrong = ddAnswer;
    ddWrong[22] = 0xF0;
    QTest::newRow("DDToIP opcode in hex")
        << 1 << qb(ddWrong) << QStringList{unknown, "Message length: 1049 bytes", "Message opcode: hF0"} << unknown
        << unknown << true << unchanged;
    QTest::newRow("DDToIP answer to a CW-Net query")
        << 0 << qb(ddAnswer) << QStringList{unknown, "Message length: 1049 bytes"} << unknown << unknown << true
        << unchanged;
    QTest::newRow("CW-Net no device")
        << 0 << qb(uitest::cwNetAnswer(StatusBlock().set8(0, 0x00), 4))
        << QStringList{cw, "Controller IP: 127.0.0.1", "Controller Port: %1", "SDI Address: 4",
                       "There is no device connected to the SDI."}
        << cw << "No device connected to the SDI." << false << "Device Code: (no device)";
    QTest::newRow("DDToIP no device")
        << 1 << qb(uitest::ddtoipAnswer(StatusBlock().set8(0, 0x44)))
        << QStringList{dd, "Controller IP: 127.0.0.1", "Controller Port: %1", "SDI Address: 3",
                       "There is no device connected to the SDI."}
        << dd << "No device connected to the SDI." << false << "Device Code: (no device)";
    QTest::newRow("CW-Net device 1B")
        << 0 << qb(uitest::cwNetAnswer(StatusBlock().set8(1, 0x1B), 4))
        << QStringList{cw, "Controller IP: 127.0.0.1", "Controller Port: %1", "SDI Address: 4",
                       "There is no ASI Remultiplexer connected to the SDI."}
        << cw << cw << false << "Device Code: h1B";
    QTest::newRow("DDToIP device 0A")
        << 1 << qb(uitest::ddtoipAnswer(StatusBlock().set8(1, 0x0A)))
        << QStringList{dd, "Controller IP: 127.0.0.1", "Controller Port: %1", "SDI Address: 3",
                       "There is no ASI Remultiplexer connected to the SDI."}
        << dd << dd << false << "Device Code: h0A";
  }
  void answerFailureTable() {
    QFETCH(int, framing);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, memo);
    QFETCH(QString, msPanel);
    QFETCH(QString, otherPanels);
    QFETCH(bool, red);
    QFETCH(QString, labelD);
    Harness h;
    h.selectLink(framing, 3);
    h.find<QLabel>("LabelD")->setText("Device Code: h1A (v9.99)");
    for (const QString& p : kAllPanels) h.panel(p)->setColor(tColor(tessaly::colour::LightGreen));
    h.click("ButtonQuery");
    h.injectAfter(300, tessaly::Bytes(answer.begin(), answer.end()));
    h.advance(304);
    QCOMPARE(h.text("PanelMS"), kSent);  // handled about 5 ms after the answer
    h.advance(1);
    for (QString& line : memo)
      if (line.contains("%1")) line = line.arg(h.devicePort);
    QCOMPARE(h.memo("MemoInfo")->lines(), memo);
    QCOMPARE(h.text("PanelMS"), msPanel);
    for (const char* p : {"PanelMpx", "PanelPSI", "PanelPCR"}) QCOMPARE(h.text(p), otherPanels);
    const QColor want = red ? tColor(tessaly::colour::Red) : buttonFace();
    for (const QString& p : kAllPanels) QCOMPARE(h.panel(p)->color(), want);
    QCOMPARE(h.text("LabelD"), labelD);
    QCOMPARE(h.form().device().VersionText, std::string("0.00"));  // nothing decoded
    QCOMPARE(int(h.form().engine().state()), framing ? 43 : 41);
    QVERIFY(!h.endpoint.isActive());
  }

  void validAnswerIsDecodedAndPresented_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("answerBase");
    QTest::newRow("CW-Net") << 0 << 8;
    QTest::newRow("DDToIP") << 1 << 25;
  }
  void validAnswerIsDecodedAndPresented() {
    QFETCH(int, framing);
    QFETCH(int, answerBase);
    Harness h;
    h.selectLink(framing, 2);
    const StatusBlock block =
        StatusBlock().set8(tessaly::block::VersionMajor, 2).set8(tessaly::block::VersionMinor, 7).set16(
            tessaly::block::DeviceType, 4852);
    h.click("ButtonQuery");
    h.inject(framing ? uitest::ddtoipAnswer(block) : uitest::cwNetAnswer(block, 2));
    h.advance(5);
    QCOMPARE(h.form().device().AnswerBase, answerBase);
    QCOMPARE(h.text("LabelD"), QString("Device Code: h1A (v2.07)"));
    const QStringList memo = h.memo("MemoInfo")->lines();
    QCOMPARE(memo[0], QString(framing ? "DDToIP SDI Answer received." : "CW-Net Data received."));
    QCOMPARE(memo[3], QString("SDI Address: 2"));
    QCOMPARE(memo[4], QString(""));
    QCOMPARE(memo.mid(5), toList(tessaly::statusReportLines(h.form().device())));
    QCOMPARE(h.text("PanelMS"), QString(framing ? "DDToIP SDI Answer received." : "CW-Net Data received."));
    QCOMPARE(h.panel("PanelMS")->color(), buttonFace());
    for (const char* p : {"PanelMpx", "PanelPSI", "PanelPCR"}) {
      QCOMPARE(h.text(p), QString("Data refreshed."));
      QCOMPARE(h.panel(p)->color(), tColor(tessaly::colour::LightGreen));
    }
  }

  // Answers that come late: the memo names the target the request went to, and a
  // status from a board at another SDI address than the last request's is dropped
  // before the engine (the wait goes on for the right one, or times out). The link
  // changes 100 ms after the first Query; answer i arrives at 400 + i ms.
  void lateAnswerIsTheRequestsAnswer_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("change");  // "ip", "sdi" (to 3), "sdi+query" (to 2, Query again), "none"
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QStringList>("memoHead");
    QTest::addColumn<QString>("memoLast");
    QTest::addColumn<QString>("labelD");
    QTest::addColumn<int>("dropped");
    QTest::addColumn<int>("model");  // decoded Model, 0 when nothing was decoded
    auto qb = [](const tessaly::Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); };
    auto board = [](int address, int model) {
      return StatusBlock().set8(tessaly::block::Address, std::uint32_t(address)).set8(tessaly::block::Model, std::uint32_t(model));
    };
    const QString cw = "CW-Net Data received.", dd = "DDToIP SDI Answer received.";
    const QString ip = "Controller IP: 127.0.0.1", port = "Controller Port: %1";
    const QString noDevice = "There is no device connected to the SDI.";
    const QByteArray cw1 = qb(uitest::cwNetAnswer(board(1, 7), 1)), dd1 = qb(uitest::ddtoipAnswer(board(1, 7)));
    const QString decoded = "Device Code: h1A (v0.00)";
    QTest::newRow("IP changed, CW-Net") << 0 << "ip" << QByteArrayList{cw1}
                                        << QStringList{cw, ip, port, "SDI Address: 1", ""} << "" << decoded << 0 << 7;
    QTest::newRow("IP changed, DDToIP") << 1 << "ip" << QByteArrayList{dd1}
                                        << QStringList{dd, ip, port, "SDI Address: 1", ""} << "" << decoded << 0 << 7;
    QTest::newRow("SDI changed, CW-Net") << 0 << "sdi" << QByteArrayList{cw1}
                                         << QStringList{cw, ip, port, "SDI Address: 1", ""} << "" << decoded << 0 << 7;
    QTest::newRow("SDI changed, DDToIP") << 1 << "sdi" << QByteArrayList{dd1}
                                         << QStringList{dd, ip, port, "SDI Address: 1", ""} << "" << decoded << 0 << 7;
    QTest::newRow("SDI changed, Query again, CW-Net")
        << 0 << "sdi+query" << QByteArrayList{cw1, qb(uitest::cwNetAnswer(StatusBlock().set8(0, 0), 2))}
        << QStringList{cw, ip, port, "SDI Address: 2", noDevice} << noDevice << "Device Code: (no device)" << 1 << 0;
    QTest::newRow("SDI changed, Query again, DDToIP")
        << 1 << "sdi+query" << QByteArrayList{dd1, qb(uitest::ddtoipAnswer(StatusBlock().set8(0, 0)))}
        << QStringList{dd, ip, port, "SDI Address: 2", noDevice} << noDevice << "Device Code: (no device)" << 1 << 0;
    QTest::newRow("SDI changed, Query again, only the old board answers")
        << 1 << "sdi+query" << QByteArrayList{dd1} << QStringList{} << "No answer received (in 1s)."
        << "Device Code:" << 1 << 0;
    QTest::newRow("another board right after the addressed one")
        << 1 << "none" << QByteArrayList{dd1, qb(uitest::ddtoipAnswer(board(2, 9)))}
        << QStringList{dd, ip, port, "SDI Address: 1", ""} << "" << decoded << 1 << 7;
    QTest::newRow("jumper bit and address 0 are no other board")
        << 1 << "none" << QByteArrayList{qb(uitest::ddtoipAnswer(board(0x11, 7))), qb(uitest::ddtoipAnswer(board(0x10, 9)))}
        << QStringList{dd, ip, port, "SDI Address: 1", ""} << "" << decoded << 0 << 9;
  }
  void lateAnswerIsTheRequestsAnswer() {
    QFETCH(int, framing);
    QFETCH(QString, change);
    QFETCH(QByteArrayList, answers);
    QFETCH(QStringList, memoHead);
    QFETCH(QString, memoLast);
    QFETCH(QString, labelD);
    QFETCH(int, dropped);
    QFETCH(int, model);
    Harness h;
    h.selectLink(framing, 1);
    h.click("ButtonQuery");
    h.advance(100);
    if (change == "ip") h.find<TUpDown>("UpDownIP")->stepUp();
    if (change == "sdi") h.selectLink(framing, 3);
    if (change == "sdi+query") {
      h.selectLink(framing, 2);
      h.click("ButtonQuery");
    }
    if (change == "ip") QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.2"));
    for (int i = 0; i < answers.size(); ++i)
      h.injectAfter(300 + i, tessaly::Bytes(answers[i].begin(), answers[i].end()));
    h.advance(1000);
    for (QString& line : memoHead)
      if (line.contains("%1")) line = line.arg(h.devicePort);
    const QStringList memo = h.memo("MemoInfo")->lines();
    QCOMPARE(memo.mid(0, memoHead.size()), memoHead);
    if (!memoLast.isEmpty()) QCOMPARE(memo.constLast(), memoLast);
    QCOMPARE(h.text("LabelD"), labelD);
    QCOMPARE(int(h.endpoint.droppedCount()), dropped);
    QCOMPARE(int(h.form().device().Model), model);
    // The report comes once, about 5 ms after the answer taken, or at the time-out.
    QVERIFY(!h.timer.enabled());
  }

  void secondQueryDoesNotRestartTheWait() {
    Harness h;
    h.click("ButtonQuery");
    h.advance(600);
    h.click("ButtonQuery");
    h.advance(400);
    QCOMPARE(h.text("PanelMS"), QString("No answer received (in 1s)."));
    QCOMPARE(h.endpoint.sent.size(), std::size_t{2});
  }

  void twoAnswersBeforeTheTimerFires() {
    Harness h;
    h.click("ButtonQuery");
    h.inject(uitest::cwNetAnswer(StatusBlock().set8(tessaly::block::Model, 7)));
    h.inject(uitest::cwNetAnswer(StatusBlock().set8(tessaly::block::Model, 9)));
    h.advance(5);
    QCOMPARE(int(h.form().device().Model), 9);  // the buffer holds the second
  }

  void interruptNoticeDoesNotEndTheWait() {
    Harness h;
    h.click("ButtonQuery");
    h.inject(uitest::datagramOfLength(26));
    h.advance(100);
    QCOMPARE(h.text("PanelMS"), kSent);
    h.advance(900);
    QCOMPARE(h.text("PanelMS"), QString("No answer received (in 1s)."));
  }
};

QTEST_MAIN(Query)
#include "test_query.moc"
