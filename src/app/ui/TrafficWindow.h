#pragma once
// The traffic view: every datagram the endpoint sent, received or dropped, newest
// last, with the selected one's bytes and fields, each answer's time since its
// request, and a filter on the one-line decode. The log fills at any rate; the
// table takes in what arrived on a 100 ms tick (one insertion and one removal per
// tick) and, without a filter, decodes only the rows it paints.
#include <QAbstractTableModel>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>

#include "wire/AnswerMatch.h"
#include "wire/TrafficLog.h"

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class QTreeWidget;

class TrafficModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { ColNo, ColTime, ColDirection, ColPeer, ColLength, ColResponse, ColSummary, ColumnCount };
  explicit TrafficModel(const tessaly::TrafficLog& log, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Takes in what the log gained and lost since the last call.
  void sync();
  // Answers from now on are not paired with requests taken in before.
  void forgetRequests() { matcher_.clear(); }
  std::uint64_t seqAt(int row) const { return first_ + static_cast<std::uint64_t>(row); }
  // The row of a record number, or -1 when it is not shown.
  int rowOf(std::uint64_t seq) const {
    return seq >= first_ && seq < end_ ? static_cast<int>(seq - first_) : -1;
  }

 private:
  const tessaly::TrafficLog& log_;
  std::uint64_t first_, end_;  // the record numbers shown: [first_, end_)
  tessaly::AnswerMatcher matcher_;
  std::deque<std::int64_t> responseNs_;  // per row: time since the request, or kNoRequest
};

class TrafficWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TrafficWindow(tessaly::TrafficLog& log, QWidget* parent = nullptr);

  // Replace the save dialog (gets the suggested file name, gives the chosen path or
  // an empty text) and the message box (tests).
  void setSaveDialog(std::function<QString(const QString&)> dialog) { saveDialog_ = std::move(dialog); }
  void setMessageBox(std::function<void(const QString&)> box) { messageBox_ = std::move(box); }

  // One tick: takes in new records, keeps following or keeps the user's place.
  void refresh();
  void save();
  void clear();

  TrafficModel* model() const { return model_; }
  // What the table shows: the model's rows whose summary holds the filter text.
  QSortFilterProxyModel* shownModel() const { return shown_; }
  QLineEdit* filterEdit() const { return filter_; }
  QTableView* table() const { return table_; }
  QPlainTextEdit* hexView() const { return hex_; }
  QTreeWidget* fieldsView() const { return fields_; }
  QLabel* statusLabel() const { return status_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void showRecord(std::uint64_t seq);
  // Table rows and record numbers (0 and -1: none).
  std::uint64_t seqAtRow(int row) const;
  int rowOfSeq(std::uint64_t seq) const;
  void highlightField();

  tessaly::TrafficLog& log_;
  TrafficModel* model_;
  QSortFilterProxyModel* shown_;
  QLineEdit* filter_;
  QTableView* table_;
  QPlainTextEdit* hex_;
  QTreeWidget* fields_;
  QLabel* status_;
  QPushButton* save_;
  QPushButton* clear_;
  QTimer* tick_;
  std::function<QString(const QString&)> saveDialog_;
  std::function<void(const QString&)> messageBox_;
};
