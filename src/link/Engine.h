#pragma once
// The transaction engine: one state byte, the receive buffer, one timer and the
// two handlers that every exchange with the board runs through. Pages set their
// waiting code, send, and arm the timer; the receive handler moves a waiting code
// to its received code; the timer handler closes the endpoint and dispatches the
// code to the handler its owner registered.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "text/Bytes.h"
#include "link/Ports.h"
#include "link/ReceiveBuffer.h"

namespace tessaly {

// State codes (owners register handlers for their own).
namespace state {
constexpr std::uint8_t Idle = 0;
constexpr std::uint8_t GeneralWait = 2, GeneralGot = 3;
constexpr std::uint8_t MpxWait = 4, MpxGot = 5;
constexpr std::uint8_t PsiWait = 6, PsiGot = 7;
constexpr std::uint8_t PcrWait = 8, PcrGot = 9;
constexpr std::uint8_t QueryCwNetWait = 40, QueryCwNetGot = 41;
constexpr std::uint8_t QueryDDToIPWait = 42, QueryDDToIPGot = 43;
constexpr std::uint8_t MfgConfigWait = 90, MfgConfigGot = 91;
constexpr std::uint8_t MfgEraseWait = 92, MfgEraseGot = 93;
constexpr std::uint8_t MfgProgramDue = 94;
constexpr std::uint8_t MfgProgramWait = 96, MfgProgramGot = 97;
constexpr std::uint8_t MfgPidReadDue = 98, MfgPidReadWait = 99, MfgPidReadGot = 100;
constexpr std::uint8_t MfgPsiReadDue = 101, MfgPsiReadWait = 102, MfgPsiReadGot = 103;
constexpr std::uint8_t MfgPcrWait = 104, MfgPcrGot = 105;
constexpr std::uint8_t InstrTestWait = 120, InstrTestGot = 121;
}  // namespace state

constexpr int kAnswerHandOverMs = 5;
constexpr std::size_t kReceiveBufferSize = 1500;

class TransactionEngine {
 public:
  TransactionEngine(Timer& timer, Endpoint& endpoint);
  TransactionEngine(const TransactionEngine&) = delete;
  TransactionEngine& operator=(const TransactionEngine&) = delete;

  std::uint8_t state() const { return state_; }
  void setState(std::uint8_t code) { state_ = code; }

  ReceiveBuffer& buffer() { return buffer_; }
  const ReceiveBuffer& buffer() const { return buffer_; }
  std::size_t receivedLength() const { return receivedLength_; }

  Timer& timer() { return timer_; }
  Endpoint& endpoint() { return endpoint_; }

  // Sets the interval, then enables the timer.
  void armTimer(int ms);
  // Disables the timer and closes the endpoint (chart Stop, Break).
  void abort();

  // activate, then send; on failure the endpoint is closed again. True on success.
  bool activateAndSend(const std::string& host, int port, const Bytes& datagram);

  // The receive handler: every datagram the endpoint delivers.
  void onDatagram(const std::uint8_t* data, std::size_t length);
  // The timer handler: disable, deactivate, then dispatch the state code.
  void onTimer();

  // The handler that runs when the timer fires in `code`; a code without one does nothing.
  void registerHandler(std::uint8_t code, std::function<void()> handler);
  // The sender's communication-error display for its waiting `code`: it runs when a
  // send that reported success could not go out after all (its host name did not
  // resolve, or was still being looked up when the timer fired). The engine has
  // disabled the timer and closed the endpoint by then.
  void registerSendFailureHandler(std::uint8_t code, std::function<void()> handler);

 private:
  Timer& timer_;
  Endpoint& endpoint_;
  std::uint8_t state_ = state::Idle;
  ReceiveBuffer buffer_{kReceiveBufferSize};
  std::size_t receivedLength_ = 0;
  void onSendFailure();

  std::array<std::function<void()>, 256> handlers_;
  std::array<std::function<void()>, 256> sendFailureHandlers_;
};

}  // namespace tessaly
