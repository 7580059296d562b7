#pragma once
// The engine's timer over QTimer. QTimer restarts its countdown on setInterval with
// the same value and on start() while active; the engine's contract says neither
// may restart it, so both are checked here.
#include <QObject>
#include <QTimer>

#include "link/Ports.h"

namespace tessaly {

class QtTimer : public QObject, public Timer {
  Q_OBJECT
 public:
  explicit QtTimer(QObject* parent = nullptr);
  void setInterval(int ms) override;
  int interval() const override { return interval_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
  int interval_ = 1000;
};

}  // namespace tessaly
