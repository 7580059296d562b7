#pragma once
// The device query (every page's "Query" button): the session's query, with every
// page told how it went and, for a remultiplexer's answer, the decoded status shown.
#include <vector>

#include "app/ui/PageHost.h"
#include "device/DeviceSession.h"

class DeviceQuery : public tessaly::StatusQueryListener {
 public:
  DeviceQuery(tessaly::DeviceSession& session, std::vector<TPage*> pages);
  ~DeviceQuery() override;
  void start() { session_.query(); }

  void queryStarted() override;
  void querySent(const tessaly::QueryTarget& sentTo) override;
  void queryEnded(const tessaly::QueryOutcome& o) override;

 private:
  tessaly::DeviceSession& session_;
  std::vector<TPage*> pages_;
};
