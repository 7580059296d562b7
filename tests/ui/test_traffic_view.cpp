// The traffic view: opened from the menu, it lists what a Query sent and received,
// shows the selected datagram's bytes and fields, saves, clears, and follows new
// traffic only while the user has not scrolled away.
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTreeWidget>

#include "app/ui/TrafficWindow.h"
#include "helpers/UiHarness.h"

using uitest::Harness;
using uitest::StatusBlock;

namespace {
QString cell(TrafficModel* m, int row, int column) { return m->index(row, column).data().toString(); }

void addRecords(tessaly::TrafficLog& log, int n) {
  for (int i = 0; i < n; ++i) {
    tessaly::TrafficRecord r;
    r.direction = tessaly::TrafficDirection::Received;
    r.data = tessaly::Bytes{1, 2, 3};
    r.wireLength = 3;
    log.record(r);
  }
}
}  // namespace

class TrafficView : public QObject {
  Q_OBJECT
 private slots:
  void queryShowsInTheView() {
    Harness h;
    const auto actions = h.find<QMenuBar>("MainMenu")->actions();
    QStringList names;
    for (const QAction* a : actions) names << (a->menu() ? a->menu()->objectName() : a->objectName());
    QCOMPARE(names, (QStringList{"File1", "Settings1", "About1", "Traffic1"}));

    h.selectLink(1, 1);
    h.click("ButtonQuery");  // traffic before the window opens is kept
    h.inject(uitest::ddtoipAnswer(StatusBlock()));
    h.advance(10);
    h.find<QAction>("Traffic1")->trigger();
    TrafficWindow* w = h.form().trafficWindow();
    QVERIFY(w && w->isVisible());
    TrafficModel* m = w->model();
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(cell(m, 0, TrafficModel::ColDirection), QString("\u2192 sent"));
    QCOMPARE(cell(m, 0, TrafficModel::ColPeer), QString("127.0.0.1:%1").arg(h.devicePort));
    QCOMPARE(cell(m, 0, TrafficModel::ColSummary), QString("DDToIP read, SDI 1, 1024 bytes"));
    QCOMPARE(cell(m, 1, TrafficModel::ColDirection), QString("\u2190 received"));
    QCOMPARE(cell(m, 1, TrafficModel::ColLength), QString("1049"));
    QCOMPARE(cell(m, 1, TrafficModel::ColSummary), QString("DDToIP status answer, device h1A"));
    QCOMPARE(w->statusLabel()->text(), QString("2 datagrams (0 dropped)"));
    // The answer's time since its request; the request has none.
    QCOMPARE(cell(m, 0, TrafficModel::ColResponse), QString());
    bool isNumber = false;
    const double seconds = cell(m, 1, TrafficModel::ColResponse).toDouble(&isNumber);
    QVERIFY(isNumber && seconds >= 0 && seconds < 1);

    // The filter keeps the rows whose summary holds its text, in any case, and the
    // selection still shows the record in that row.
    w->filterEdit()->setText("STATUS ANSWER");
    QCOMPARE(w->shownModel()->rowCount(), 1);
    QCOMPARE(w->statusLabel()->text(), QString("2 datagrams (0 dropped), 1 shown"));
    w->table()->selectRow(0);
    QVERIFY(w->hexView()->toPlainText().startsWith("0000  44 44 54 6F 49 50 "));
    QCOMPARE(w->hexView()->document()->blockCount(), 1049 / 16 + 2);
    w->filterEdit()->clear();
    QCOMPARE(w->shownModel()->rowCount(), 2);

    w->table()->selectRow(1);
    QVERIFY(w->hexView()->toPlainText().startsWith("0000  44 44 54 6F 49 50 "));
    QCOMPARE(w->hexView()->document()->blockCount(), 1049 / 16 + 2);  // a last partial line, then the end
    const auto block = w->fieldsView()->findItems("status block", Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(block.size(), 1);
    QCOMPARE(block[0]->text(2), QString("25"));
    QVERIFY(!w->fieldsView()->findItems("serial number", Qt::MatchExactly | Qt::MatchRecursive).isEmpty());

    // Save writes through the replaced dialog; a failure says why.
    QString suggested;
    const QString path = h.dir.file("saved.pcap");
    w->setSaveDialog([&](const QString& s) {
      suggested = s;
      return path;
    });
    QStringList errors;
    w->setMessageBox([&](const QString& t) { errors << t; });
    QTest::mouseClick(w->findChild<QPushButton*>("ButtonTrafficSave"), Qt::LeftButton);
    QVERIFY(QRegularExpression("^traffic-\\d{8}-\\d{6}\\.pcap$").match(suggested).hasMatch());
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QVERIFY(QFileInfo(path).size() > 0);
    w->setSaveDialog([&](const QString& s) { return h.dir.file("no/such/dir/") + s; });
    errors.clear();
    w->save();
    QCOMPARE(errors.size(), 1);

    QTest::mouseClick(w->findChild<QPushButton*>("ButtonTrafficClear"), Qt::LeftButton);
    QCOMPARE(m->rowCount(), 0);
    QVERIFY(w->hexView()->toPlainText().isEmpty());
    QCOMPARE(w->statusLabel()->text(), QString("0 datagrams (0 dropped)"));
    QCOMPARE(h.nonLoopbackSends(), 0);
  }

  void followsUnlessScrolledAway() {
    Harness h;
    h.form().Traffic1Click();
    TrafficWindow* w = h.form().trafficWindow();
    tessaly::TrafficLog& log = h.form().trafficLog();
    QScrollBar* bar = w->table()->verticalScrollBar();
    addRecords(log, 1000);
    w->refresh();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());  // follows
    bar->setValue(100);
    const QString top = cell(w->model(), bar->value(), TrafficModel::ColNo);
    addRecords(log, 1000);
    w->refresh();
    QCOMPARE(cell(w->model(), bar->value(), TrafficModel::ColNo), top);  // stays where the user is
    bar->setValue(bar->maximum());
    addRecords(log, 500);
    w->refresh();
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(cell(w->model(), w->model()->rowCount() - 1, TrafficModel::ColNo), QString::number(log.endSeq() - 1));
  }

  void keepsItsPlaceWhileOldRecordsLeave() {
    Harness h;
    h.form().Traffic1Click();
    TrafficWindow* w = h.form().trafficWindow();
    tessaly::TrafficLog& log = h.form().trafficLog();
    addRecords(log, 100000);
    w->refresh();
    QScrollBar* bar = w->table()->verticalScrollBar();
    bar->setValue(5000);
    const QString top = cell(w->model(), 5000, TrafficModel::ColNo);
    addRecords(log, 1000);  // the oldest 1,000 leave the log
    w->refresh();
    QCOMPARE(w->model()->rowCount(), 100000);
    QCOMPARE(bar->value(), 4000);
    QCOMPARE(cell(w->model(), bar->value(), TrafficModel::ColNo), top);
    addRecords(log, 200000);  // more than the log holds between two ticks
    w->refresh();
    QCOMPARE(w->model()->rowCount(), 100000);
    QCOMPARE(cell(w->model(), 0, TrafficModel::ColNo), QString::number(log.firstSeq()));
  }
};

QTEST_MAIN(TrafficView)
#include "test_traffic_view.moc"
