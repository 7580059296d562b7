#include "app/ui/Query.h"

using namespace tessaly;

DeviceQuery::DeviceQuery(DeviceSession& session, std::vector<TPage*> pages)
    : session_(session), pages_(std::move(pages)) {
  session_.setQueryListener(this);
}

DeviceQuery::~DeviceQuery() { session_.setQueryListener(nullptr); }

void DeviceQuery::queryStarted() {
  for (TPage* p : pages_) p->queryStarted();
}

void DeviceQuery::querySent(const QueryTarget& sentTo) {
  const auto lines = querySentLines(sentTo.hostPort, sentTo.devicePort, sentTo.deviceIp);
  for (TPage* p : pages_) p->querySent(lines);
}

void DeviceQuery::queryEnded(const QueryOutcome& o) {
  switch (o.kind) {
    case QueryKind::SendFailed:
      for (TPage* p : pages_) p->querySendFailed();
      return;
    case QueryKind::Timeout:
      for (TPage* p : pages_) p->queryTimedOut();
      return;
    default:
      break;
  }
  for (TPage* p : pages_) p->presentQueryOutcome(o);
  // The session has decoded the status block into its record.
  if (o.kind == QueryKind::Ok)
    for (TPage* p : pages_) p->presentStatus(session_.device());
}
