#pragma once
// The transaction engine: one state byte, the receive buffer, one timer and the
// two handlers that every exchange with the board runs through. Each owner
// registers the transactions it runs (waiting code, received code, which answers
// move one to the other, when an answer is evaluated, and its handlers); every
// sender starts its transaction through start(). The engine knows no owner's codes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "text/Bytes.h"
#include "link/Ports.h"
#include "link/ReceiveBuffer.h"

namespace tessaly {

constexpr int kAnswerHandOverMs = 5;
// How long a send to a host name may wait for its lookup.
constexpr int kLookupLimitMs = 5000;
constexpr std::size_t kReceiveBufferSize = 1500;

// Which datagrams move a waiting code to its received code.
enum class Answer : std::uint8_t {
  None,    // none: the code is a step of a sequence, evaluated when the timer fires
  Notice,  // an interrupt notice (26 bytes or fewer), taken only while the state is 10 or below
  Long,    // an answer of 27..1499 bytes
};
// When an answer stored in a code is evaluated.
enum class HandOver : std::uint8_t {
  After5ms,    // the interval becomes 5 ms: the timer handler runs about 5 ms later
  AtNextTick,  // the running interval is left alone
};

// One transaction an owner runs. `timedOut` runs when the timer fires in `waiting`,
// `answered` when it fires in `received`; `sendFailed` runs when the datagram could
// not go out: at once (late = false), or when the lookup of a host name failed, did
// not answer within kLookupLimitMs, or a newer action took over while it ran (late =
// true). Either way the state is as a failed send leaves it and the timer is off.
// The endpoint is closed before any of them runs.
// `screen`, when set, looks at every datagram that arrives while the state is
// `waiting` or `received`: one it gives a reason against is no answer of this
// transaction and is dropped by the endpoint before the receive handler sees it.
struct Transaction {
  std::uint8_t waiting = 0;
  std::uint8_t received = 0;
  Answer accepts = Answer::None;
  HandOver handOver = HandOver::After5ms;  // for long answers stored in `received`
  std::function<void()> timedOut;
  std::function<void()> answered;
  std::function<void(bool late)> sendFailed;
  Endpoint::Screen screen;
};

// Where start() sets the waiting code.
enum class StateAt : std::uint8_t {
  BeforeSend,  // set, send, arm (the usual case)
  AfterSend,   // send, set, arm: a failed send leaves a waiting transaction untouched
  AfterArm,    // send, arm, set
};
struct StartOptions {
  StateAt stateAt = StateAt::BeforeSend;
  int armMs = 0;                // the time-out; 0 leaves the timer as it is
  bool closeAfterSend = false;  // no answer awaited: the endpoint closes once the datagram is out
};

class TransactionEngine {
 public:
  TransactionEngine(Timer& timer, Endpoint& endpoint);
  TransactionEngine(const TransactionEngine&) = delete;
  TransactionEngine& operator=(const TransactionEngine&) = delete;

  std::uint8_t state() const { return state_; }
  // A new action's state: a send still waiting for its lookup fails first.
  void setState(std::uint8_t code);

  ReceiveBuffer& buffer() { return buffer_; }
  const ReceiveBuffer& buffer() const { return buffer_; }
  std::size_t receivedLength() const { return receivedLength_; }

  Timer& timer() { return timer_; }
  Endpoint& endpoint() { return endpoint_; }

  // Registers a transaction: its codes, its answer rule and its handlers. Each code
  // has one owner: a code already registered (or a received code equal to the
  // waiting one) is refused with std::logic_error and nothing changes.
  void registerTransaction(Transaction t);
  // Registers a code without a datagram of its own (a step due when the timer fires);
  // refused like a transaction's code when already registered.
  void registerStep(std::uint8_t code, std::function<void()> due, HandOver handOver = HandOver::After5ms);
  // Whether an owner registered the code (as a transaction's code or a step).
  bool isRegistered(std::uint8_t code) const;

  // Starts the transaction `waiting`: sets the state, activates and sends; once the
  // datagram has left, closes the endpoint and arms the timer as the options say and
  // runs `left` (what the sender does after a successful send). When the datagram
  // cannot go out the endpoint is closed, the timer is not armed and the
  // transaction's sendFailed handler runs instead. To a dotted address both happen
  // before start returns. A host name is looked up first: meanwhile the timer is off
  // (it only limits the lookup) and nothing is taken in; a newer start, setState or
  // armTimer ends the waiting send through its sendFailed handler, abort drops it
  // without a word. False when the send failed at once; true when the datagram left
  // or waits for its lookup (sendPending()).
  bool start(std::uint8_t waiting, const std::string& host, int port, const Bytes& datagram,
             const StartOptions& options, std::function<void()> left = {});
  // A send waits for its host name's lookup.
  bool sendPending() const { return pending_.has_value(); }
  // A new action begins: a send still waiting for its lookup ends through its
  // sendFailed handler. Actions that show something before they start their own
  // transaction call this first, so the older failure never lands on the newer display.
  void endPendingSend();

  // Sets the interval, then enables the timer.
  void armTimer(int ms);
  // Disables the timer and closes the endpoint; the state code stays. A send still
  // waiting for its lookup is dropped: nothing goes out and nothing is reported.
  void abort();

  // activate, then send, outside any transaction; on failure the endpoint is closed
  // again. True when the datagram left (or, to a host name, waits for its lookup).
  bool activateAndSend(const std::string& host, int port, const Bytes& datagram);

  // The receive handler: every datagram the endpoint delivers.
  void onDatagram(const std::uint8_t* data, std::size_t length);
  // The timer handler: disable, deactivate, then dispatch the state code.
  void onTimer();

 private:
  struct Code {
    std::function<void()> onTimer;             // a code without one does nothing
    std::function<void(bool)> onSendFailure;
    Endpoint::Screen screen;
    Answer accepts = Answer::None;
    std::uint8_t next = 0;
    bool keepsCountdown = false;
    bool registered = false;
  };

  // A send waiting for its lookup, and what is due when it has left.
  struct Pending {
    std::uint8_t waiting = 0;
    StartOptions options;
    std::function<void()> left;
  };

  void sendLeft(std::uint8_t waiting, const StartOptions& o, const std::function<void()>& left);
  void onSendOutcome(bool left);
  // Ends the waiting send as failed (the lookup failed, ran out of time or was overtaken).
  void failPending();
  // Forgets the waiting send and stops the lookup limit (the timer ends disabled).
  Pending takePending();

  Timer& timer_;
  Endpoint& endpoint_;
  std::uint8_t state_ = 0;
  ReceiveBuffer buffer_{kReceiveBufferSize};
  std::size_t receivedLength_ = 0;
  std::optional<Pending> pending_;

  std::array<Code, 256> codes_;
};

}  // namespace tessaly
