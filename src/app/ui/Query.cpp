#include "app/ui/Query.h"

#include "link/Framing.h"

using namespace tessaly;

namespace {
constexpr int kReplyTimeoutMs = 1000;
}

DeviceQuery::DeviceQuery(PageHost& host, std::vector<TPage*> pages) : host_(host), pages_(std::move(pages)) {
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    const bool dd = f == Framing::DDToIP;
    Transaction t;
    t.waiting = dd ? state::QueryDDToIPWait : state::QueryCwNetWait;
    t.received = dd ? state::QueryDDToIPGot : state::QueryCwNetGot;
    t.accepts = Answer::Long;
    t.timedOut = [this] {
      for (TPage* p : pages_) p->queryTimedOut();
    };
    t.answered = [this, f] { answered(f); };
    t.sendFailed = [this](bool) {
      for (TPage* p : pages_) p->querySendFailed();
    };
    host_.engine().registerTransaction(std::move(t));
  }
}

void DeviceQuery::start() {
  const std::string ip = host_.deviceIp();
  const Framing f = host_.framing();
  const Bytes request = encodeReadDatagram(f, host_.sdiAddress());
  for (TPage* p : pages_) p->queryStarted();
  StartOptions o;
  o.armMs = kReplyTimeoutMs;
  if (!host_.startTransaction(f == Framing::DDToIP ? state::QueryDDToIPWait : state::QueryCwNetWait, request, o))
    return;
  const std::vector<std::string> lines = querySentLines(host_.hostPort(), host_.devicePort(), ip);
  for (TPage* p : pages_) p->querySent(lines);
}

void DeviceQuery::answered(Framing f) {
  QueryContext ctx;
  ctx.framing = f;
  ctx.deviceIp = host_.deviceIp();
  ctx.devicePort = host_.devicePort();
  ctx.selectedSdiAddress = host_.sdiAddress();
  const ReceiveBuffer& buffer = host_.engine().buffer();
  const QueryOutcome o =
      evaluateQueryAnswer(ctx, host_.engine().receivedLength(), [&buffer](std::size_t at) { return buffer.at(at); });
  for (TPage* p : pages_) p->presentQueryOutcome(o);
  if (o.decode) host_.decodeAndPresent(o.answerBase);
}
