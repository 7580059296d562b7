#include "link/Engine.h"

namespace tessaly {

namespace {
// The PCR chart poller's codes (its owner, in status/, declares them): a request
// out, its answer in, and from the due code up answers wait for the running interval.
constexpr std::uint8_t kChartPollDue = 200, kChartPollSent = 201, kChartPollGot = 202;
}  // namespace

TransactionEngine::TransactionEngine(Timer& timer, Endpoint& endpoint) : timer_(timer), endpoint_(endpoint) {
  timer_.setEnabled(false);
  timer_.setHandler([this] { onTimer(); });
  endpoint_.setReceiver([this](const std::uint8_t* data, std::size_t length) { onDatagram(data, length); });
  endpoint_.setSendFailureHandler([this] { onSendFailure(); });
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
    // Interrupt notices count only while a page waits for one (codes up to 10).
    if (state_ > 10) return;
    receivedLength_ = length;
    buffer_.store(data, length);
    switch (state_) {
      case state::GeneralWait: state_ = state::GeneralGot; break;
      case state::MpxWait: state_ = state::MpxGot; break;
      case state::PsiWait: state_ = state::PsiGot; break;
      case state::PcrWait: state_ = state::PcrGot; break;
      default: break;
    }
    timer_.setInterval(kAnswerHandOverMs);
    return;
  }
  if (length >= kReceiveBufferSize) return;

  receivedLength_ = length;
  buffer_.store(data, length);
  switch (state_) {
    case state::QueryCwNetWait: state_ = state::QueryCwNetGot; break;
    case state::QueryDDToIPWait: state_ = state::QueryDDToIPGot; break;
    case state::MfgConfigWait: state_ = state::MfgConfigGot; break;
    case state::MfgEraseWait: state_ = state::MfgEraseGot; break;
    case state::MfgProgramWait: state_ = state::MfgProgramGot; break;
    case state::MfgPidReadWait: state_ = state::MfgPidReadGot; break;
    case state::MfgPsiReadWait: state_ = state::MfgPsiReadGot; break;
    case state::MfgPcrWait: state_ = state::MfgPcrGot; break;
    case state::InstrTestWait: state_ = state::InstrTestGot; break;
    case kChartPollSent: state_ = kChartPollGot; break;
    default: break;
  }
  // These answers are evaluated when the interval already running ends.
  const bool leaveCountdown = state_ == state::MfgEraseGot || state_ == state::MfgPidReadGot ||
                              state_ == state::MfgPsiReadGot || state_ >= kChartPollDue;
  if (!leaveCountdown) timer_.setInterval(kAnswerHandOverMs);
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
  const auto& handler = handlers_[state_];
  if (handler) handler();
}

void TransactionEngine::onSendFailure() {
  timer_.setEnabled(false);
  endpoint_.deactivate();
  const auto& handler = sendFailureHandlers_[state_];
  if (handler) handler();
}

void TransactionEngine::registerSendFailureHandler(std::uint8_t code, std::function<void()> handler) {
  sendFailureHandlers_[code] = std::move(handler);
}

void TransactionEngine::registerHandler(std::uint8_t code, std::function<void()> handler) {
  handlers_[code] = std::move(handler);
}

}  // namespace tessaly
