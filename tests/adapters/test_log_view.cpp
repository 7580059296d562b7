// The long-memo log view: keeps every line, scrolls, selects and copies.
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QtTest>

#include "widgets/LogView.h"

class LogViewTest : public QObject {
  Q_OBJECT
 private slots:
  void keepsLinesInOrderAcrossChunks();
  void followsTheEndUnlessScrolledAway();
  void selectsAndCopiesLikeAMemo();
  void storageStaysCloseToTheText();
};

void LogViewTest::keepsLinesInOrderAcrossChunks() {
  TLogView view("MemoInfo", {"Step 1.", "", "Step 4."});
  QCOMPARE(view.lines(), (QStringList{"Step 1.", "", "Step 4."}));
  view.clearLines();
  QCOMPARE(view.lineCount(), 0);
  // Enough text to spill over several chunks; a line never straddles two.
  std::vector<std::string> report;
  for (int i = 0; i < 100; ++i) report.push_back(" Input Packets: " + std::to_string(i) + std::string(200, '.'));
  for (int r = 0; r < 200; ++r) view.addLines(report);
  view.addLine(QString::fromUtf8("Grüße"));
  QCOMPARE(view.lineCount(), 20001);
  QCOMPARE(view.line(0), QString::fromStdString(report[0]));
  QCOMPARE(view.line(19999), QString::fromStdString(report[99]));
  QCOMPARE(view.line(20000), QString::fromUtf8("Grüße"));
  QCOMPARE(view.line(20001), QString());
  QCOMPARE(view.line(-1), QString());
}

void LogViewTest::followsTheEndUnlessScrolledAway() {
  TLogView view("MemoInfo");
  view.resize(300, 200);
  view.show();
  for (int i = 0; i < 100; ++i) view.addLine(QString::number(i));
  QScrollBar* v = view.verticalScrollBar();
  QVERIFY(v->maximum() > 0);
  QCOMPARE(v->value(), v->maximum());
  v->setValue(3);
  view.addLine("more");
  QCOMPARE(v->value(), 3);  // the reader stays where he scrolled to
}

void LogViewTest::selectsAndCopiesLikeAMemo() {
  TLogView view("MemoInfo", {"alpha", "beta", "gamma"});
  view.resize(300, 200);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  QCOMPARE(view.selectedText(), QString());
  view.selectAll();
  QCOMPARE(view.selectedText(), QString("alpha\nbeta\ngamma"));
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(QApplication::clipboard()->text(), QString("alpha\nbeta\ngamma"));
  // A drag from the start of the first line into the second.
  const int lh = view.fontMetrics().lineSpacing();
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(1, lh / 2));
  QMouseEvent move(QEvent::MouseMove, QPointF(view.fontMetrics().horizontalAdvance("be") + 4, lh + lh / 2),
                   view.viewport()->mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view.viewport(), &move);
  QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(20, lh + lh / 2));
  QCOMPARE(view.selectedText(), QString("alpha\nbe"));
}

void LogViewTest::storageStaysCloseToTheText() {
  TLogView view("MemoInfo");
  std::vector<std::string> report(125, " Syncron Error: 0        ");
  std::size_t textBytes = 0;
  for (const auto& l : report) textBytes += l.size();
  for (int r = 0; r < 3600; ++r) view.addLines(report);
  QCOMPARE(view.lineCount(), 450000);
  // Text plus a 12-byte index entry per line, with at most one chunk of slack.
  QVERIFY(view.storageBytes() < textBytes * 3600 + 450000 * 16 + (2u << 20));
}

QTEST_MAIN(LogViewTest)
#include "test_log_view.moc"
