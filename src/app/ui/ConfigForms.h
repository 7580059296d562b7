#pragma once
// The dialogs of File > "Export configuration…" and "Apply configuration…": what an
// export reads beside the status (the PID filter inputs, PSI flash ranges, the
// identity), and the summary of an apply (the instructions that went in, then what
// the read-back found: "matches" or the fields that differ).
#include <QDialog>
#include <QString>
#include <array>
#include <string>
#include <vector>

#include "device/ProfileSequence.h"
#include "profile/ProfileDiff.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class TExportConfigForm : public QDialog {
  Q_OBJECT
 public:
  explicit TExportConfigForm(QWidget* parent = nullptr);

  // What the choices ask for; valid once the dialog was accepted (OK refuses a PSI
  // flash text that does not read and says why in LabelProblem).
  tessaly::ProfileReadRequest request() const { return request_; }

  std::array<QCheckBox*, 7> CheckBoxPidInput{};  // [1..6]
  QLineEdit* EditPsiRanges;
  QCheckBox* CheckBoxIdentity;
  QLabel* LabelProblem;
  QPushButton* ButtonAll;
  QPushButton* ButtonNone;
  QPushButton* ButtonOK;
  QPushButton* ButtonCancel;

 private:
  void okClick();
  tessaly::ProfileReadRequest request_;
};

class TConfigSummaryForm : public QDialog {
  Q_OBJECT
 public:
  explicit TConfigSummaryForm(QWidget* parent = nullptr);

  // `outcome`: one line on what became of the run; `applied`: the instructions that
  // went in, in order; `differences`: what the read-back found against the profile.
  void present(const QString& outcome, const std::vector<std::string>& applied,
               const std::vector<tessaly::profile::Difference>& differences);

  QLabel* LabelOutcome;
  QPlainTextEdit* MemoApplied;
  QLabel* LabelDifferences;
  QTableWidget* TableDifferences;
  QPushButton* ButtonClose;
};
