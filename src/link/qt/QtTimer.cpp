#include "link/qt/QtTimer.h"

namespace tessaly {

QtTimer::QtTimer(QObject* parent) : QObject(parent) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(false);
  timer_.setInterval(interval_);
  connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
}

void QtTimer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  // On an active timer this restarts the countdown with the new value, as wanted.
  timer_.setInterval(ms);
}

void QtTimer::setEnabled(bool on) {
  if (on) {
    if (!timer_.isActive()) timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace tessaly
