#include "instructions/NoticeWait.h"

namespace tessaly {

void registerNoticeWait(TransactionEngine& engine, std::uint8_t waiting, std::uint8_t received,
                        std::function<void(bool received)> outcome, std::function<void(bool late)> sendFailed) {
  Transaction t;
  t.waiting = waiting;
  t.received = received;
  t.accepts = Answer::Notice;
  t.timedOut = [outcome] { outcome(false); };
  t.answered = [outcome] { outcome(true); };
  t.sendFailed = std::move(sendFailed);
  engine.registerTransaction(std::move(t));
}

}  // namespace tessaly
