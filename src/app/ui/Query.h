#pragma once
// The device query (every page's "Query" button): registers its codes 40..43, sends
// the read request and tells every page how it went.
#include <vector>

#include "app/ui/PageHost.h"

class DeviceQuery {
 public:
  DeviceQuery(PageHost& host, std::vector<TPage*> pages);
  void start();

 private:
  void answered(tessaly::Framing framing);

  PageHost& host_;
  std::vector<TPage*> pages_;
};
