#include "helpers/UiHarness.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include "app/ui/SettingsForm.h"

namespace uitest {

int freeUdpPort() {
  QUdpSocket s;
  if (!s.bind(QHostAddress::LocalHost, 0)) return 0;
  return s.localPort();
}

QString loopbackSettings(int hostPort, int devicePort, bool showManufacturerPage, int framing) {
  return QString("[Settings]\nSaveOnExit=1\nMyPort=%1\nDevicePort=%2\n"
                 "[Main]\nACKProt=%4\nIPBase=127.0.0.\nIPExt=1\nIPText=127.0.0.1\n"
                 "[MFSetup]\nShow=%3\n")
      .arg(hostPort)
      .arg(devicePort)
      .arg(showManufacturerPage ? 1 : 0)
      .arg(framing);
}

TempWorkDir::TempWorkDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
TempWorkDir::~TempWorkDir() { QDir::setCurrent(previous_); }

void TempWorkDir::write(const QString& name, const QString& text) const {
  QFile f(file(name));
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(file(name)));
  f.write(text.toUtf8());
}

QString TempWorkDir::read(const QString& name) const {
  QFile f(file(name));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

Harness::Harness(const Options& options) {
  hostPort = freeUdpPort();
  do devicePort = freeUdpPort();
  while (devicePort == hostPort);
  if (options.settingsIsDirectory)
    QDir(dir.path()).mkdir("Settings.ini");
  else if (!options.settingsText.isEmpty())
    dir.write("Settings.ini", options.settingsText);
  else if (options.writeSettings)
    dir.write("Settings.ini",
              loopbackSettings(hostPort, devicePort, options.showManufacturerPage) + options.extraSettings);
  form_ = std::make_unique<TMainForm>(timer, endpoint);
  form_->setMessageBox([this](const QString& m) { messages_ << m; });
  form_->settingsForm()->setInputBox([this](const QString& caption, const QString& prompt, QString& text) {
    inputCaptions_ << caption + "|" + prompt;
    if (inputs_.empty()) return false;
    auto next = inputs_.front();
    inputs_.erase(inputs_.begin());
    if (!next) return false;
    text = *next;
    return true;
  });
}

Harness::~Harness() {
  form_.reset();
}

QString Harness::text(const QString& name) const { return textOf(*form_, name); }

QString textOf(const QWidget& root, const QString& name) {
  QObject* o = root.findChild<QObject*>(name);
  if (auto* p = qobject_cast<TPanel*>(o)) return p->caption();
  if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
  qWarning("no text control named %s", qPrintable(name));
  return {};
}

void Harness::click(const QString& buttonName) {
  auto* b = find<QAbstractButton>(buttonName);
  if (b) QTest::mouseClick(b, Qt::LeftButton);
}

void Harness::selectLink(int framing, int sdiAddress) {
  find<TRadioGroup>("RadioGroupAP")->setItemIndex(framing);
  find<TRadioGroup>("RadioGroup3")->setItemIndex(sdiAddress - 1);
}

void Harness::close() { form_->close(); }

void Harness::answerModal(const std::function<void()>& trigger, const QString& dialog, const QString& button) {
  QTimer::singleShot(0, form_.get(), [this, dialog, button] {
    auto* d = form_->findChild<QWidget*>(dialog);
    if (!d || !d->isVisible()) {
      qWarning("dialog %s is not shown", qPrintable(dialog));
      return;
    }
    if (auto* b = d->findChild<QAbstractButton*>(button)) QTest::mouseClick(b, Qt::LeftButton);
  });
  trigger();
}

void Harness::scriptInput(std::vector<std::optional<QString>> answers) { inputs_ = std::move(answers); }

int Harness::nonLoopbackSends() const {
  int n = 0;
  for (const auto& s : endpoint.sent)
    if (s.host.rfind("127.", 0) != 0) ++n;
  return n;
}

StatusBlock::StatusBlock() : bytes_(1024, 0) {
  bytes_[0] = 0x45;
  bytes_[1] = 0x1A;
}

StatusBlock& StatusBlock::set8(int offset, std::uint32_t v) {
  bytes_[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(v);
  return *this;
}
StatusBlock& StatusBlock::set16(int offset, std::uint32_t v) {
  set8(offset, v >> 8);
  return set8(offset + 1, v);
}
StatusBlock& StatusBlock::set24(int offset, std::uint32_t v) {
  set8(offset, v >> 16);
  return set16(offset + 1, v);
}
StatusBlock& StatusBlock::set32(int offset, std::uint32_t v) {
  set16(offset, v >> 16);
  return set16(offset + 2, v);
}

tessaly::Bytes cwNetAnswer(const StatusBlock& block, std::uint8_t sdiAddress) {
  tessaly::Bytes d = tessaly::bytesOf("CW-Net");
  d.push_back(0x09);
  d.push_back(sdiAddress);
  tessaly::append(d, block.bytes());
  return d;
}

tessaly::Bytes ddtoipAnswer(const StatusBlock& block) {
  tessaly::Bytes d = tessaly::bytesOf("DDToIP");
  tessaly::append(d, std::string_view("Answer         "));
  d.push_back(0x01);
  d.push_back(0xF3);
  tessaly::appendBE16(d, 1024);
  tessaly::append(d, block.bytes());
  return d;
}

tessaly::Bytes datagramOfLength(std::size_t n, std::uint8_t fill) { return tessaly::Bytes(n, fill); }

}  // namespace uitest
