#pragma once
// One device, as every front end talks to it: the transaction engine on the timer and
// endpoint it is given, the link settings every request goes out with, the status
// record, the device query and the traffic tap (a capture file or a traffic log is
// one of its taps). The main window and tessaly-cli each run one; neither is asked
// for the target: the session holds it.
#include <cstdint>
#include <optional>
#include <string>

#include "device/StatusQuery.h"
#include "link/Engine.h"
#include "link/LinkSettings.h"
#include "link/Ports.h"
#include "link/Traffic.h"
#include "status/DeviceStatus.h"

namespace tessaly {

class DeviceSession : private StatusQueryListener {
 public:
  DeviceSession(Timer& timer, Endpoint& endpoint);
  ~DeviceSession() override;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  Timer& timer() { return timer_; }
  Endpoint& endpoint() { return endpoint_; }
  TransactionEngine& engine() { return engine_; }
  // Every datagram the endpoint sends, receives or drops.
  TrafficFanout& traffic() { return traffic_; }
  tZODADevice& device() { return device_; }

  // The link as the user set it; the controls write into it. A change of the host
  // port takes effect through setHostPort.
  LinkSettings& link() { return link_; }
  const LinkSettings& link() const { return link_; }
  void setHostPort(int port);
  // A device address or host name used instead of the link's IP base and extension.
  void setDeviceHost(std::optional<std::string> host) { deviceHost_ = std::move(host); }
  // Framing, SDI address, device address and ports in one go.
  void setTarget(const QueryTarget& t);
  // Where a request goes now.
  QueryTarget target() const;
  std::string deviceIp() const { return deviceHost_ ? *deviceHost_ : link_.deviceIp(); }

  // The device query to target(); `listener` (may be null) is told how it goes. On an
  // Ok outcome the status record holds the decoded status before the listener hears it.
  void setQueryListener(StatusQueryListener* listener) { listener_ = listener; }
  StatusQueryListener* queryListener() const { return listener_; }
  void setQueryTimeoutMs(int ms) { query_.setTimeoutMs(ms); }
  bool query() { return query_.start(target()); }
  // Decodes the status block at `answerBase` of the receive buffer into the record.
  void decodeStatus(int answerBase);

 private:
  void queryStarted() override;
  void querySent(const QueryTarget& sentTo) override;
  void queryEnded(const QueryOutcome& o) override;

  Timer& timer_;
  Endpoint& endpoint_;
  TrafficFanout traffic_;
  TransactionEngine engine_;
  tZODADevice device_;
  LinkSettings link_;
  std::optional<std::string> deviceHost_;
  StatusQueryListener* listener_ = nullptr;
  StatusQuery query_;
};

}  // namespace tessaly
