#include "app/ui/ConfigTransfer.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <algorithm>

#include "app/ui/ConfigForms.h"
#include "app/ui/MainForm.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileYaml.h"
#include "settings/SettingsKeys.h"

using namespace tessaly;

namespace {

const QString kExportTitle = "Export configuration";
const QString kApplyTitle = "Apply configuration";
const QString kProfileFilter = "Board configurations (*.yml *.yaml);;All files (*)";

QString q(const std::string& s) { return QString::fromStdString(s); }

// " (at: Sector 3)" for a run that ended on a step.
QString atStep(const ProfileResult& r) { return r.step.empty() ? QString() : " (at: " + q(r.step) + ")"; }

// The settings file, whatever name or link leads to it.
bool isSettingsFile(const QString& path) {
  const QString settings = QFileInfo(QString::fromStdString(settingsPath(QDir::currentPath().toStdString())))
                               .canonicalFilePath();
  return !settings.isEmpty() && QFileInfo(path).canonicalFilePath() == settings;
}

}  // namespace

ConfigTransfer::ConfigTransfer(TMainForm& window)
    : window_(window),
      sequence_(window.session(), *this),
      exportForm_(new TExportConfigForm(&window)),
      summaryForm_(new TConfigSummaryForm(&window)),
      progressDialog_(new QProgressDialog(&window)),
      cancelButton_(new QPushButton("Cancel")) {
  progressDialog_->setObjectName("ConfigProgress");
  progressDialog_->setWindowModality(Qt::NonModal);
  progressDialog_->setAutoReset(false);
  progressDialog_->setAutoClose(false);
  progressDialog_->setMinimumDuration(0);
  progressDialog_->setMinimumWidth(420);
  cancelButton_->setObjectName("ButtonCancelConfig");
  progressDialog_->setCancelButton(cancelButton_);
  // Shown only by a run: the dialog's own timer would show it a few seconds after it was made.
  progressDialog_->reset();
  progressDialog_->hide();
  connect(progressDialog_, &QProgressDialog::canceled, this, [this] { cancel(); });

  saveFile_ = [this] {
    QFileDialog d(&window_, kExportTitle, QString(), kProfileFilter);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setDefaultSuffix("yml");
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
  };
  openFile_ = [this] { return QFileDialog::getOpenFileName(&window_, kApplyTitle, QString(), kProfileFilter); };
  question_ = [this](const QString& text) {
    return QMessageBox::question(&window_, kApplyTitle, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  };
}

ConfigTransfer::~ConfigTransfer() = default;

void ConfigTransfer::exportConfiguration() {
  if (running()) return;
  if (exportForm_->exec() != QDialog::Accepted) return;
  const QString path = saveFile_();
  if (path.isEmpty()) return;
  if (isSettingsFile(path)) {
    window_.message("Cannot write " + path + ": it is the settings file.");
    return;
  }
  // The file is replaced once whole, and only by a finished read; one that cannot be
  // written is refused before anything is sent.
  auto out = std::make_unique<QSaveFile>(path);
  if (!out->open(QIODevice::WriteOnly)) {
    window_.message("Cannot write " + path + ": " + out->errorString());
    return;
  }
  out_ = std::move(out);
  start(Job::Export, path);
  sequence_.startRead(exportForm_->request());
}

void ConfigTransfer::applyConfiguration() {
  if (running()) return;
  const QString path = openFile_();
  if (path.isEmpty()) return;
  profile::Profile p;
  try {
    p = profile::loadProfile(QFile::encodeName(path).toStdString());
  } catch (const profile::ProfileError& e) {
    window_.message(QString::fromLocal8Bit(e.what()) + "\n\nNothing was sent.");
    return;
  }
  if (profile::replacesUnnamedPidInputs(p)) {
    QStringList named;
    for (const auto& [input, entries] : p.pidFilter) named << QString::number(input);
    const QString text = QFileInfo(path).fileName() + " names the PID filter of input(s) " + named.join(',') +
                         " only. The erase clears all six inputs, so the others will end with no entries.\n\n"
                         "Apply it anyway?";
    if (!question_(text)) return;
  }
  plan_.clear();
  for (const profile::ApplyStep& s : profile::applyPlan(p)) plan_.push_back(s.what);
  start(Job::Apply, path);
  sequence_.startApply(p);
}

void ConfigTransfer::cancel() { sequence_.cancel(); }

void ConfigTransfer::start(Job job, const QString& path) {
  job_ = job;
  path_ = path;
  done_ = 0;
  const QueryTarget t = window_.session().target();
  target_ = QString("SDI %1 at %2").arg(t.sdiAddress).arg(q(t.deviceIp));
  window_.setConfigRunning(true);
  progressDialog_->reset();
  progressDialog_->setWindowTitle(job == Job::Export ? kExportTitle : kApplyTitle);
  progressDialog_->setRange(0, 1);
  progressDialog_->setValue(0);
  progressDialog_->setLabelText((job == Job::Export ? "Reading " + target_ : "Applying " + QFileInfo(path).fileName() +
                                                                                 " to " + target_) +
                                "\n");
  progressDialog_->show();
}

void ConfigTransfer::progress(const ProfileProgress& p) {
  done_ = p.done;
  const int total = static_cast<int>(std::max<std::size_t>(p.total, 1));
  if (progressDialog_->maximum() != total) progressDialog_->setMaximum(total);
  progressDialog_->setValue(static_cast<int>(std::min<std::size_t>(p.done, p.total)));
  const QString head = job_ == Job::Export ? "Reading " + target_
                                           : "Applying " + QFileInfo(path_).fileName() + " to " + target_;
  // The comparison at the end is no exchange of its own.
  progressDialog_->setLabelText(
      QString("%1\n%2 (%3 of %4)").arg(head, q(p.what)).arg(std::min(p.done + 1, p.total)).arg(p.total));
}

void ConfigTransfer::finished(const ProfileResult& r) {
  const Job job = job_;
  job_ = Job::None;
  progressDialog_->reset();
  progressDialog_->hide();
  window_.setConfigRunning(false);
  if (job == Job::Export) exportFinished(r);
  if (job == Job::Apply) applyFinished(r);
}

void ConfigTransfer::exportFinished(const ProfileResult& r) {
  std::unique_ptr<QSaveFile> out = std::move(out_);
  if (r.outcome != ProfileOutcome::Ok) {
    out->cancelWriting();
    if (r.outcome != ProfileOutcome::Cancelled)
      window_.message("The export from " + target_ + " stopped: " + q(r.reason) + atStep(r) + "\n\n" + path_ +
                      " was not written.");
    return;
  }
  // The same bytes as tessaly-cli config export writes.
  const std::string text = profile::writeProfile(r.read);
  const auto size = static_cast<qint64>(text.size());
  if (out->write(text.data(), size) != size || !out->commit()) {
    window_.message("Cannot write " + path_ + ": " + out->errorString());
    return;
  }
  window_.message("The configuration of " + target_ + " is in " + path_ + ".");
}

void ConfigTransfer::applyFinished(const ProfileResult& r) {
  const QString file = QFileInfo(path_).fileName();
  const std::size_t total = plan_.size();
  const bool checked = r.outcome == ProfileOutcome::Ok || r.outcome == ProfileOutcome::Differs;
  // Every instruction went in once the run reached the read-back.
  const std::size_t applied = checked ? total : std::min(done_, total);
  QString outcome;
  if (r.outcome == ProfileOutcome::Ok) {
    outcome =
        QString("%1: %2 instructions of %3 applied; the board matches the profile.").arg(target_).arg(total).arg(file);
  } else if (r.outcome == ProfileOutcome::Differs) {
    outcome = QString("%1: %2 instructions of %3 applied; the board does not match the profile: %4.")
                  .arg(target_)
                  .arg(total)
                  .arg(file, q(r.reason));
  } else if (r.outcome == ProfileOutcome::Cancelled) {
    outcome = applied < total ? QString("%1: cancelled after %2 of %3 instructions of %4; the board holds part of "
                                        "the profile.")
                                    .arg(target_)
                                    .arg(applied)
                                    .arg(total)
                                    .arg(file)
                              : QString("%1: %2 instructions of %3 applied; the check was cancelled.")
                                    .arg(target_)
                                    .arg(total)
                                    .arg(file);
  } else {
    outcome = applied < total ? QString("%1: %2 of %3 instructions of %4 applied, then the apply stopped: %5%6")
                                    .arg(target_)
                                    .arg(applied)
                                    .arg(total)
                                    .arg(file, q(r.reason), atStep(r))
                              : QString("%1: %2 instructions of %3 applied, but the check stopped: %4%5")
                                    .arg(target_)
                                    .arg(total)
                                    .arg(file, q(r.reason), atStep(r));
  }
  const std::vector<std::string> went(plan_.begin(), plan_.begin() + static_cast<std::ptrdiff_t>(applied));
  summaryForm_->present(outcome, went, r.differences);
}
