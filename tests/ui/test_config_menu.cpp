// File > "Export configuration…" and "Apply configuration…" against the in-process
// board on virtual time: an applied profile reads back as matching and exports as a
// file that parses and agrees with it; a profile that cannot be applied is refused
// before anything is sent; a run that is cancelled or meets a silent board stops
// sending, and the window is usable again. Then the production window against
// tessaly-emulator on 127.0.0.1. With TESSALY_SCREENSHOT_DIR set they also save the
// export dialog, the progress and the summaries (scripts/screenshots.sh).
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <set>

#include "app/ui/ConfigForms.h"
#include "app/ui/ConfigTransfer.h"
#include "helpers/Emulator.h"
#include "helpers/InProcessBoard.h"
#include "helpers/ProfileTexts.h"
#include "helpers/UiHarness.h"
#include "link/Framing.h"
#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileYaml.h"

using uitest::EmulatorProcess;
using uitest::Harness;
using uitest::InProcessBoard;

namespace {

// A PSI record's 204-byte packet in hex.
QString psiPacket() {
  QString hex = "47400010";
  for (int k = 4; k < 204; ++k) hex += QString("%1").arg(k & 0xFF, 2, 16, QChar('0'));
  return hex;
}

// What the status holds, the PID filter of input 1 and two PSI flash addresses;
// `identity`: an identity line.
QString boardProfile(const QString& identity = {}) {
  return "profile: 1\n" + identity + QString(kStatusInputsYaml) +
         "output: {format: 204, clock: pll, priority: high, pll_hz: 3000000}\n"
         "sdram_sectors:\n"
         "  1: {enabled: true, start: 0, end: 4095}\n"
         "  7: {enabled: true, start: 8192, end: 9000}\n"
         "pcr_corrector: {mode: direct, test_pid: 1000}\n"
         "pid_filter:\n"
         "  1: [{pid: 17}, {pid: 500, remap: 777}, {pid: 8191}]\n"
         "psi:\n"
         "  ranges: [0-1]\n"
         "  records:\n"
         "    - {address: 1, timer_ms: 10, auto_cc: true, packet: \"" +
         psiPacket() + "\"}\n";
}

tessaly::emu::EmulatorOptions quickBoard(double drop = 0.0) {
  tessaly::emu::EmulatorOptions o;
  o.eraseMs = 300;
  o.drop = drop;
  o.seed = 7;
  return o;
}

// The same without the PID filter and the PSI flash (quick on a real network).
QString statusProfile() {
  QString p = boardProfile();
  return p.left(p.indexOf("pid_filter:"));
}

ConfigTransfer& transfer(Harness& h) { return *h.form().configTransfer(); }

// Runs the virtual clock until the configuration run ends (bounded).
void settle(Harness& h) {
  for (int steps = 0; transfer(h).running() && steps < 200000; ++steps) h.advance(20);
  QVERIFY2(!transfer(h).running(), "the configuration run did not end");
}

// File > Apply configuration… with `file`; a partial PID filter is confirmed.
void apply(Harness& h, const QString& file) {
  transfer(h).setOpenFileChooser([file] { return file; });
  transfer(h).setQuestionBox([](const QString&) { return true; });
  h.find<QAction>("ApplyConfig1")->trigger();
}

// File > Export configuration… into `file`, with the PID filter of `inputs` and the PSI text.
void exportTo(Harness& h, const QString& file, const std::set<int>& inputs, const QString& psi,
              bool withIdentity = false) {
  TExportConfigForm* form = transfer(h).exportForm();
  form->CheckBoxIdentity->setChecked(withIdentity);
  for (int n = 1; n <= 6; ++n) form->CheckBoxPidInput[static_cast<std::size_t>(n)]->setChecked(inputs.count(n) > 0);
  form->EditPsiRanges->setText(psi);
  transfer(h).setSaveFileChooser([file] { return file; });
  h.answerModal([&] { h.find<QAction>("ExportConfig1")->trigger(); }, "ExportConfigForm", "ButtonOK");
}

bool windowUsable(Harness& h) {
  return h.find<QPushButton>("ButtonQuery")->isEnabled() && h.find<QPushButton>("ButtonST1")->isEnabled() &&
         h.find<QAction>("ExportConfig1")->isEnabled() &&
         h.find<QAction>("ApplyConfig1")->isEnabled() && h.find<QAction>("Settings1")->isEnabled();
}

}  // namespace

class ConfigMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void menuEntries() {
    Harness h;
    const QList<QAction*> entries = h.find<QMenu>("File1")->actions();
    QStringList names;
    for (QAction* a : entries)
      if (!a->isSeparator()) names << a->objectName() + "|" + a->text();
    QCOMPARE(names, QStringList({"ExportConfig1|Export configuration\u2026", "ApplyConfig1|Apply configuration\u2026",
                                 "Exit1|Exit"}));
  }

  // Applied, the board matches (a running chart stopped first, the window's other
  // exchanges shut meanwhile); exported, the file is canonical, parses, and agrees with
  // the profile on everything it names. An identity that moves the board to another
  // SDI address moves the Main page with it; the device IP follows the Main page still.
  void applyThenExport_data() {
    QTest::addColumn<QString>("identity");
    QTest::addColumn<int>("sdiAfter");
    QTest::newRow("without identity") << QString() << 1;
    QTest::newRow("identity at SDI 2")
        << "identity: {serial: 20417, type: 4852, user_text: \"Rack 3\", sdi_address: 2}\n" << 2;
  }
  void applyThenExport() {
    QFETCH(QString, identity);
    QFETCH(int, sdiAfter);
    Harness h;
    InProcessBoard board(h, quickBoard());
    h.form().tabs()->setCurrentIndex(TMainForm::TabPcr);
    h.click("Button2");  // the chart's Start
    QVERIFY(h.find<QPushButton>("Button3")->isEnabled());
    h.dir.write("board.yml", boardProfile(identity));
    apply(h, h.dir.file("board.yml"));
    QVERIFY(transfer(h).progressDialog()->isVisible());
    QVERIFY(!windowUsable(h));
    settle(h);
    TConfigSummaryForm* summary = transfer(h).summaryForm();
    QVERIFY(summary->isVisible());
    QVERIFY2(summary->LabelOutcome->text().endsWith("applied; the board matches the profile."),
             qPrintable(summary->LabelOutcome->text()));
    QVERIFY(summary->MemoApplied->toPlainText().contains("input 1 PID 500 -> 777"));
    QVERIFY(!summary->TableDifferences->isVisible());
    QVERIFY(windowUsable(h));
    QVERIFY(!transfer(h).progressDialog()->isVisible());
    QVERIFY(!h.find<QPushButton>("Button3")->isEnabled());  // the chart stopped
    QCOMPARE(h.find<TRadioGroup>("RadioGroup3")->itemIndex(), sdiAfter - 1);

    exportTo(h, h.dir.file("read.yml"), {1}, "0-1", !identity.isEmpty());
    settle(h);
    QCOMPARE(h.messages().value(0),
             QString("The configuration of SDI %1 at 127.0.0.1 is in %2.").arg(sdiAfter).arg(h.dir.file("read.yml")));
    const std::string text = h.dir.read("read.yml").toStdString();
    const auto expected = tessaly::profile::parseProfile(boardProfile(identity).toStdString(), "board.yml");
    const auto exported = tessaly::profile::parseProfile(text, "read.yml");
    QCOMPARE(tessaly::profile::writeProfile(exported), text);
    QVERIFY(tessaly::profile::diffProfiles(expected, exported).empty());
    QVERIFY(exported.pidFilter.count(1) && exported.pidFilter.size() == 1);
    QCOMPARE(exported.identity.has_value(), !identity.isEmpty());
    h.form().session().link().ipExtension = 2;
    QCOMPARE(h.form().session().target().deviceIp, std::string("127.0.0.2"));
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  // The board changed by someone else between the apply and its read-back: the
  // summary lists the instructions and the field that differs, profile against board.
  void driftShowsInTheSummary() {
    Harness h;
    InProcessBoard board(h, quickBoard());
    h.dir.write("board.yml", statusProfile());
    namespace pf = tessaly::profile;
    const pf::Profile p = pf::parseProfile(statusProfile().toStdString(), "board.yml");
    const auto load = [](const pf::ApplyStep& s) {
      return tessaly::encodeLoadDatagram(tessaly::Framing::CwNet, s.label, 1, s.sdiMessage);
    };
    // The output's instruction with 188-byte packets, sent by another client as the apply's last one goes.
    pf::Profile other = p;
    other.output->packetSize = 188;
    tessaly::Bytes drift;
    for (const pf::ApplyStep& s : pf::applyPlan(other))
      if (s.what.rfind("Output", 0) == 0) drift = load(s);
    QVERIFY(!drift.empty());
    const tessaly::Bytes last = load(pf::applyPlan(p).back());
    auto forward = h.endpoint.onSend;
    h.endpoint.onSend = [&, forward](const tessaly::testing::SentDatagram& s) {
      if (s.data == last) board.emulator().receive(drift, h.clock.now());
      forward(s);
    };
    apply(h, h.dir.file("board.yml"));
    settle(h);
    TConfigSummaryForm* summary = transfer(h).summaryForm();
    QCOMPARE(summary->LabelOutcome->text(), QString("SDI 1 at 127.0.0.1: 6 instructions of board.yml applied; the "
                                                    "board does not match the profile: 1 field differs."));
    QCOMPARE(summary->MemoApplied->toPlainText().split('\n').size(), 6);
    QVERIFY(summary->TableDifferences->isVisible());
    QCOMPARE(summary->TableDifferences->rowCount(), 1);
    QStringList row;
    for (int c = 0; c < 3; ++c) row << summary->TableDifferences->item(0, c)->text();
    QCOMPARE(row, QStringList({"output.format", "204", "188"}));
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    if (!out.isEmpty()) {
      QTest::qWait(150);
      QVERIFY(summary->grab().save(out + "/config-apply-differs.png"));
    }
  }

  // Nothing is sent for a profile that cannot be read or a partial PID filter the
  // user does not confirm; a message names the file, line and column.
  void refusedBeforeAnythingIsSent_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("message");  // a regular expression; empty: no message
    QTest::newRow("unknown key") << "pcr_corrector:" << "pcr_correktor:"
                                 << "^.*/board\\.yml:13:1: unknown key 'pcr_correktor'";
    QTest::newRow("PID twice") << "{pid: 8191}" << "{pid: 17}"
                               << "^.*/board\\.yml:15:48: pid_filter input 1: PID 17 is named twice";
    QTest::newRow("overlapping sectors") << "start: 8192" << "start: 4000" << "^.*/board\\.yml:\\d+:\\d+: ";
    QTest::newRow("PLL out of reach") << "pll_hz: 3000000" << "pll_hz: 50000000" << "^.*/board\\.yml:9:\\d+: ";
    QTest::newRow("partial PID filter declined") << "" << "" << "";
  }
  void refusedBeforeAnythingIsSent() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, message);
    Harness h;
    InProcessBoard board(h, quickBoard());
    QString text = boardProfile();
    if (!from.isEmpty()) text.replace(from, to);
    h.dir.write("board.yml", text);
    QStringList questions;
    transfer(h).setOpenFileChooser([&] { return h.dir.file("board.yml"); });
    transfer(h).setQuestionBox([&](const QString& q) {
      questions << q;
      return false;
    });
    h.find<QAction>("ApplyConfig1")->trigger();
    h.advance(5000);
    QCOMPARE(h.endpoint.sent.size(), std::size_t{0});
    QVERIFY(!transfer(h).running());
    QVERIFY(!transfer(h).summaryForm()->isVisible());
    QVERIFY(windowUsable(h));
    if (message.isEmpty()) {
      QCOMPARE(h.messages().size(), 0);
      QCOMPARE(questions.size(), 1);
      QVERIFY2(questions[0].startsWith("board.yml names the PID filter of input(s) 1 only."), qPrintable(questions[0]));
    } else {
      QCOMPARE(h.messages().size(), 1);
      QVERIFY2(QRegularExpression(message).match(h.messages()[0]).hasMatch(), qPrintable(h.messages()[0]));
      QVERIFY(h.messages()[0].endsWith("\n\nNothing was sent."));
    }
  }

  // A run that is cancelled, or whose board falls silent, sends nothing more; an
  // export writes no file; the window takes Queries again, answered as before.
  void stoppedRuns_data() {
    QTest::addColumn<bool>("exporting");
    QTest::addColumn<double>("drop");
    QTest::addColumn<QString>("outcome");  // the message, or the summary's line (a regular expression)
    QTest::newRow("export cancelled") << true << 0.0 << "";
    QTest::newRow("apply cancelled")
        << false << 0.0 << "^SDI 1 at 127\\.0\\.0\\.1: cancelled after \\d+ of \\d+ instructions of board\\.yml; ";
    QTest::newRow("export from a silent board")
        << true << 1.0
        << "^The export from SDI 1 at 127\\.0\\.0\\.1 stopped: No answer received \\(in 1s\\)\\. \\(at: Status\\)"
           "\n\n.*/read\\.yml was not written\\.$";
    QTest::newRow("apply to a silent board")
        << false << 1.0
        << "^SDI 1 at 127\\.0\\.0\\.1: 0 of \\d+ instructions of board\\.yml applied, then the apply stopped: "
           "No SDI IRQ received \\(in 1s\\)\\. \\(at: Input";
  }
  void stoppedRuns() {
    QFETCH(bool, exporting);
    QFETCH(double, drop);
    QFETCH(QString, outcome);
    Harness h;
    InProcessBoard board(h, quickBoard(drop));
    h.dir.write("board.yml", boardProfile());
    if (exporting)
      exportTo(h, h.dir.file("read.yml"), {1, 2}, "none");
    else
      apply(h, h.dir.file("board.yml"));
    if (drop == 0.0) {
      for (int steps = 0; h.endpoint.sent.size() < 12 && steps < 1000; ++steps) h.advance(1);
      QVERIFY(transfer(h).running());
      QTest::mouseClick(transfer(h).progressDialog()->findChild<QPushButton*>("ButtonCancelConfig"), Qt::LeftButton);
      QVERIFY(!transfer(h).running());
    }
    settle(h);
    const std::size_t sent = h.endpoint.sent.size();
    h.advance(10000);
    QCOMPARE(h.endpoint.sent.size(), sent);
    QVERIFY(!transfer(h).progressDialog()->isVisible());
    QVERIFY(windowUsable(h));
    QVERIFY(!QFile::exists(h.dir.file("read.yml")));
    const QRegularExpression expected(outcome, QRegularExpression::DotMatchesEverythingOption);
    if (exporting) {
      QCOMPARE(h.messages().size(), outcome.isEmpty() ? 0 : 1);
      if (!outcome.isEmpty()) QVERIFY2(expected.match(h.messages()[0]).hasMatch(), qPrintable(h.messages()[0]));
    } else {
      const QString line = transfer(h).summaryForm()->LabelOutcome->text();
      QVERIFY2(transfer(h).summaryForm()->isVisible() && expected.match(line).hasMatch(), qPrintable(line));
    }
    if (drop == 0.0) {
      // No late answer of the cancelled run is taken for the Query.
      h.click("ButtonQuery");
      h.advance(1100);
      QVERIFY2(h.text("LabelD").startsWith("Device Code: h1A"), qPrintable(h.text("LabelD")));
    }
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void liveAgainstTheEmulator() {
    if (!EmulatorProcess::available()) QSKIP("tessaly-emulator is not built");
    const QString out = qEnvironmentVariable("TESSALY_SCREENSHOT_DIR");
    EmulatorProcess emu;
    QVERIFY(emu.start());
    uitest::LivePanel p(emu.port(), 0);
    QStringList messages;
    p.form->setMessageBox([&](const QString& m) { messages << m; });
    ConfigTransfer& t = *p.form->configTransfer();
    p.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.form.get()));
    const auto save = [&](QWidget* w, const char* name) {
      if (!out.isEmpty()) QVERIFY(w->grab().save(out + "/" + name + ".png"));
    };

    p.dir.write("board.yml", statusProfile());
    t.setOpenFileChooser([&] { return p.dir.file("board.yml"); });
    p.find<QAction>("ApplyConfig1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!t.running(), 10000);
    QVERIFY2(t.summaryForm()->LabelOutcome->text().endsWith("the board matches the profile."),
             qPrintable(t.summaryForm()->LabelOutcome->text()));
    t.summaryForm()->hide();

    // The PID filter of input 1 takes seconds: its progress, then Cancel.
    TExportConfigForm* form = t.exportForm();
    for (int n = 1; n <= 6; ++n) form->CheckBoxPidInput[static_cast<std::size_t>(n)]->setChecked(n == 1);
    form->EditPsiRanges->setText("0-4095");
    t.setSaveFileChooser([&] { return p.dir.file("read.yml"); });
    QTimer::singleShot(0, form, [&] {
      QTest::qWait(150);
      save(form, "config-export");
      QTest::mouseClick(form->ButtonOK, Qt::LeftButton);
    });
    p.find<QAction>("ExportConfig1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(t.progressDialog()->value() > 50, 15000);
    save(t.progressDialog(), "config-progress");
    QVERIFY(t.running());
    QTest::mouseClick(t.progressDialog()->findChild<QPushButton*>("ButtonCancelConfig"), Qt::LeftButton);
    QVERIFY(!t.running());
    QVERIFY(!QFile::exists(p.dir.file("read.yml")));

    // The status only: the file agrees with the profile applied.
    for (int n = 1; n <= 6; ++n) form->CheckBoxPidInput[static_cast<std::size_t>(n)]->setChecked(false);
    form->EditPsiRanges->setText("none");
    QTimer::singleShot(0, form, [form] { QTest::mouseClick(form->ButtonOK, Qt::LeftButton); });
    p.find<QAction>("ExportConfig1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!t.running(), 10000);
    QCOMPARE(messages.value(0), "The configuration of SDI 1 at 127.0.0.1 is in " + p.dir.file("read.yml") + ".");
    const auto exported = tessaly::profile::loadProfile(p.dir.file("read.yml").toStdString());
    QVERIFY(tessaly::profile::diffProfiles(
                tessaly::profile::parseProfile(statusProfile().toStdString(), "board.yml"), exported)
                .empty());
    QVERIFY(exported.pidFilter.empty() && !exported.psiRanges);
  }
};

QTEST_MAIN(ConfigMenuTest)
#include "test_config_menu.moc"
