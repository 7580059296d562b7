#pragma once
// Runs tessaly-emulator on 127.0.0.1 (a free port of its own choosing) for
// end-to-end tests, and stops it when the object goes. available() is false when
// the emulator has not been built; tests then QSKIP.
#include <QProcess>
#include <QStringList>

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
  ~EmulatorProcess() { stop(); }

 private:
  QProcess process_;
  int port_ = 0;
};

}  // namespace uitest
