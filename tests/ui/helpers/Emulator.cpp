#include "helpers/Emulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

namespace uitest {

QString EmulatorProcess::program() { return QStringLiteral(TESSALY_EMULATOR_PATH); }

bool EmulatorProcess::available() { return QFileInfo(program()).isExecutable(); }

bool EmulatorProcess::start(const QStringList& extraArgs) {
  QStringList args{"--listen", "127.0.0.1:0", "--seed", "7"};
  args << extraArgs;
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.start(program(), args);
  if (!process_.waitForStarted(5000)) return false;
  static const QRegularExpression re("listening on 127\\.0\\.0\\.1:(\\d+)");
  QByteArray out;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000) {
    process_.waitForReadyRead(100);
    out += process_.readAllStandardOutput();
    const auto m = re.match(QString::fromLocal8Bit(out));
    if (m.hasMatch()) {
      port_ = m.captured(1).toInt();
      return port_ > 0;
    }
    if (process_.state() == QProcess::NotRunning) return false;
  }
  return false;
}

void EmulatorProcess::stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(3000)) {
    process_.kill();
    process_.waitForFinished(3000);
  }
}

void EmulatorProcess::kill() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished(3000);
}

LivePanel::LivePanel(int emulatorPort, int framing, const QString& extraSettings) {
  dir.write("Settings.ini", loopbackSettings(freeUdpPort(), emulatorPort, true, framing) + extraSettings);
  form = std::make_unique<TMainForm>();
}

QStringList LivePanel::memo(const QString& name) const {
  auto* m = find<TMemo>(name);
  if (!m) qWarning("no memo named %s", qPrintable(name));
  return m ? m->lines() : QStringList{};
}

void LivePanel::click(QAbstractButton* button) const {
  if (button) QTest::mouseClick(button, Qt::LeftButton);
}

void LivePanel::click(const QString& buttonName) const {
  auto* b = find<QAbstractButton>(buttonName);
  if (!b) qWarning("no button named %s", qPrintable(buttonName));
  click(b);
}

}  // namespace uitest
