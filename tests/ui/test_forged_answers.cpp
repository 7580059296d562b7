// End to end on loopback: a forger on 127.0.0.2 keeps sending answers of every kind
// (interrupt notices, junk, bad read-backs, passing status blocks) to the panel's
// host port while the panel talks to the emulator on 127.0.0.1. The panel hears
// only the device: with a board every outcome is the real one, without one (the
// emulator drops everything) every wait ends in its time-out text.
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>
#include <functional>

#include "app/ui/PageMfg.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"

using uitest::EmulatorProcess;

namespace {

class Forger {
 public:
  static constexpr int kMaxDatagrams = 600;  // 15 s at one every 25 ms

  explicit Forger(int panelPort) : port_(static_cast<quint16>(panelPort)) {
    bound_ = socket_.bind(QHostAddress("127.0.0.2"), 0);
    QByteArray status(1046, '\0');
    status[22] = char(0xF0);
    for (int at : {389, 393, 397, 401}) {  // NCOs at 2,000,000 Hz
      status[at + 1] = char(0x1E);
      status[at + 2] = char(0x84);
      status[at + 3] = char(0x80);
    }
    QByteArray readBack(297, '\0');
    readBack[22] = char(0xFE);
    kinds_ = {QByteArray(26, '\0'), QByteArray(27, 'x'), readBack, status};
    QObject::connect(&timer_, &QTimer::timeout, [this] { burst(); });
    timer_.start(25);
  }
  bool bound() const { return bound_; }
  // One datagram of each kind, at once.
  void burst() {
    for (const QByteArray& d : kinds_) {
      if (sent_ >= kMaxDatagrams) {
        timer_.stop();
        return;
      }
      socket_.writeDatagram(d, QHostAddress::LocalHost, port_);
      ++sent_;
    }
  }

 private:
  quint16 port_;
  QUdpSocket socket_;
  QTimer timer_;
  std::vector<QByteArray> kinds_;
  int sent_ = 0;
  bool bound_ = false;
};

}  // namespace

class ForgedAnswersTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void onlyTheDeviceIsHeard_data() {
    QTest::addColumn<bool>("board");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("Query, board") << true << "ButtonQuery" << "PanelMS" << "CW-Net Data received." << 3000;
    QTest::newRow("Query, no board") << false << "ButtonQuery" << "PanelMS" << "No answer received (in 1s)." << 3000;
    QTest::newRow("interrupt wait, board") << true << "ButtonReset" << "PanelGS" << "SDI IRQ received." << 3000;
    QTest::newRow("interrupt wait, no board")
        << false << "ButtonReset" << "PanelGS" << "No SDI IRQ received (in 1s)." << 3000;
    QTest::newRow("manufacturer run, board")
        << true << "ButtonMS" << "PanelTest" << "Programming succeeded" << 30000;
    QTest::newRow("manufacturer run, no board")
        << false << "ButtonMS" << "LabelTest" << "Error: No ACK answer received (in 2s)." << 5000;
  }
  void onlyTheDeviceIsHeard() {
    QFETCH(bool, board);
    QFETCH(QString, button);
    QFETCH(QString, control);
    QFETCH(QString, outcome);
    QFETCH(int, waitMs);
    EmulatorProcess emu;
    QVERIFY(emu.start(board ? QStringList{"--erase-ms", "1000"} : QStringList{"--drop", "1"}));
    uitest::LivePanel p(emu.port(), 0);
    if (button == "ButtonMS") p.form->tabs()->setCurrentIndex(TMainForm::TabMfg);
    Forger forger(p.form->hostPort());
    QVERIFY(forger.bound());
    p.click(button);
    forger.burst();  // while the first wait has just begun
    QTRY_COMPARE_WITH_TIMEOUT(p.text(control), outcome, waitMs);
    if (button == "ButtonMS" && board) {
      PageMfg* page = p.form->pageMfg();
      for (std::size_t u = 1; u <= 4; ++u) {
        QCOMPARE(page->PanelPID[u]->color(), tColor(0xC0DCC0));
        QCOMPARE(page->PanelPSIUnit[u]->color(), tColor(0xC0DCC0));
      }
    }
    QVERIFY(p.form->endpoint().droppedCount() >= 4);
  }
};

QTEST_MAIN(ForgedAnswersTest)
#include "test_forged_answers.moc"
