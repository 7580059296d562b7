#include "link/Engine.h"

#include <stdexcept>
#include <string>

namespace tessaly {

namespace {
[[noreturn]] void refuse(std::uint8_t code) {
  throw std::logic_error("state code " + std::to_string(code) + " is already registered");
}
}  // namespace

TransactionEngine::TransactionEngine(Timer& timer, Endpoint& endpoint) : timer_(timer), endpoint_(endpoint) {
  timer_.setEnabled(false);
  timer_.setHandler([this] { onTimer(); });
  endpoint_.setReceiver([this](const std::uint8_t* data, std::size_t length) { onDatagram(data, length); });
  endpoint_.setSendOutcomeHandler([this](bool left) { onSendOutcome(left); });
  endpoint_.setScreen([this](const std::uint8_t* data, std::size_t length) {
    const auto& screen = codes_[state_].screen;
    return screen ? screen(data, length) : DropReason::None;
  });
}

void TransactionEngine::registerTransaction(Transaction t) {
  // Two owners on one code would take each other's answers: refused before anything changes.
  if (codes_[t.waiting].registered) refuse(t.waiting);
  if (t.accepts != Answer::None && (codes_[t.received].registered || t.received == t.waiting)) refuse(t.received);
  Code& w = codes_[t.waiting];
  w.registered = true;
  w.onTimer = std::move(t.timedOut);
  w.onSendFailure = std::move(t.sendFailed);
  w.accepts = t.accepts;
  w.screen = t.screen;
  if (t.accepts == Answer::None) return;
  w.next = t.received;
  Code& r = codes_[t.received];
  r.registered = true;
  r.onTimer = std::move(t.answered);
  r.screen = std::move(t.screen);
  r.keepsCountdown = t.handOver == HandOver::AtNextTick;
}

void TransactionEngine::registerStep(std::uint8_t code, std::function<void()> due, HandOver handOver) {
  if (codes_[code].registered) refuse(code);
  Code& c = codes_[code];
  c.registered = true;
  c.onTimer = std::move(due);
  c.keepsCountdown = handOver == HandOver::AtNextTick;
}

bool TransactionEngine::isRegistered(std::uint8_t code) const { return codes_[code].registered; }

void TransactionEngine::endPendingSend() {
  if (pending_) failPending();
}

void TransactionEngine::setState(std::uint8_t code) {
  endPendingSend();
  state_ = code;
}

bool TransactionEngine::start(std::uint8_t waiting, const std::string& host, int port, const Bytes& datagram,
                              const StartOptions& o, std::function<void()> left) {
  // A send still waiting for its lookup is overtaken: it ends as a failed send.
  endPendingSend();
  if (o.stateAt == StateAt::BeforeSend) state_ = waiting;
  if (!activateAndSend(host, port, datagram)) {
    if (const auto& failed = codes_[waiting].onSendFailure) failed(false);
    return false;
  }
  if (!endpoint_.sendPending()) {
    sendLeft(waiting, o, left);
    return true;
  }
  // The timer now limits the lookup; the transaction's own wait starts once the
  // datagram has left.
  pending_ = Pending{waiting, o, std::move(left)};
  timer_.setEnabled(false);
  timer_.setInterval(kLookupLimitMs);
  timer_.setEnabled(true);
  return true;
}

void TransactionEngine::sendLeft(std::uint8_t waiting, const StartOptions& o, const std::function<void()>& left) {
  if (o.stateAt == StateAt::AfterSend) state_ = waiting;
  if (o.closeAfterSend) endpoint_.deactivate();
  if (o.armMs > 0) armTimer(o.armMs);
  if (o.stateAt == StateAt::AfterArm) state_ = waiting;
  if (left) left();
}

TransactionEngine::Pending TransactionEngine::takePending() {
  Pending p = std::move(*pending_);
  pending_.reset();
  endpoint_.dropPendingSend();
  timer_.setEnabled(false);
  return p;
}

void TransactionEngine::onSendOutcome(bool left) {
  if (!pending_) return;
  if (!left) {
    failPending();
    return;
  }
  const Pending p = takePending();
  sendLeft(p.waiting, p.options, p.left);
}

void TransactionEngine::failPending() {
  const Pending p = takePending();
  endpoint_.deactivate();
  if (const auto& failed = codes_[p.waiting].onSendFailure) failed(true);
}

void TransactionEngine::armTimer(int ms) {
  endPendingSend();
  timer_.setInterval(ms);
  timer_.setEnabled(true);
}

void TransactionEngine::abort() {
  // Nobody waits any more: a send still waiting for its lookup is forgotten.
  if (pending_) takePending();
  timer_.setEnabled(false);
  endpoint_.deactivate();
}

bool TransactionEngine::activateAndSend(const std::string& host, int port, const Bytes& datagram) {
  if (endpoint_.activate() && endpoint_.send(host, port, datagram)) return true;
  endpoint_.deactivate();
  return false;
}

void TransactionEngine::onDatagram(const std::uint8_t* data, std::size_t length) {
  // Nothing counts before the datagram it would answer has gone out.
  if (pending_) return;
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
  if (pending_) {
    // The lookup did not answer in time: the datagram never went out.
    failPending();
    return;
  }
  timer_.setEnabled(false);
  // A datagram the endpoint already took in is delivered during this call.
  endpoint_.deactivate();
  const auto& handler = codes_[state_].onTimer;
  if (handler) handler();
}

}  // namespace tessaly
