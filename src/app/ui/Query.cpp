#include "app/ui/Query.h"

using namespace tessaly;

DeviceQuery::DeviceQuery(PageHost& host, std::vector<TPage*> pages)
    : host_(host),
      pages_(std::move(pages)),
      query_(
          host.engine(),
          [&host] {
            QueryTarget t;
            t.framing = host.framing();
            t.sdiAddress = host.sdiAddress();
            t.deviceIp = host.deviceIp();
            t.devicePort = host.devicePort();
            t.hostPort = host.hostPort();
            return t;
          },
          *this) {}

void DeviceQuery::queryStarted() {
  for (TPage* p : pages_) p->queryStarted();
}

void DeviceQuery::querySent(const std::vector<std::string>& memoLines) {
  for (TPage* p : pages_) p->querySent(memoLines);
}

void DeviceQuery::querySendFailed() {
  for (TPage* p : pages_) p->querySendFailed();
}

void DeviceQuery::queryTimedOut() {
  for (TPage* p : pages_) p->queryTimedOut();
}

void DeviceQuery::queryAnswered(const QueryOutcome& o) {
  for (TPage* p : pages_) p->presentQueryOutcome(o);
  if (o.decode) host_.decodeAndPresent(o.answerBase);
}
