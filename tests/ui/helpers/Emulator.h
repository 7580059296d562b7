#pragma once
// Runs tessaly-emulator on 127.0.0.1 (a free port of its own choosing) for
// end-to-end tests, and stops it when the object goes. available() is false when
// the emulator has not been built; tests then QSKIP.
#include <QAbstractButton>
#include <QProcess>
#include <QStringList>
#include <memory>

#include "app/MainForm.h"
#include "helpers/UiHarness.h"

namespace uitest {

class EmulatorProcess {
 public:
  static QString program();
  static bool available();

  // Starts with the given extra options (--no-device, --device-code 1B, --drop 1 ...)
  // and waits for its "listening on" line. False when it did not come up in 5 s.
  bool start(const QStringList& extraArgs = {});
  int port() const { return port_; }
  void stop();
  // Ends it with SIGKILL: no clean-up of its own runs.
  void kill();
  ~EmulatorProcess() { stop(); }

 private:
  QProcess process_;
  int port_ = 0;
};

// The production window (Qt timer, real UDP endpoint) in a working directory of
// its own, whose Settings.ini points at an emulator on 127.0.0.1 with the given
// framing (0 CW-Net, 1 DDToIP) and any extra INI lines.
class LivePanel {
 public:
  LivePanel(int emulatorPort, int framing, const QString& extraSettings = {});
  template <typename T = QWidget>
  T* find(const QString& name) const {
    return form->findChild<T*>(name);
  }
  QString text(const QString& name) const { return textOf(*form, name); }
  QStringList memo(const QString& name) const;
  void click(QAbstractButton* button) const;
  void click(const QString& buttonName) const;

  TempWorkDir dir;
  std::unique_ptr<TMainForm> form;
};

}  // namespace uitest
