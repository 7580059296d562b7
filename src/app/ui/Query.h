#pragma once
// The device query (every page's "Query" button): the core's StatusQuery, with every
// page told how it went.
#include <vector>

#include "device/StatusQuery.h"
#include "app/ui/PageHost.h"

class DeviceQuery : public tessaly::StatusQueryListener {
 public:
  DeviceQuery(PageHost& host, std::vector<TPage*> pages);
  void start() { query_.start(); }

  void queryStarted() override;
  void querySent(const std::vector<std::string>& memoLines) override;
  void querySendFailed() override;
  void queryTimedOut() override;
  void queryAnswered(const tessaly::QueryOutcome& o) override;

 private:
  PageHost& host_;
  std::vector<TPage*> pages_;
  tessaly::StatusQuery query_;
};
