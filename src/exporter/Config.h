#pragma once
// The exporter's configuration file (YAML): how often and how long each board is
// polled, and the controllers with the boards on their SDI bus.
#include <stdexcept>
#include <string>
#include <vector>

#include "link/Framing.h"

namespace tessaly::exporter {

struct ControllerConfig {
  std::string address;  // an IPv4 address
  int port = 56789;
  Framing framing = Framing::DDToIP;
  int hostPort = 0;      // 0: any free port
  std::string name;      // a label when not empty
  bool allBoards = false;  // find the boards on SDI addresses 1..15 at start and at each rescan
  std::vector<int> boards;  // SDI addresses, when not allBoards
};

struct Config {
  double intervalSeconds = 5;
  double timeoutSeconds = 1;
  // How often the SDI addresses of `boards: all` that have not answered yet are asked again.
  double rescanSeconds = 600;
  std::vector<ControllerConfig> controllers;
};

// "FILE:LINE:COLUMN: what is wrong", or "FILE: why it cannot be read".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

Config loadConfig(const std::string& path);
// The same from text; `path` names it in errors.
Config parseConfig(const std::string& text, const std::string& path);

}  // namespace tessaly::exporter
