// The Main page's link settings: the up-down control, "Change IP", and the ports
// from the Settings dialog as the next transaction uses them.
#include "app/ui/SettingsForm.h"
#include "helpers/UiHarness.h"

using uitest::Harness;

class LinkSettings : public QObject {
  Q_OBJECT
 private slots:
  void upDownMovesTheLastOctetWithoutWrapping() {
    Harness h;
    auto* ud = h.find<TUpDown>("UpDownIP");
    QTest::mouseClick(h.find<QAbstractButton>("UpDownIPUp"), Qt::LeftButton);
    QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.2"));
    QTest::mouseClick(h.find<QAbstractButton>("UpDownIPDown"), Qt::LeftButton);
    QTest::mouseClick(h.find<QAbstractButton>("UpDownIPDown"), Qt::LeftButton);
    QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.0"));
    ud->stepDown();
    QCOMPARE(ud->position(), 0);
    QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.0"));
    ud->setPosition(255);
    ud->stepUp();
    QCOMPARE(ud->position(), 255);
    QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.255"));
    QCOMPARE(h.text("EditIP"), QString("127.0.0.1"));  // the edit is not touched
  }

  void ipExtensionFromTheFileIsClamped() {
    uitest::Options o;
    o.extraSettings = "[Main]\nIPExt=300\n";  // a second [Main] block: the first one wins
    Harness first(o);
    QCOMPARE(first.text("LabelIPAddr"), QString("127.0.0.1"));
    Harness probe;
    uitest::Options o2;
    o2.settingsText = uitest::loopbackSettings(probe.hostPort, probe.devicePort).replace("IPExt=1", "IPExt=300");
    Harness h(o2);
    QCOMPARE(h.find<TUpDown>("UpDownIP")->position(), 255);
    QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.255"));
  }

  void changeIp_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("deviceIp");  // empty: nothing changes
    QTest::addColumn<int>("position");
    QTest::newRow("plain") << "127.0.3.7" << "127.0.3.7" << 7;
    QTest::newRow("other base") << "10.123.13.7" << "10.123.13.7" << 7;
    QTest::newRow("leading zero") << "127.0.0.010" << "127.0.0.10" << 10;
    QTest::newRow("hex extension") << "127.0.0.$1F" << "127.0.0.31" << 31;
    QTest::newRow("0x extension") << "127.0.0.0x20" << "127.0.0.32" << 32;
    QTest::newRow("unvalidated base") << "a.bc.defg.5" << "a.bc.defg.5" << 5;
    QTest::newRow("last dot at the end") << "10.123.13." << "" << 0;
    QTest::newRow("last dot at position 4") << "1.2.3.4" << "" << 0;
    QTest::newRow("256") << "10.123.13.256" << "" << 0;
    QTest::newRow("negative") << "10.123.13.-1" << "" << 0;
    QTest::newRow("not a number") << "10.123.13.x" << "" << 0;
    QTest::newRow("four dots") << "10.123.13.1.2" << "" << 0;
    QTest::newRow("too short") << "1.2.34" << "" << 0;
    QTest::newRow("empty") << "" << "" << 0;
  }
  void changeIp() {
    QFETCH(QString, typed);
    QFETCH(QString, deviceIp);
    QFETCH(int, position);
    Harness h;
    h.find<QLineEdit>("EditIP")->setText(typed);
    h.click("ButtonIPBase");
    if (deviceIp.isEmpty()) {
      QCOMPARE(h.text("LabelIPAddr"), QString("127.0.0.1"));
      QCOMPARE(h.form().ipBase(), std::string("127.0.0."));
      QCOMPARE(h.find<TUpDown>("UpDownIP")->position(), 1);
    } else {
      QCOMPARE(h.text("LabelIPAddr"), deviceIp);
      QCOMPARE(h.find<TUpDown>("UpDownIP")->position(), position);
      // The up-down keeps working on the new base.
      h.find<TUpDown>("UpDownIP")->stepDown();
      QCOMPARE(QString::fromStdString(h.form().deviceIp()),
               QString::fromStdString(h.form().ipBase()) + QString::number(std::max(0, position - 1)));
    }
    QCOMPARE(h.text("EditIP"), typed);
  }

  void sendsGoToTheDeviceIpCaptionAndDevicePort() {
    Harness h;
    h.find<QLineEdit>("EditIP")->setText("127.0.9.5");
    h.click("ButtonIPBase");
    h.click("ButtonQuery");
    QCOMPARE(h.endpoint.sent.size(), std::size_t{1});
    QCOMPARE(h.endpoint.sent[0].host, std::string("127.0.9.5"));
    QCOMPARE(h.endpoint.sent[0].port, h.devicePort);
    QCOMPARE(h.endpoint.localPort(), h.hostPort);
  }

  void unresolvableBaseGivesTheCommunicationError() {
    Harness h;
    h.find<QLineEdit>("EditIP")->setText("a.bc.defg.5");
    h.click("ButtonIPBase");
    h.click("ButtonQuery");
    QVERIFY(h.endpoint.sent.empty());
    QCOMPARE(h.memo("MemoInfo")->lines(), (QStringList{"Communication Error!", "Check your network connection!"}));
  }

  void newHostPortIsBoundByTheNextTransaction() {
    Harness h;
    h.click("ButtonQuery");
    QVERIFY(h.endpoint.isActive());
    const int newHost = uitest::freeUdpPort();
    const int newDevice = uitest::freeUdpPort();
    auto* s = h.form().settingsForm();
    QTimer::singleShot(0, [&] {
      h.scriptInput({QString::number(newHost), QString::number(newDevice)});
      QTest::mouseClick(s->ButtonCh1, Qt::LeftButton);
      QTest::mouseClick(s->ButtonCh2, Qt::LeftButton);
      QTest::mouseClick(s->BitBtnSaveS, Qt::LeftButton);
    });
    h.form().Settings1Click();
    // The endpoint was closed by the dialog; the waiting query hears nothing more.
    QVERIFY(!h.endpoint.isActive());
    QVERIFY(!h.inject(uitest::cwNetAnswer(uitest::StatusBlock())));
    h.advance(1000);
    QCOMPARE(h.text("PanelMpx"), QString("No answer received (in 1s)."));
    h.click("ButtonQuery");
    QVERIFY(h.endpoint.isActive());
    QCOMPARE(h.endpoint.localPort(), newHost);
    QCOMPARE(h.endpoint.sent.back().port, newDevice);
    QCOMPARE(h.memo("MemoInfo")->lines().mid(0, 2),
             (QStringList{QString("Host Computer Port: %1").arg(newHost), QString("Device Port: %1").arg(newDevice)}));
  }
};

QTEST_MAIN(LinkSettings)
#include "test_link_settings.moc"
