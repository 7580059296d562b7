// The application shell: start-up, the settings file, shutdown, the menu and both
// dialogs.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QLayout>
#include <QMenuBar>
#include <QTabWidget>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/SettingsKeys.h"
#include "app/ui/FormAbout.h"
#include "app/ui/SettingsForm.h"
#include "capture/CaptureFile.h"
#include "helpers/UiHarness.h"
#include "text/Numbers.h"
#include "Unprivileged.h"

#include <sys/stat.h>

using uitest::Harness;
using uitest::Options;

namespace {

// The value a control holds, written as the settings file would hold it.
QString controlValue(TMainForm& form, const tessaly::SettingKey& k) {
  QWidget* w = form.findChild<QWidget*>(QString::fromStdString(k.target));
  if (auto* c = qobject_cast<QCheckBox*>(w)) return c->isChecked() ? "1" : "0";
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* r = qobject_cast<TRadioGroup*>(w)) return QString::number(r->itemIndex());
  if (auto* u = qobject_cast<TUpDown*>(w)) return QString::number(u->position());
  return "<no control>";
}

// "Section/Key" of every key line in file order.
QStringList keysInFile(const QString& text) {
  QStringList keys;
  QString section;
  for (const QString& raw : text.split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) section = line.mid(1, line.size() - 2);
    else if (line.contains('=')) keys << section + "/" + line.left(line.indexOf('='));
  }
  return keys;
}

QString valueInFile(const QString& text, const QString& sectionKey) {
  QString section;
  for (const QString& raw : text.split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) section = line.mid(1, line.size() - 2);
    else if (line.contains('=') && section + "/" + line.left(line.indexOf('=')) == sectionKey)
      return line.mid(line.indexOf('=') + 1);
  }
  return "<missing>";
}

Options noFile() {
  Options o;
  o.writeSettings = false;
  return o;
}
Options withText(const QString& text) {
  Options o;
  o.settingsText = text;
  return o;
}
Options withExtra(const QString& text) {
  Options o;
  o.extraSettings = text;
  return o;
}

}  // namespace

class Shell : public QObject {
  Q_OBJECT
 private slots:
  void firstStartWithoutFileShowsEveryDefault() {
    Harness h(noFile());
    auto& f = h.form();
    QCOMPARE(f.windowTitle(), QString("ASI Remultiplexer Tessaly v1.00"));
    // The client area below the menu bar is 744 x 536; the window is that plus the bar.
    f.layout()->activate();
    QCOMPARE(f.centralWidget()->size(), QSize(744, 536));
    QCOMPARE(f.centralWidget()->y(), f.menuBar()->geometry().bottom() + 1);
    QCOMPARE(f.size(), QSize(744, 536 + f.menuBar()->height()));
    QCOMPARE(f.tabs()->currentIndex(), 0);
    QCOMPARE(f.tabs()->tabText(0), QString("Main"));
    QVERIFY(!f.manufacturerPageVisible());
    QCOMPARE(f.tabs()->tabPosition(), QTabWidget::South);
    for (const auto& k : tessaly::loadOrder()) {
      const QString key = QString::fromStdString(k.section + "/" + k.key);
      if (k.target[0] == '@') continue;
      const QString want = QString::fromStdString(k.defaultValue);
      QCOMPARE(key + "=" + controlValue(f, k), key + "=" + want);
    }
    QVERIFY(f.saveOnExit());
    QCOMPARE(f.hostPort(), 56789);
    QCOMPARE(f.devicePort(), 56789);
    QCOMPARE(h.endpoint.localPort(), 56789);
    QCOMPARE(f.ipBase(), std::string("10.123.13."));
    QCOMPARE(h.text("LabelIPAddr"), QString("10.123.13.101"));
    QCOMPARE(h.text("LabelECSetup"), QString("Ethernet Controller Setup"));
    // Nothing runs until the first transaction.
    QVERIFY(!h.timer.enabled());
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(int(f.engine().state()), 0);
    QVERIFY(h.endpoint.sent.empty());
  }

  void firstExitWritesTheWholeFileInSaveOrder() {
    Harness h(noFile());
    h.close();
    const QString text = h.dir.read("Settings.ini");
    QStringList want{"Settings/SaveOnExit"};
    for (const auto& k : tessaly::saveOrder()) want << QString::fromStdString(k.section + "/" + k.key);
    QCOMPARE(keysInFile(text), want);
    QCOMPARE(valueInFile(text, "Main/IPBase"), QString("10.123.13."));
    QCOMPARE(valueInFile(text, "Main/IPExt"), QString("101"));
    QCOMPARE(valueInFile(text, "InstructionTest/UserText"), QString("Quillmarsh Bt."));
    QCOMPARE(valueInFile(text, "General/UserText"), QString("My User Text"));
    QVERIFY(h.messages().isEmpty());
  }

  void controlsSurviveARestart() {
    QString saved;
    {
      Harness h;
      h.find<QLineEdit>("EditSerial")->setText("$10");
      h.find<QCheckBox>("CheckBoxDV3")->setChecked(true);
      h.find<TRadioGroup>("RadioGroupTS")->setItemIndex(4);
      h.find<TRadioGroup>("RadioGroupAP")->setItemIndex(1);
      h.find<TRadioGroup>("RadioGroup3")->setItemIndex(14);
      h.find<QLineEdit>("EditIP")->setText("127.0.1.9");
      h.click("ButtonIPBase");
      h.find<TUpDown>("UpDownIP")->stepUp();
      h.close();
      saved = h.dir.read("Settings.ini");
      // A second window in a directory holding that file.
      uitest::TempWorkDir dir2;
      dir2.write("Settings.ini", saved);
      tessaly::testing::VirtualClock clock;
      tessaly::testing::VirtualTimer timer(clock);
      tessaly::testing::FakeEndpoint endpoint(&clock);
      TMainForm f(timer, endpoint);
      QCOMPARE(f.findChild<QLineEdit*>("EditSerial")->text(), QString("$10"));
      QVERIFY(f.findChild<QCheckBox*>("CheckBoxDV3")->isChecked());
      QCOMPARE(f.findChild<TRadioGroup*>("RadioGroupTS")->itemIndex(), 4);
      QCOMPARE(f.framing(), tessaly::Framing::DDToIP);
      QCOMPARE(int(f.sdiAddress()), 15);
      QCOMPARE(f.deviceIp(), std::string("127.0.1.10"));
      QCOMPARE(f.findChild<QLineEdit*>("EditIP")->text(), QString("127.0.1.9"));
      QCOMPARE(f.hostPort(), h.hostPort);
      QCOMPARE(f.devicePort(), h.devicePort);
    }
  }

  // Exit writes its keys into the file as it is on disk then: what another program
  // put there while the panel ran stays, and with save-on-exit off only that key is
  // written. A writable file in a directory that takes no new file is saved in place.
  void exitWritesItsKeysIntoTheFileOnDisk_data() {
    QTest::addColumn<bool>("saveOnExit");
    QTest::addColumn<bool>("changedMeanwhile");
    QTest::addColumn<bool>("directoryReadOnly");
    QTest::newRow("save-on-exit off") << false << false << false;
    QTest::newRow("save-on-exit off, a section and a key added meanwhile") << false << true << false;
    QTest::newRow("save-on-exit on, a section and a key added meanwhile") << true << true << false;
    QTest::newRow("save-on-exit on, a read-only directory") << true << false << true;
  }
  void exitWritesItsKeysIntoTheFileOnDisk() {
    QFETCH(bool, saveOnExit);
    QFETCH(bool, changedMeanwhile);
    QFETCH(bool, directoryReadOnly);
    Harness probe;  // only for two free ports
    const QString text = uitest::loopbackSettings(probe.hostPort, probe.devicePort)
                             .replace("SaveOnExit=1", saveOnExit ? "SaveOnExit=1" : "SaveOnExit=0");
    Harness h(withText(text));
    QCOMPARE(h.form().saveOnExit(), saveOnExit);
    h.find<QLineEdit>("EditSerial")->setText("777");
    QString onDisk = text;
    if (changedMeanwhile) {
      onDisk = QString(text).replace("[Main]\n", "[Main]\nMine=2\n") + "[Editor]\nx=1\n";
      h.dir.write("Settings.ini", onDisk);
    }
    const QByteArray dir = QFile::encodeName(h.dir.path()), file = QFile::encodeName(h.dir.file("Settings.ini"));
    struct stat before {};
    QCOMPARE(::stat(file.constData(), &before), 0);
    if (directoryReadOnly) {
      QCOMPARE(::chmod(file.constData(), 0666), 0);
      QCOMPARE(::chmod(dir.constData(), 0555), 0);
    }
    {
      tessaly::testing::Unprivileged as(directoryReadOnly);
      h.close();
    }
    ::chmod(dir.constData(), 0700);
    QCOMPARE(h.messages(), QStringList{});
    const QString now = h.dir.read("Settings.ini");
    if (!saveOnExit) {
      QCOMPARE(now, onDisk);
    } else {
      QCOMPARE(valueInFile(now, "General/Serial"), QString("777"));
      if (changedMeanwhile) {
        QCOMPARE(valueInFile(now, "Main/Mine"), QString("2"));
        QCOMPARE(valueInFile(now, "Editor/x"), QString("1"));
      }
    }
    struct stat after {};
    QCOMPARE(::stat(file.constData(), &after), 0);
    if (directoryReadOnly) QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(QDir(h.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"Settings.ini"});
  }

  void portKeys_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("decimal") << "40001" << 40001;
    QTest::newRow("not a number") << "abc" << 56789;
    QTest::newRow("empty") << "" << 56789;
    QTest::newRow("dollar hex") << "$DDD5" << 56789;
    QTest::newRow("0x hex") << "0xDDD5" << 56789;
    QTest::newRow("0X hex") << "0XDDD6" << 56790;
  }
  void portKeys() {
    QFETCH(QString, text);
    QFETCH(int, port);
    const QString ini = QString("[Settings]\nMyPort=%1\nDevicePort=%1\n[Main]\nIPBase=127.0.0.\nIPExt=1\n").arg(text);
    Harness h(withText(ini));
    QCOMPARE(h.form().hostPort(), port);
    QCOMPARE(h.form().devicePort(), port);
    QCOMPARE(h.endpoint.localPort(), port);
  }

  void manufacturerPageShowKey_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("visible");
    QTest::newRow("1") << "Show=1" << true;
    QTest::newRow("$10") << "Show=$10" << true;
    QTest::newRow("0") << "Show=0" << false;
    QTest::newRow("-1") << "Show=-1" << false;
    QTest::newRow("abc") << "Show=abc" << false;
    QTest::newRow("missing") << "" << false;
  }
  void manufacturerPageShowKey() {
    QFETCH(QString, line);
    QFETCH(bool, visible);
    Harness probe;
    Harness h(withText(uitest::loopbackSettings(probe.hostPort, probe.devicePort, false)
                                          .replace("Show=0", line)));
    QCOMPARE(h.form().manufacturerPageVisible(), visible);
    QCOMPARE(h.form().tabs()->currentIndex(), 0);
    h.close();
    // Show is never written.
    QVERIFY(!h.dir.read("Settings.ini").contains("Show=1") || line == "Show=1");
  }

  void radioIndexesFromTheFile_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("index");
    QTest::newRow("past the last item selects the last") << "[General]\nClockSource=42\n" << "RadioGroupClkSource" << 8;
    QTest::newRow("-1 selects nothing") << "[General]\nFormat=-1\n" << "RadioGroupStrFormat" << -1;
    QTest::newRow("below -1 selects nothing") << "[PSIInserter]\nPacketType=-7\n" << "RadioGroupPT" << -1;
    QTest::newRow("in range") << "[MpxAndPIDFilter]\nTSInput=5\n" << "RadioGroupTS" << 5;
  }
  void radioIndexesFromTheFile() {
    QFETCH(QString, line);
    QFETCH(QString, group);
    QFETCH(int, index);
    Harness h(withExtra(line));
    QCOMPARE(h.find<TRadioGroup>(group)->itemIndex(), index);
  }

  void userTextIsWrittenButNotRestored() {
    Harness h;
    h.find<QLineEdit>("Edit1")->setText("Edited label");
    h.close();
    const QString text = h.dir.read("Settings.ini");
    QCOMPARE(valueInFile(text, "InstructionTest/UserText"), QString("Edited label"));
    tessaly::testing::VirtualClock clock;
    tessaly::testing::VirtualTimer timer(clock);
    tessaly::testing::FakeEndpoint endpoint(&clock);
    TMainForm again(timer, endpoint);
    QCOMPARE(again.findChild<QLineEdit*>("Edit1")->text(), QString("Quillmarsh Bt."));
  }

  void unwritableFileIsReportedOnceAndTheWindowStillCloses() {
    Harness h;
    // After start the file's place is taken by a directory (with something in it):
    // the new file cannot be renamed over it, not even by root.
    QFile::remove(h.dir.file("Settings.ini"));
    QDir(h.dir.path()).mkpath("Settings.ini/inside");
    // Point the (default 10.x) device IP at loopback before anything is sent.
    h.find<QLineEdit>("EditIP")->setText("127.0.0.1");
    h.click("ButtonIPBase");
    h.click("ButtonQuery");
    QVERIFY(h.endpoint.isActive());
    QVERIFY(h.timer.enabled());
    QVERIFY(h.form().close());
    QCOMPARE(h.messages(), QStringList{"Unable to write to " + QString::fromStdString(h.form().settingsFile().path())});
    QVERIFY(!h.endpoint.isActive());
    QVERIFY(!h.timer.enabled());
    QCOMPARE(h.nonLoopbackSends(), 0);
    QCOMPARE(QDir(h.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"Settings.ini"});  // no temporary file left behind
  }

  // A Settings.ini that is there but cannot be read: reported once when the window is
  // up, the defaults serve the run, and exit leaves the file alone.
  // The Settings dialog's Save on such a file fails as a write does: reported, and the
  // ports and the endpoint stay as they were.
  void unreadableFileIsReportedOnceAndNeverWritten_data() {
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("dialogSave");
    QTest::newRow("a directory") << true << "is a directory" << false;
    QTest::newRow("larger than 64 MB") << false << "is larger than 64 MB" << false;
    QTest::newRow("a directory, the Settings dialog's Save") << true << "is a directory" << true;
  }
  void unreadableFileIsReportedOnceAndNeverWritten() {
    QFETCH(bool, directory);
    QFETCH(QString, reason);
    QFETCH(bool, dialogSave);
    uitest::TempWorkDir dir;
    const QString path = dir.file("Settings.ini");
    if (directory) {
      QDir(dir.path()).mkdir("Settings.ini");
    } else {
      dir.write("Settings.ini", "[Settings]\nMyPort=1\n");
      QFile f(path);
      QVERIFY(f.resize((qint64(64) << 20) + 1));  // sparse
    }
    const QFileInfo before(path);
    tessaly::testing::VirtualClock clock;
    tessaly::testing::VirtualTimer timer(clock);
    tessaly::testing::FakeEndpoint endpoint(&clock);
    TMainForm f(timer, endpoint);
    QStringList messages;
    f.setMessageBox([&](const QString& m) { messages << m; });
    QCoreApplication::processEvents();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("Unable to read " + QString::fromStdString(f.settingsFile().path()) + " (" +
                                    reason + ")"),
             qPrintable(messages[0]));
    QCOMPARE(f.hostPort(), 56789);
    QVERIFY(f.saveOnExit());
    if (dialogSave) {
      // A query waits on loopback while the dialog is saved with other ports.
      f.findChild<QLineEdit*>("EditIP")->setText("127.0.0.1");
      f.findChild<QAbstractButton*>("ButtonIPBase")->click();
      f.findChild<QAbstractButton*>("ButtonQuery")->click();
      QVERIFY(endpoint.isActive());
      QTimer::singleShot(0, [&] {
        QTest::mouseClick(f.settingsForm()->ButtonRD, Qt::LeftButton);
        QTest::mouseClick(f.settingsForm()->BitBtnSaveS, Qt::LeftButton);
      });
      f.Settings1Click();
      QCOMPARE(messages.size(), 2);
      QCOMPARE(messages[1], "Unable to write to " + QString::fromStdString(f.settingsFile().path()));
      QCOMPARE(f.hostPort(), 56789);
      QCOMPARE(f.devicePort(), 56789);
      QVERIFY(endpoint.isActive());
      QCOMPARE(endpoint.localPort(), 56789);
      QCOMPARE(endpoint.sent.size(), std::size_t{1});
      QCOMPARE(endpoint.sent[0].host, std::string("127.0.0.1"));
    }
    QVERIFY(f.close());
    QCOMPARE(messages.size(), dialogSave ? 2 : 1);
    const QFileInfo after(path);
    QCOMPARE(after.isDir(), directory);
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.lastModified(), before.lastModified());
  }

  // Text in the file is bytes: 8-bit text from elsewhere reaches the control as those
  // characters and goes back out as the same bytes.
  void eightBitTextSurvivesStartAndExit() {
    uitest::TempWorkDir dir;
    const QByteArray userText = "M\xfcller \xa7\xb5";
    {
      QFile file(dir.file("Settings.ini"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(uitest::loopbackSettings(uitest::freeUdpPort(), uitest::freeUdpPort()).toLatin1() +
                 "[General]\nUserText=" + userText + "\n");
    }
    tessaly::testing::VirtualClock clock;
    tessaly::testing::VirtualTimer timer(clock);
    tessaly::testing::FakeEndpoint endpoint(&clock);
    TMainForm f(timer, endpoint);
    QCOMPARE(f.findChild<QLineEdit*>("EditUT")->text(), QString::fromLatin1(userText));
    QVERIFY(f.close());
    QFile file(dir.file("Settings.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\nUserText=" + userText + "\n"));
  }

  // --capture: a file that cannot be or must not be written is reported at start and
  // the window runs on; a write error later is reported once; a reader that takes
  // nothing holds Exit up less than a second. The settings are saved every time.
  void captureOutputs_data() {
    QTest::addColumn<QString>("target");  // "settings", "settings link", "fifo", "reader gone", "reader stalls"
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("reason");
    QTest::newRow("the settings file") << "settings" << false << "it is the same file as";
    QTest::newRow("the settings file through a link") << "settings link" << false << "it is the same file as";
    QTest::newRow("a FIFO nobody reads") << "fifo" << false << "it is a FIFO that nothing reads from";
    QTest::newRow("a reader that goes away") << "reader gone" << true << "stopped: Broken pipe";
    QTest::newRow("a reader that stops reading") << "reader stalls" << true << "stopped: its reader stopped reading";
  }
  void captureOutputs() {
    QFETCH(QString, target);
    QFETCH(bool, starts);
    QFETCH(QString, reason);
    tessaly::ignoreWriteSignals();  // as the panel does at start
    Harness h;
    QString path = h.dir.file("c.pcap");
    const QByteArray fifo = QFile::encodeName(path);
    int reader = -1;
    if (target == "settings") path = "Settings.ini";
    if (target == "settings link") QVERIFY(QFile::link("Settings.ini", path));
    if (target == "fifo" || target.startsWith("reader")) QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    if (target.startsWith("reader")) reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const QString settingsBefore = h.dir.read("Settings.ini");

    QElapsedTimer took;
    took.start();
    QCOMPARE(h.form().startCapture(path), starts);
    QVERIFY(took.elapsed() < 1000);
    QCOMPARE(h.dir.read("Settings.ini"), settingsBefore);
    if (target == "reader gone") ::close(reader);
    tessaly::TrafficRecord r;
    r.direction = tessaly::TrafficDirection::Received;
    r.localAddress = r.peerAddress = 0x7F000001;
    r.wireLength = 1000;
    r.data.assign(1000, 0x55);
    for (int i = 0; i < 300; ++i) h.form().trafficTap().record(r);
    if (target == "reader gone") QTRY_COMPARE_WITH_TIMEOUT(h.messages().size(), 1, 3000);
    for (int i = 0; i < 10; ++i) h.form().trafficTap().record(r);
    took.restart();
    h.close();
    QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    QCoreApplication::processEvents();
    if (reader >= 0 && target != "reader gone") ::close(reader);
    QCOMPARE(h.messages().size(), 1);
    QVERIFY2(h.messages()[0].contains(reason), qPrintable(h.messages()[0]));
    QVERIFY(h.dir.read("Settings.ini").contains("[Main]\n"));  // saved, and no capture over it
  }

  void exitMenuClosesAndSaves() {
    Harness h(noFile());
    h.find<QAction>("Exit1")->trigger();
    QVERIFY(!h.form().isVisible());
    QCOMPARE(valueInFile(h.dir.read("Settings.ini"), "Main/IPExt"), QString("101"));
    // A second close (window system button after Exit) writes nothing more and asks nothing.
    h.close();
    QVERIFY(h.messages().isEmpty());
  }

  void settingsDialogPortInput_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("0") << "0" << "4000" << true;
    QTest::newRow("1") << "1" << "1" << false;
    QTest::newRow("65534") << "65534" << "65534" << false;
    QTest::newRow("65535") << "65535" << "4000" << true;
    QTest::newRow("abc") << "abc" << "4000" << true;
    QTest::newRow("-5") << "-5" << "4000" << true;
    QTest::newRow("empty") << "" << "4000" << true;
    QTest::newRow("blanks around") << " 7 " << "4000" << true;
    QTest::newRow("plus sign") << "+7" << "4000" << true;
  }
  void settingsDialogPortInput() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(bool, invalid);
    Harness h;
    auto* s = h.form().settingsForm();
    for (const char* which : {"ButtonCh1", "ButtonCh2"}) {
      s->load(true, 4000, 4000);
      h.scriptInput({typed});
      QTest::mouseClick(s->findChild<QPushButton*>(which), Qt::LeftButton);
      QLabel* target = s->findChild<QLabel*>(QString(which) == "ButtonCh1" ? "LabelHP" : "LabelDP");
      QCOMPARE(target->text(), shown);
    }
    QCOMPARE(h.messages().size(), invalid ? 2 : 0);
    if (invalid) QCOMPARE(h.messages().first(), QString("Invalid port number!"));
    QCOMPARE(h.inputCaptions(), (QStringList{"Host Comuter Port|Enter new port number (1..65534)!",
                                             "Device Port|Enter new port number (1..65534)!"}));
    // Cancelling the input box changes nothing.
    s->load(true, 4000, 4000);
    h.scriptInput({std::nullopt});
    QTest::mouseClick(s->ButtonCh1, Qt::LeftButton);
    QCOMPARE(s->LabelHP->text(), QString("4000"));
  }

  void settingsDialogRestoreDefaultThenCancel() {
    Harness h;
    const QString before = h.dir.read("Settings.ini");
    h.answerModal(
        [&] {
          QTimer::singleShot(0, [&] { QTest::mouseClick(h.form().settingsForm()->ButtonRD, Qt::LeftButton); });
          h.form().Settings1Click();
        },
        "SettingsForm", "BitBtnCancel");
    QCOMPARE(h.form().hostPort(), h.hostPort);
    QCOMPARE(h.form().devicePort(), h.devicePort);
    QVERIFY(h.form().saveOnExit());
    QCOMPARE(h.dir.read("Settings.ini"), before);
  }

  void settingsDialogRestoreDefaultThenSave() {
    Harness h;
    h.click("ButtonQuery");  // the endpoint is open while the query waits
    QVERIFY(h.endpoint.isActive());
    QTimer::singleShot(0, [&] {
      auto* s = h.form().settingsForm();
      QCOMPARE(s->LabelHP->text(), QString::number(h.hostPort));
      QTest::mouseClick(s->ButtonRD, Qt::LeftButton);
      QVERIFY(s->CheckBoxSSOE->isChecked());
      s->CheckBoxSSOE->setChecked(false);
      QTest::mouseClick(s->BitBtnSaveS, Qt::LeftButton);
    });
    h.form().Settings1Click();
    QCOMPARE(h.form().hostPort(), 56781);
    QCOMPARE(h.form().devicePort(), 56781);
    QVERIFY(!h.form().saveOnExit());
    QVERIFY(!h.endpoint.isActive());
    QCOMPARE(h.endpoint.localPort(), 56781);
    const QString text = h.dir.read("Settings.ini");
    QCOMPARE(valueInFile(text, "Settings/MyPort"), QString("56781"));
    QCOMPARE(valueInFile(text, "Settings/DevicePort"), QString("56781"));
    QCOMPARE(valueInFile(text, "Settings/SaveOnExit"), QString("0"));
    // The dialog reopens with what was saved.
    QTimer::singleShot(0, [&] {
      auto* s = h.form().settingsForm();
      QCOMPARE(s->LabelDP->text(), QString("56781"));
      QVERIFY(!s->CheckBoxSSOE->isChecked());
      QTest::mouseClick(s->BitBtnCancel, Qt::LeftButton);
    });
    h.form().Settings1Click();
  }

  void aboutBox() {
    Harness h;
    auto* about = h.form().aboutForm();
    about->setTexts("changed", "changed");
    h.answerModal([&] { h.form().About1Click(); }, "FormAbout", "ButtonOK");
    QCOMPARE(about->windowTitle(), QString("About"));
    QCOMPARE(about->Label1->text(), QString("ASI Remultiplexer"));
    QCOMPARE(about->Label2->text(), QString("Tessaly v1.00"));
    QVERIFY(!about->Label3->text().isEmpty());
    QVERIFY(!about->Label4->text().isEmpty());
    QVERIFY(!about->isVisible());
  }

  // Headings in one style, and on every page each control lies inside the page at
  // no less than its minimum size (nothing clipped or squashed in the fixed window).
  void pagesShowTheirHeadingsAndFit() {
    Harness h;
    auto& f = h.form();
    f.show();
    const QFont style = h.find<QLabel>("LabelInstrTest")->font();
    QVERIFY(style.bold());
    const struct {
      const char* sheet;
      const char* heading;  // nullptr: the page has none
      const char* text;
    } pages[] = {{"TabSheetMain", nullptr, nullptr},
                 {"TabSheetInstrTest", "LabelInstrTest", "Instruction Test"},
                 {"TabSheetNCO", nullptr, nullptr},
                 {"TabSheetIPRemux", "LabelIPRemux", "6 to 1 Multiplexer and PID Filter"},
                 {"TabSheetMpxPID", "LabelMpxPID", "SDRAM And PSI Inserter"},
                 {"TabSheetPCR", nullptr, nullptr},
                 {"TabSheetCW", nullptr, nullptr}};
    f.tabs()->setTabVisible(6, true);
    for (int i = 0; i < 7; ++i) {
      QWidget* sheet = f.tabs()->widget(i);
      QCOMPARE(sheet->objectName(), QString(pages[i].sheet));
      f.tabs()->setCurrentIndex(i);
      QCoreApplication::processEvents();
      if (pages[i].heading) {
        auto* heading = sheet->findChild<QLabel*>(pages[i].heading);
        QVERIFY(heading);
        QCOMPARE(heading->text(), QString(pages[i].text));
        QCOMPARE(heading->font(), style);
        QVERIFY(heading->width() >= heading->sizeHint().width());
      }
      const QRect inside = sheet->rect();
      for (QWidget* w : sheet->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(sheet) || w->inherits("QScrollBar") || w->objectName().startsWith("qt_")) continue;
        const QRect r(w->mapTo(sheet, QPoint(0, 0)), w->size());
        const QString where = QString(pages[i].sheet) + "/" + w->metaObject()->className() + ":" + w->objectName();
        QVERIFY2(inside.contains(r), qPrintable(where + " outside the page"));
        const int least = w->minimumHeight() > 0 ? w->minimumHeight()
                                                 : std::min(w->minimumSizeHint().height(), w->maximumHeight());
        QVERIFY2(w->height() >= least, qPrintable(where + " squashed"));
      }
    }
  }

  void menuItems() {
    Harness h;
    QCOMPARE(h.find<QAction>("Exit1")->text(), QString("Exit"));
    QCOMPARE(h.find<QAction>("Settings1")->text(), QString("Settings"));
    QCOMPARE(h.find<QAction>("About1")->text(), QString("About"));
    QCOMPARE(h.find<QMenu>("File1")->title(), QString("File"));
    const QStringList captions{"Main", "Instruction Test", "General", "Mpx and PID Filter",
                               "SDRAM and PSI Inserter", "PCR Corrector", "Manufacturer Setup"};
    const QStringList sheets{"TabSheetMain", "TabSheetInstrTest", "TabSheetNCO", "TabSheetIPRemux",
                             "TabSheetMpxPID", "TabSheetPCR", "TabSheetCW"};
    for (int i = 0; i < 7; ++i) {
      QCOMPARE(h.form().tabs()->tabText(i), captions[i]);
      QCOMPARE(h.form().tabs()->widget(i)->objectName(), sheets[i]);
    }
  }
};

QTEST_MAIN(Shell)
#include "test_shell.moc"
