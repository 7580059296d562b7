// End to end on loopback: the production window (Qt timer, real UDP endpoint)
// queries tessaly-emulator on 127.0.0.1. Skipped when the emulator is not built.
// With TESSALY_SCREENSHOT_DIR set, also saves the seven pages and both dialogs
// after a query, and the traffic view after a query.
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include "app/MainForm.h"
#include "app/ui/FormAbout.h"
#include "app/ui/SettingsForm.h"
#include "app/ui/TrafficWindow.h"
#include "helpers/CaptureReader.h"
#include "helpers/Emulator.h"
#include "helpers/UiHarness.h"

using uitest::EmulatorProcess;

class E2eEmulator : public QObject {
  Q_OBJECT

  // A production window in its own working directory, pointed at the emulator.
  struct Panel : uitest::LivePanel {
    using LivePanel::LivePanel;
    void query() { click("ButtonQuery"); }
  };

 private slots:
  void init() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
  }

  void queryShowsTheEmulatorOnEveryPage_data() {
    QTest::addColumn<int>("framing");
    QTest::newRow("CW-Net") << 0;
    QTest::newRow("DDToIP") << 1;
  }
  void queryShowsTheEmulatorOnEveryPage() {
    QFETCH(int, framing);
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), framing);
    QCOMPARE(p.form->deviceIp(), std::string("127.0.0.1"));
    p.query();
    QTRY_COMPARE_WITH_TIMEOUT(p.text("LabelD"), QString("Device Code: h1A (v2.07)"), 3000);
    const QStringList info = p.memo("MemoInfo");
    QCOMPARE(info.value(0), QString(framing ? "DDToIP SDI Answer received." : "CW-Net Data received."));
    QCOMPARE(info.value(2), QString("Controller Port: %1").arg(emu.port()));
    QVERIFY(info.contains("Version: v2.07"));
    QVERIFY(info.contains("Type: 4852"));
    QVERIFY(info.contains("Serial: 20417"));
    QVERIFY(info.contains("Xilinx (MPX) version: v14"));
    QVERIFY(info.contains("Input Channel #6"));
    QVERIFY(info.contains(" Test PID: 0"));
    for (const char* panel : {"PanelMpx", "PanelPSI", "PanelPCR"}) QCOMPARE(p.text(panel), QString("Data refreshed."));
    QCOMPARE(p.text("PanelMS"), QString(framing ? "DDToIP SDI Answer received." : "CW-Net Data received."));
    // The pages show what the decoded record holds.
    const auto& d = p.form->device();
    QCOMPARE(int(d.DeviceType), 4852);
    QCOMPARE(p.text("LabelCh1S"), QString("%1 kbps").arg(d.InputRate[1]));
    QVERIFY(d.InputRate[1] > 0);  // the emulator's input 1 carries a stream
    QCOMPARE(p.form->findChild<QCheckBox*>("CheckBoxEN1")->isChecked(), true);
    QCOMPARE(p.text("Label15"), QString("%1 packets").arg(d.SdramUsage));
    QCOMPARE(p.text("LabelSDR"), QString("SDRAM Packets: %1").arg(d.SdramUsage));
    QCOMPARE(p.text("EditSS1"), QString::number(d.SectorStart[1]));
    QCOMPARE(p.memo("MemoGS").value(3), QString("NCO Frequency: 3000000 Hz"));
    QCOMPARE(p.form->findChild<TRadioGroup*>("RadioGroupAddress")->itemIndex(), 0);
    QCOMPARE(p.form->engine().state(), framing ? std::uint8_t{43} : std::uint8_t{41});
    QVERIFY(!p.form->endpoint().isActive());
  }

  // The window's capture file holds the query and its answer as they flow; a file
  // that cannot be written is reported and the window runs on without one.
  void captureFileOfAQuery() {
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 0);
    QStringList messages;
    p.form->setMessageBox([&](const QString& m) { messages << m; });
    QString error;
    QVERIFY(!p.form->startCapture(p.dir.file("no/such/dir/x.pcap"), &error));
    QCOMPARE(messages, QStringList{error});
    QVERIFY2(error.contains("no/such/dir/x.pcap"), qPrintable(error));
    QVERIFY(p.form->startCapture(p.dir.file("panel.pcap")));
    p.query();
    QTRY_COMPARE_WITH_TIMEOUT(p.text("LabelD"), QString("Device Code: h1A (v2.07)"), 3000);
    std::vector<uitest::CapturedPacket> packets;
    bool complete = false;
    QTRY_VERIFY_WITH_TIMEOUT((packets = uitest::readCapture(p.dir.file("panel.pcap"), &complete)).size() == 2, 3000);
    QVERIFY(complete);
    QCOMPARE(int(packets[0].srcPort), p.form->hostPort());
    QCOMPARE(int(packets[0].dstPort), emu.port());
    QCOMPARE(int(packets[1].srcPort), emu.port());
    QCOMPARE(int(packets[1].dstPort), p.form->hostPort());
    QCOMPARE(messages.size(), 1);
  }

  void answersWithoutARemultiplexer_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("labelD");
    QTest::addColumn<QString>("mpxPanel");
    QTest::newRow("no device") << QStringList{"--no-device"} << "There is no device connected to the SDI."
                               << "Device Code: (no device)" << "No device connected to the SDI.";
    QTest::newRow("device 1B") << QStringList{"--device-code", "1B"}
                               << "There is no ASI Remultiplexer connected to the SDI." << "Device Code: h1B"
                               << "CW-Net Data received.";
  }
  void answersWithoutARemultiplexer() {
    QFETCH(QStringList, options);
    QFETCH(QString, lastLine);
    QFETCH(QString, labelD);
    QFETCH(QString, mpxPanel);
    EmulatorProcess emu;
    QVERIFY(emu.start(options));
    Panel p(emu.port(), 0);
    p.query();
    QTRY_COMPARE_WITH_TIMEOUT(p.text("LabelD"), labelD, 3000);
    QCOMPARE(p.memo("MemoInfo").constLast(), lastLine);
    QCOMPARE(p.text("PanelMpx"), mpxPanel);
    QCOMPARE(p.text("PanelMS"), QString("CW-Net Data received."));
    QCOMPARE(p.form->device().VersionText, std::string("0.00"));  // nothing decoded
  }

  // A board that answers 200 ms late while the user changes the link: the memo names
  // the target the request went to; after the SDI address changed and Query was
  // pressed again, the old board's status is dropped (the traffic log shows why) and
  // the new address's own answer is taken.
  void lateAnswers_data() {
    QTest::addColumn<int>("framing");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("sdiLine");
    QTest::addColumn<QString>("labelD");
    QTest::addColumn<int>("dropped");
    QTest::newRow("IP changed") << 0 << "ip" << "SDI Address: 1" << "Device Code: h1A (v2.07)" << 0;
    QTest::newRow("SDI changed") << 1 << "sdi" << "SDI Address: 1" << "Device Code: h1A (v2.07)" << 0;
    QTest::newRow("SDI changed, Query again, CW-Net")
        << 0 << "sdi+query" << "SDI Address: 2" << "Device Code: (no device)" << 1;
    QTest::newRow("SDI changed, Query again, DDToIP")
        << 1 << "sdi+query" << "SDI Address: 2" << "Device Code: (no device)" << 1;
  }
  void lateAnswers() {
    QFETCH(int, framing);
    QFETCH(QString, change);
    QFETCH(QString, sdiLine);
    QFETCH(QString, labelD);
    QFETCH(int, dropped);
    EmulatorProcess emu;
    QVERIFY(emu.start({"--delay", "200"}));
    Panel p(emu.port(), framing);
    p.query();
    if (change == "ip") p.find<TUpDown>("UpDownIP")->stepUp();
    if (change != "ip") p.find<TRadioGroup>("RadioGroup3")->setItemIndex(1);
    if (change == "sdi+query") p.query();
    QTRY_COMPARE_WITH_TIMEOUT(p.text("LabelD"), labelD, 3000);
    const QStringList info = p.memo("MemoInfo");
    QCOMPARE(info.value(1), QString("Controller IP: 127.0.0.1"));
    QCOMPARE(info.value(3), sdiLine);
    if (dropped) QCOMPARE(info.constLast(), QString("There is no device connected to the SDI."));
    QTest::qWait(300);  // nothing else comes
    QCOMPARE(p.text("LabelD"), labelD);
    QCOMPARE(int(p.form->endpoint().droppedCount()), dropped);
    int otherBoard = 0;
    for (const tessaly::TrafficRecord& r : p.form->trafficLog().records())
      if (r.direction == tessaly::TrafficDirection::Dropped && r.dropReason == tessaly::DropReason::OtherBoard)
        ++otherBoard;
    QCOMPARE(otherBoard, dropped);
  }

  void silentEmulatorTimesOut() {
    EmulatorProcess emu;
    QVERIFY(emu.start({"--drop", "1"}));
    Panel p(emu.port(), 1);
    p.query();
    QCOMPARE(p.memo("MemoInfo").constLast(), QString("Message sent, waiting for reply..."));
    QTRY_COMPARE_WITH_TIMEOUT(p.text("PanelPCR"), QString("No answer received (in 1s)."), 3000);
    QCOMPARE(p.memo("MemoInfo").constLast(), QString("No answer received (in 1s)."));
    QCOMPARE(p.text("LabelD"), QString("Device Code:"));
    for (const char* panel : {"PanelMS", "PanelMpx", "PanelPSI"})
      QCOMPARE(p.text(panel), QString("No answer received (in 1s)."));
  }

  void screenshots() {
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("TESSALY_SCREENSHOT_DIR is not set");
    EmulatorProcess emu;
    QVERIFY(emu.start());
    Panel p(emu.port(), 1);
    p.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    p.query();
    QTRY_COMPARE_WITH_TIMEOUT(p.text("LabelD"), QString("Device Code: h1A (v2.07)"), 3000);
    const char* names[] = {"1-main", "2-instruction-test", "3-general", "4-mpx-pid-filter",
                           "5-sdram-psi-inserter", "6-pcr-corrector", "7-manufacturer-setup"};
    for (int i = 0; i < 7; ++i) {
      p.form->tabs()->setCurrentIndex(i);
      QTest::qWait(150);
      QVERIFY(p.form->grab().save(out + "/" + names[i] + ".png"));
    }
    auto* settings = p.form->settingsForm();
    settings->load(p.form->saveOnExit(), p.form->hostPort(), p.form->devicePort());
    settings->show();
    QTest::qWait(150);
    QVERIFY(settings->grab().save(out + "/8-settings.png"));
    settings->hide();
    auto* about = p.form->aboutForm();
    about->setTexts("ASI Remultiplexer", "Tessaly v1.00");
    about->show();
    QTest::qWait(150);
    QVERIFY(about->grab().save(out + "/9-about.png"));
    about->hide();
    // The traffic view after the Query: its request and answer, the answer selected.
    p.form->Traffic1Click();
    TrafficWindow* w = p.form->trafficWindow();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->refresh();
    QCOMPARE(w->model()->rowCount(), 2);
    w->table()->selectRow(1);
    QTest::qWait(200);
    QVERIFY(w->grab().save(out + "/traffic.png"));
  }
};

QTEST_MAIN(E2eEmulator)
#include "test_e2e_emulator.moc"
