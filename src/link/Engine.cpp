#include "link/Engine.h"

namespace tessaly {

TransactionEngine::TransactionEngine(Timer& timer, Endpoint& endpoint) : timer_(timer), endpoint_(endpoint) {
  timer_.setEnabled(false);
  timer_.setHandler([this] { onTimer(); });
  endpoint_.setReceiver([this](const std::uint8_t* data, std::size_t length) { onDatagram(data, length); });
  endpoint_.setSendFailureHandler([this] { onSendFailure(); });
  endpoint_.setScreen([this](const std::uint8_t* data, std::size_t length) {
    const auto& screen = codes_[state_].screen;
    return screen ? screen(data, length) : DropReason::None;
  });
}

void TransactionEngine::registerTransaction(Transaction t) {
  Code& w = codes_[t.waiting];
  w.onTimer = std::move(t.timedOut);
  w.onSendFailure = std::move(t.sendFailed);
  w.accepts = t.accepts;
  w.screen = t.screen;
  if (t.accepts == Answer::None) return;
  w.next = t.received;
  Code& r = codes_[t.received];
  r.onTimer = std::move(t.answered);
  r.screen = std::move(t.screen);
  r.keepsCountdown = t.handOver == HandOver::AtNextTick;
}

void TransactionEngine::registerStep(std::uint8_t code, std::function<void()> due, HandOver handOver) {
  Code& c = codes_[code];
  c.onTimer = std::move(due);
  c.keepsCountdown = handOver == HandOver::AtNextTick;
}

bool TransactionEngine::start(std::uint8_t waiting, const std::string& host, int port, const Bytes& datagram,
                              const StartOptions& o) {
  if (o.stateAt == StateAt::BeforeSend) state_ = waiting;
  if (!activateAndSend(host, port, datagram)) {
    if (const auto& failed = codes_[waiting].onSendFailure) failed(false);
    return false;
  }
  if (o.stateAt == StateAt::AfterSend) state_ = waiting;
  if (o.closeAfterSend) endpoint_.deactivate();
  if (o.armMs > 0) armTimer(o.armMs);
  if (o.stateAt == StateAt::AfterArm) state_ = waiting;
  return true;
}

void TransactionEngine::armTimer(int ms) {
  timer_.setInterval(ms);
  timer_.setEnabled(true);
}

void TransactionEngine::abort() {
  timer_.setEnabled(false);
  // Nobody waits any more: a send still waiting for its lookup is forgotten.
  endpoint_.dropPendingSend();
  endpoint_.deactivate();
}

bool TransactionEngine::activateAndSend(const std::string& host, int port, const Bytes& datagram) {
  if (endpoint_.activate() && endpoint_.send(host, port, datagram)) return true;
  endpoint_.deactivate();
  return false;
}

void TransactionEngine::onDatagram(const std::uint8_t* data, std::size_t length) {
  buffer_.seek(0);
  if (length <= 26) {
    // Interrupt notices count only while the state is 10 or below.
    if (state_ > 10) return;
    receivedLength_ = length;
    buffer_.store(data, length);
    if (codes_[state_].accepts == Answer::Notice) state_ = codes_[state_].next;
    timer_.setInterval(kAnswerHandOverMs);
    return;
  }
  if (length >= kReceiveBufferSize) return;

  receivedLength_ = length;
  buffer_.store(data, length);
  if (codes_[state_].accepts == Answer::Long) state_ = codes_[state_].next;
  // Some answers are evaluated when the interval already running ends.
  if (!codes_[state_].keepsCountdown) timer_.setInterval(kAnswerHandOverMs);
}

void TransactionEngine::onTimer() {
  timer_.setEnabled(false);
  if (endpoint_.sendPending()) {
    // The datagram never went out within the wait: a send failure, not a time-out.
    endpoint_.dropPendingSend();
    onSendFailure();
    return;
  }
  // A datagram the endpoint already took in is delivered during this call.
  endpoint_.deactivate();
  const auto& handler = codes_[state_].onTimer;
  if (handler) handler();
}

void TransactionEngine::onSendFailure() {
  timer_.setEnabled(false);
  endpoint_.deactivate();
  const auto& handler = codes_[state_].onSendFailure;
  if (handler) handler(true);
}

}  // namespace tessaly
