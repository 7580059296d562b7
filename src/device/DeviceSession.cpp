#include "device/DeviceSession.h"

#include "status/Decode.h"

namespace tessaly {

DeviceSession::DeviceSession(Timer& timer, Endpoint& endpoint)
    : timer_(timer), endpoint_(endpoint), engine_(timer, endpoint), query_(engine_, *this) {
  endpoint_.setTap(&traffic_);
}

DeviceSession::~DeviceSession() { endpoint_.setTap(nullptr); }

void DeviceSession::setHostPort(int port) {
  link_.hostPort = port;
  endpoint_.setLocalPort(port);
}

void DeviceSession::setTarget(const QueryTarget& t) {
  link_.framing = t.framing;
  link_.sdiAddress = t.sdiAddress;
  link_.devicePort = t.devicePort;
  deviceHost_ = t.deviceIp;
  setHostPort(t.hostPort);
}

QueryTarget DeviceSession::target() const {
  QueryTarget t;
  t.framing = link_.framing;
  t.sdiAddress = link_.sdiAddress;
  t.deviceIp = deviceIp();
  t.devicePort = link_.devicePort;
  t.hostPort = link_.hostPort;
  return t;
}

void DeviceSession::decodeStatus(int answerBase) {
  device_.AnswerBase = answerBase;
  DecodeStatus(device_, engine_.buffer());
}

void DeviceSession::queryStarted() {
  if (listener_) listener_->queryStarted();
}

void DeviceSession::querySent(const QueryTarget& sentTo) {
  if (listener_) listener_->querySent(sentTo);
}

void DeviceSession::queryEnded(const QueryOutcome& o) {
  if (o.kind == QueryKind::Ok) decodeStatus(o.answerBase);
  if (listener_) listener_->queryEnded(o);
}

}  // namespace tessaly
