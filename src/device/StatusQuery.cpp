#include "device/StatusQuery.h"

namespace tessaly {

StatusQuery::StatusQuery(TransactionEngine& engine, StatusQueryListener& listener, int timeoutMs)
    : engine_(engine), listener_(listener), timeoutMs_(timeoutMs) {
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    const bool dd = f == Framing::DDToIP;
    Transaction t;
    t.waiting = dd ? state::QueryDDToIPWait : state::QueryCwNetWait;
    t.received = dd ? state::QueryDDToIPGot : state::QueryCwNetGot;
    t.accepts = Answer::Long;
    // Another board's status is no answer to this request, whenever it comes.
    t.screen = [this, f](const std::uint8_t* data, std::size_t length) {
      return isOtherBoardsStatus(f, sent_.sdiAddress, data, length) ? DropReason::OtherBoard : DropReason::None;
    };
    t.timedOut = [this] { ended(QueryKind::Timeout); };
    t.answered = [this, f] { answered(f); };
    t.sendFailed = [this](bool) { ended(QueryKind::SendFailed); };
    engine_.registerTransaction(std::move(t));
  }
}

bool StatusQuery::start(const QueryTarget& target) {
  engine_.endPendingSend();
  sent_ = target;
  const QueryTarget& sent = sent_;
  const Bytes request = encodeReadDatagram(sent.framing, sent.sdiAddress);
  listener_.queryStarted();
  StartOptions o;
  o.armMs = timeoutMs_;
  const std::uint8_t waiting =
      sent.framing == Framing::DDToIP ? state::QueryDDToIPWait : state::QueryCwNetWait;
  return engine_.start(waiting, sent.deviceIp, sent.devicePort, request, o,
                       [this, sent] { listener_.querySent(sent); });
}

void StatusQuery::ended(QueryKind kind) {
  QueryOutcome o;
  o.kind = kind;
  o.framing = sent_.framing;
  o.deviceIp = sent_.deviceIp;
  o.devicePort = sent_.devicePort;
  o.sdiAddress = sent_.sdiAddress;
  listener_.queryEnded(o);
}

void StatusQuery::answered(Framing f) {
  // The outcome names the target the request went to, whatever the link settings
  // became while it waited.
  QueryContext ctx;
  ctx.framing = f;
  ctx.deviceIp = sent_.deviceIp;
  ctx.devicePort = sent_.devicePort;
  ctx.selectedSdiAddress = sent_.sdiAddress;
  const ReceiveBuffer& buffer = engine_.buffer();
  const QueryOutcome o =
      evaluateQueryAnswer(ctx, engine_.receivedLength(), [&buffer](std::size_t at) { return buffer.at(at); });
  listener_.queryEnded(o);
}

}  // namespace tessaly
