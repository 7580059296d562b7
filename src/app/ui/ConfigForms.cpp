#include "app/ui/ConfigForms.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/PageEdits.h"
#include "widgets/Widgets.h"

using namespace tessaly;

TExportConfigForm::TExportConfigForm(QWidget* parent) : QDialog(parent) {
  setObjectName("ExportConfigForm");
  setWindowTitle("Export configuration");
  setModal(true);

  auto* root = new QVBoxLayout(this);
  root->addWidget(makeLabel("LabelExportWhat",
                            "The board's status (inputs, output, SDRAM sectors, PCR corrector) and:", this));

  auto* pid = makeGroup("PID filter (1,024 read-backs per input)", this, "GroupPidFilter");
  auto* pl = new QGridLayout(pid);
  for (int n = 1; n <= 6; ++n) {
    CheckBoxPidInput[static_cast<std::size_t>(n)] =
        makeCheck(QString("CheckBoxPidInput%1").arg(n), QString("Input %1").arg(n), true, pid);
    pl->addWidget(CheckBoxPidInput[static_cast<std::size_t>(n)], (n - 1) / 3, (n - 1) % 3);
  }
  ButtonAll = makeButton("ButtonAll", "All", pid);
  ButtonNone = makeButton("ButtonNone", "None", pid);
  pl->addWidget(ButtonAll, 0, 3);
  pl->addWidget(ButtonNone, 1, 3);
  root->addWidget(pid);

  auto* psi = makeGroup("PSI flash (one read-back per address)", this, "GroupPsiFlash");
  auto* sl = new QVBoxLayout(psi);
  EditPsiRanges = makeEdit("EditPsiRanges", "", 0, psi);
  EditPsiRanges->setPlaceholderText("none, or addresses such as 0-4095,8192-8447");
  sl->addWidget(EditPsiRanges);
  root->addWidget(psi);

  CheckBoxIdentity = makeCheck("CheckBoxIdentity", "With identity (serial, type, user text, SDI address)", false, this);
  root->addWidget(CheckBoxIdentity);
  LabelProblem = makeLabel("LabelProblem", "", this);
  LabelProblem->setWordWrap(true);
  LabelProblem->setStyleSheet("color: red;");
  LabelProblem->hide();
  root->addWidget(LabelProblem);

  auto* buttons = new QHBoxLayout;
  ButtonOK = makeButton("ButtonOK", "OK", this);
  ButtonCancel = makeButton("ButtonCancel", "Cancel", this);
  ButtonOK->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);
  root->addLayout(buttons);

  connect(ButtonAll, &QPushButton::clicked, this, [this] {
    for (int n = 1; n <= 6; ++n) CheckBoxPidInput[static_cast<std::size_t>(n)]->setChecked(true);
  });
  connect(ButtonNone, &QPushButton::clicked, this, [this] {
    for (int n = 1; n <= 6; ++n) CheckBoxPidInput[static_cast<std::size_t>(n)]->setChecked(false);
  });
  connect(ButtonOK, &QPushButton::clicked, this, &TExportConfigForm::okClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TExportConfigForm::okClick() {
  std::string why;
  const auto ranges = edits::flashRanges(EditPsiRanges->text().toStdString(), why);
  if (!ranges) {
    LabelProblem->setText("PSI flash: " + QString::fromStdString(why) + ".");
    LabelProblem->show();
    EditPsiRanges->setFocus();
    return;
  }
  LabelProblem->clear();
  LabelProblem->hide();
  request_ = ProfileReadRequest{};
  for (int n = 1; n <= 6; ++n)
    if (CheckBoxPidInput[static_cast<std::size_t>(n)]->isChecked()) request_.pidInputs.insert(n);
  if (!ranges->empty()) request_.psiRanges = *ranges;
  request_.withIdentity = CheckBoxIdentity->isChecked();
  accept();
}

TConfigSummaryForm::TConfigSummaryForm(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigSummaryForm");
  setWindowTitle("Apply configuration");
  resize(540, 380);

  auto* root = new QVBoxLayout(this);
  LabelOutcome = makeLabel("LabelOutcome", "", this);
  LabelOutcome->setWordWrap(true);
  root->addWidget(LabelOutcome);
  root->addWidget(makeLabel("LabelApplied", "Instructions applied:", this));
  MemoApplied = new QPlainTextEdit(this);
  MemoApplied->setObjectName("MemoApplied");
  MemoApplied->setReadOnly(true);
  MemoApplied->setLineWrapMode(QPlainTextEdit::NoWrap);
  root->addWidget(MemoApplied, 1);
  LabelDifferences = makeLabel("LabelDifferences", "", this);
  root->addWidget(LabelDifferences);
  TableDifferences = new QTableWidget(0, 3, this);
  TableDifferences->setObjectName("TableDifferences");
  TableDifferences->setHorizontalHeaderLabels({"Field", "Profile", "Board"});
  TableDifferences->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  TableDifferences->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  TableDifferences->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  TableDifferences->verticalHeader()->hide();
  TableDifferences->setEditTriggers(QAbstractItemView::NoEditTriggers);
  root->addWidget(TableDifferences, 1);

  auto* buttons = new QHBoxLayout;
  ButtonClose = makeButton("ButtonClose", "Close", this);
  buttons->addStretch(1);
  buttons->addWidget(ButtonClose);
  root->addLayout(buttons);
  connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TConfigSummaryForm::present(const QString& outcome, const std::vector<std::string>& applied,
                                 const std::vector<profile::Difference>& differences) {
  LabelOutcome->setText(outcome);
  QStringList lines;
  for (const std::string& s : applied) lines << QString::fromStdString(s);
  MemoApplied->setPlainText(lines.isEmpty() ? QString("(none)") : lines.join('\n'));
  TableDifferences->setRowCount(static_cast<int>(differences.size()));
  int row = 0;
  for (const profile::Difference& d : differences) {
    int column = 0;
    for (const std::string* text : {&d.field, &d.expected, &d.actual})
      TableDifferences->setItem(row, column++, new QTableWidgetItem(QString::fromStdString(*text)));
    ++row;
  }
  TableDifferences->setVisible(!differences.empty());
  LabelDifferences->setText(differences.empty() ? QString()
                                                : QString("Fields that do not match (%1):").arg(differences.size()));
  LabelDifferences->setVisible(!differences.empty());
  show();
  raise();
  activateWindow();
}
