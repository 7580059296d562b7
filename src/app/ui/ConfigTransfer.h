#pragma once
// File > "Export configuration…" and "Apply configuration…": a board's configuration
// read into a profile file, and a profile file applied to the board, on the main
// window's device session and its target (the Main page's framing and SDI address,
// the device IP as a Query uses it). The exchanges are the device's ProfileSequence;
// this class asks for the file and the choices, shows the progress with Cancel, and
// reports: the file written (the same bytes tessaly-cli config export writes), or the
// summary of an apply (the instructions that went in, "matches" or what differs).
//
// While a run goes on the window starts no other exchange (see TMainForm::setConfigRunning).
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/ProfileSequence.h"
#include "profile/Profile.h"

class QProgressDialog;
class QPushButton;
class QSaveFile;
class TMainForm;
class TExportConfigForm;
class TConfigSummaryForm;

class ConfigTransfer : public QObject, private tessaly::ProfileSequenceListener {
  Q_OBJECT
 public:
  // Registers the sequence's transaction codes with the window's engine (once per window).
  explicit ConfigTransfer(TMainForm& window);
  ~ConfigTransfer() override;

  // File > "Export configuration…": the choices, the file to write, then the read.
  void exportConfiguration();
  // File > "Apply configuration…": the file, its checks, then the apply and the comparison.
  void applyConfiguration();
  // Ends a run at once, as the progress dialog's Cancel does.
  void cancel();
  bool running() const { return sequence_.running(); }

  // The file dialogs (tests replace them): the file chosen, or an empty text for none.
  using FileChooser = std::function<QString()>;
  void setSaveFileChooser(FileChooser c) { saveFile_ = std::move(c); }
  void setOpenFileChooser(FileChooser c) { openFile_ = std::move(c); }
  // A yes/no question (tests replace it): true for yes.
  void setQuestionBox(std::function<bool(const QString&)> box) { question_ = std::move(box); }

  TExportConfigForm* exportForm() const { return exportForm_; }
  TConfigSummaryForm* summaryForm() const { return summaryForm_; }
  QProgressDialog* progressDialog() const { return progressDialog_; }

 private:
  enum class Job { None, Export, Apply };
  void start(Job job, const QString& path);
  void progress(const tessaly::ProfileProgress& p) override;
  void finished(const tessaly::ProfileResult& r) override;
  void exportFinished(const tessaly::ProfileResult& r);
  void applyFinished(const tessaly::ProfileResult& r);

  TMainForm& window_;
  tessaly::ProfileSequence sequence_;
  TExportConfigForm* exportForm_;
  TConfigSummaryForm* summaryForm_;
  QProgressDialog* progressDialog_;
  QPushButton* cancelButton_;
  FileChooser saveFile_;
  FileChooser openFile_;
  std::function<bool(const QString&)> question_;

  // The run going on.
  Job job_ = Job::None;
  QString path_;
  QString target_;                          // "SDI 1 at 127.0.0.1"
  std::unique_ptr<QSaveFile> out_;          // export: the file, replaced once whole
  std::vector<std::string> plan_;           // apply: the instructions' progress lines
  std::size_t done_ = 0;                    // exchanges finished, as last told
};
