#include "app/ui/TrafficWindow.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "capture/CaptureFile.h"
#include "wire/DatagramDecode.h"

using namespace tessaly;

namespace {

constexpr int kTickMs = 100;
constexpr int kHexPerLine = 16;
constexpr int kHexColumn = 6;  // "0000  " before the first byte

QString address(std::uint32_t a, std::uint16_t port) {
  return QStringLiteral("%1.%2.%3.%4:%5")
      .arg(a >> 24)
      .arg((a >> 16) & 0xFF)
      .arg((a >> 8) & 0xFF)
      .arg(a & 0xFF)
      .arg(port);
}

QString hexDump(const Bytes& d) {
  QString out;
  out.reserve(static_cast<int>(d.size() / kHexPerLine + 1) * 72);
  for (std::size_t line = 0; line < d.size(); line += kHexPerLine) {
    out += QStringLiteral("%1  ").arg(line, 4, 16, QLatin1Char('0')).toUpper();
    QString ascii;
    for (std::size_t i = line; i < line + kHexPerLine; ++i) {
      if (i < d.size()) {
        out += QStringLiteral("%1 ").arg(d[i], 2, 16, QLatin1Char('0')).toUpper();
        ascii += (d[i] >= 0x20 && d[i] < 0x7F) ? QChar(d[i]) : QChar('.');
      } else {
        out += QStringLiteral("   ");
      }
    }
    out += ' ' + ascii + '\n';
  }
  return out;
}

}  // namespace

// ------------------------------------------------------------------ model

TrafficModel::TrafficModel(const TrafficLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), first_(log.firstSeq()), end_(log.firstSeq()) {}

int TrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(end_ - first_);
}

int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* names[] = {"No.", "Time", "Direction", "Peer", "Length", "Response", "Summary"};
  return section >= 0 && section < ColumnCount ? QString(names[section]) : QVariant();
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::uint64_t seq = seqAt(index.row());
  const TrafficRecord* r = log_.find(seq);  // null: evicted since the last tick
  if (!r) return {};
  if (role == Qt::TextAlignmentRole && index.column() <= ColTime)
    return int(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::TextAlignmentRole && (index.column() == ColLength || index.column() == ColResponse))
    return int(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ForegroundRole && r->direction == TrafficDirection::Dropped) return QColor(0xB0, 0x20, 0x20);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case ColNo: return QString::number(seq);
    case ColTime: return QString::number(static_cast<double>(r->monotonicNs - log_.originNs()) / 1e9, 'f', 6);
    case ColDirection:
      return r->direction == TrafficDirection::Sent       ? QStringLiteral("\u2192 sent")
             : r->direction == TrafficDirection::Received ? QStringLiteral("\u2190 received")
                                                          : QStringLiteral("dropped");
    case ColPeer: return address(r->peerAddress, r->peerPort);
    case ColLength: return QString::number(r->wireLength);
    case ColResponse: {
      const std::int64_t ns = responseNs_[static_cast<std::size_t>(index.row())];
      return ns == AnswerMatcher::kNoRequest ? QString() : QString::number(static_cast<double>(ns) / 1e9, 'f', 6);
    }
    case ColSummary: return QString::fromStdString(summarizeRecord(*r));
    default: return {};
  }
}

void TrafficModel::sync() {
  const std::uint64_t logFirst = log_.firstSeq(), logEnd = log_.endSeq();
  if (logFirst == first_ && logEnd == end_) return;
  const std::uint64_t gone = (logFirst < end_ ? logFirst : end_) - first_;
  if (gone > 0) {
    beginRemoveRows({}, 0, static_cast<int>(gone - 1));
    first_ += gone;
    responseNs_.erase(responseNs_.begin(), responseNs_.begin() + static_cast<std::ptrdiff_t>(gone));
    endRemoveRows();
  }
  if (first_ == end_) first_ = end_ = logFirst;  // everything shown has gone
  if (logEnd > end_) {
    beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(logEnd - end_) - 1);
    // Each record is paired once, in order, as it comes in.
    for (std::uint64_t seq = end_; seq < logEnd; ++seq) {
      const TrafficRecord* r = log_.find(seq);
      responseNs_.push_back(r ? matcher_.take(*r) : AnswerMatcher::kNoRequest);
    }
    end_ = logEnd;
    endInsertRows();
  }
}

// ------------------------------------------------------------------ window

TrafficWindow::TrafficWindow(TrafficLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log) {
  setObjectName("TrafficWindow");
  setWindowTitle("Traffic");
  resize(1120, 680);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

  model_ = new TrafficModel(log_, this);
  shown_ = new QSortFilterProxyModel(this);
  shown_->setSourceModel(model_);
  shown_->setFilterKeyColumn(TrafficModel::ColSummary);
  shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  filter_ = new QLineEdit(this);
  filter_->setObjectName("EditTrafficFilter");
  filter_->setPlaceholderText("Filter: text in the summary");
  filter_->setClearButtonEnabled(true);
  table_ = new QTableView(this);
  table_->setObjectName("TrafficTable");
  table_->setModel(shown_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  // Fixed row heights and column widths: nothing ever measures all rows.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  auto* header = table_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  const int digit = table_->fontMetrics().horizontalAdvance('0');
  table_->setColumnWidth(TrafficModel::ColNo, digit * 9);
  table_->setColumnWidth(TrafficModel::ColTime, digit * 13);
  table_->setColumnWidth(TrafficModel::ColDirection, digit * 12);
  table_->setColumnWidth(TrafficModel::ColPeer, digit * 22);
  table_->setColumnWidth(TrafficModel::ColLength, digit * 8);
  table_->setColumnWidth(TrafficModel::ColResponse, digit * 11);

  hex_ = new QPlainTextEdit(this);
  hex_->setObjectName("TrafficHex");
  hex_->setReadOnly(true);
  hex_->setFont(fixed);
  hex_->setLineWrapMode(QPlainTextEdit::NoWrap);

  fields_ = new QTreeWidget(this);
  fields_->setObjectName("TrafficFields");
  fields_->setColumnCount(4);
  fields_->setHeaderLabels({"Field", "Value", "Offset", "Length"});
  fields_->setColumnWidth(0, 200);
  fields_->setColumnWidth(1, 220);
  fields_->setColumnWidth(2, 50);
  fields_->setUniformRowHeights(true);

  auto* details = new QSplitter(Qt::Horizontal, this);
  details->addWidget(hex_);
  details->addWidget(fields_);
  details->setStretchFactor(0, 1);
  details->setStretchFactor(1, 1);
  // The whole dump line in view: 71 characters, the frame and the scroll bar.
  const int hexWidth = QFontMetrics(fixed).horizontalAdvance(QString(73, '0')) +
                       hex_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4 * hex_->frameWidth() + 8;
  details->setSizes({hexWidth, 1120 - hexWidth});
  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("TrafficSplitter");
  split->addWidget(table_);
  split->addWidget(details);
  split->setSizes({260, 380});

  status_ = new QLabel(this);
  status_->setObjectName("TrafficStatus");
  save_ = new QPushButton("Save", this);
  save_->setObjectName("ButtonTrafficSave");
  clear_ = new QPushButton("Clear", this);
  clear_->setObjectName("ButtonTrafficClear");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(save_);
  buttons->addWidget(clear_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(filter_);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);

  saveDialog_ = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, "Save traffic", suggested, "Capture files (*.pcap)");
  };
  messageBox_ = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  tick_ = new QTimer(this);
  tick_->setInterval(kTickMs);
  connect(tick_, &QTimer::timeout, this, &TrafficWindow::refresh);
  connect(save_, &QPushButton::clicked, this, &TrafficWindow::save);
  connect(clear_, &QPushButton::clicked, this, &TrafficWindow::clear);
  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) showRecord(seqAtRow(current.row()));
          });
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    shown_->setFilterFixedString(text);
    refresh();
  });
  connect(fields_, &QTreeWidget::currentItemChanged, this, [this] { highlightField(); });
  refresh();
}

void TrafficWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  refresh();
  tick_->start();
}

void TrafficWindow::hideEvent(QHideEvent* e) {
  tick_->stop();
  QWidget::hideEvent(e);
}

void TrafficWindow::refresh() {
  QScrollBar* bar = table_->verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  const std::uint64_t topSeq = seqAtRow(bar->value());
  model_->sync();
  table_->doItemsLayout();  // the scroll range follows the rows now, not on the next paint
  if (following) {
    table_->scrollToBottom();
  } else {
    // Keep the rows the user looks at where they are, even as older ones leave.
    const int row = rowOfSeq(topSeq);
    bar->setValue(row >= 0 ? row : 0);
  }
  QString status = QStringLiteral("%1 datagrams (%2 dropped)").arg(log_.size()).arg(log_.droppedCount());
  if (!filter_->text().isEmpty()) status += QStringLiteral(", %1 shown").arg(shown_->rowCount());
  status_->setText(status);
}

std::uint64_t TrafficWindow::seqAtRow(int row) const {
  const QModelIndex source = shown_->mapToSource(shown_->index(row, 0));
  return source.isValid() ? model_->seqAt(source.row()) : 0;
}

int TrafficWindow::rowOfSeq(std::uint64_t seq) const {
  const int row = model_->rowOf(seq);
  if (row < 0) return -1;
  const QModelIndex shown = shown_->mapFromSource(model_->index(row, 0));
  return shown.isValid() ? shown.row() : -1;
}

void TrafficWindow::showRecord(std::uint64_t seq) {
  const TrafficRecord* r = log_.find(seq);
  if (!r) return;
  hex_->setPlainText(hexDump(r->data));
  fields_->clear();
  const WireDecode d = decodeRecord(*r);
  auto* top = new QTreeWidgetItem(fields_, {"datagram", QString::fromStdString(d.summary), "0",
                                            QString::number(r->data.size())});
  top->setData(0, Qt::UserRole, 0);
  top->setData(0, Qt::UserRole + 1, static_cast<int>(r->data.size()));
  std::vector<QTreeWidgetItem*> parents{top};
  for (const WireField& f : d.fields) {
    const auto depth = static_cast<std::size_t>(f.depth < 0 ? 0 : f.depth);
    if (parents.size() > depth + 1) parents.resize(depth + 1);
    QTreeWidgetItem* parent = parents.back();
    auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(f.name), QString::fromStdString(f.value),
                                              QString::number(f.offset), QString::number(f.length)});
    item->setData(0, Qt::UserRole, static_cast<int>(f.offset));
    item->setData(0, Qt::UserRole + 1, static_cast<int>(f.length));
    parents.push_back(item);
  }
  fields_->expandToDepth(1);
}

void TrafficWindow::highlightField() {
  QList<QTextEdit::ExtraSelection> marks;
  const QTreeWidgetItem* item = fields_->currentItem();
  const int offset = item ? item->data(0, Qt::UserRole).toInt() : 0;
  const int length = item ? item->data(0, Qt::UserRole + 1).toInt() : 0;
  QTextCharFormat format;
  format.setBackground(QColor(0xFF, 0xE0, 0x80));
  for (int at = offset; at < offset + length;) {
    const int line = at / kHexPerLine;
    const int last = std::min(offset + length, (line + 1) * kHexPerLine) - 1;
    const QTextBlock block = hex_->document()->findBlockByNumber(line);
    if (!block.isValid()) break;
    QTextEdit::ExtraSelection mark;
    mark.format = format;
    mark.cursor = QTextCursor(block);
    mark.cursor.setPosition(block.position() + kHexColumn + (at % kHexPerLine) * 3);
    mark.cursor.setPosition(block.position() + kHexColumn + (last % kHexPerLine) * 3 + 2, QTextCursor::KeepAnchor);
    marks.push_back(mark);
    at = last + 1;
  }
  hex_->setExtraSelections(marks);
}

void TrafficWindow::save() {
  const QString suggested =
      QStringLiteral("traffic-%1.pcap").arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
  const QString path = saveDialog_ ? saveDialog_(suggested) : QString();
  if (path.isEmpty()) return;
  std::string error;
  if (!writeCaptureFile(path.toStdString(), log_.records(), &error))
    messageBox_(QStringLiteral("The capture could not be saved: %1").arg(QString::fromStdString(error)));
}

void TrafficWindow::clear() {
  log_.clear();
  model_->forgetRequests();
  hex_->clear();
  fields_->clear();
  refresh();
}
