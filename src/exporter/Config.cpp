#include "exporter/Config.h"

#include <yaml-cpp/yaml.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

namespace tessaly::exporter {
namespace {

[[noreturn]] void fail(const std::string& path, const YAML::Mark& m, const std::string& what) {
  // An empty file's node has no place (line -1): the start of the file is meant.
  const int line = m.is_null() ? 0 : m.line, column = m.is_null() ? 0 : m.column;
  throw ConfigError(path + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) + ": " + what);
}

std::string scalar(const std::string& path, const YAML::Node& n, const std::string& key) {
  if (!n.IsScalar()) fail(path, n.Mark(), key + " wants a single value");
  return n.Scalar();
}

// "5s", "500ms", "2m" or a plain number of seconds; more than 0, at most a day.
double duration(const std::string& path, const YAML::Node& n, const std::string& key) {
  const std::string s = scalar(path, n, key);
  std::size_t used = 0;
  double v = 0;
  try {
    v = std::stod(s, &used);
  } catch (const std::exception&) {
    fail(path, n.Mark(), key + " wants a duration such as 5s, 500ms or 2m, not '" + s + "'");
  }
  const std::string unit = s.substr(used);
  double scale = 0;
  if (unit.empty() || unit == "s") scale = 1;
  else if (unit == "ms") scale = 0.001;
  else if (unit == "m") scale = 60;
  if (scale == 0 || !std::isfinite(v) || v * scale <= 0 || v * scale > 86400)
    fail(path, n.Mark(), key + " wants a duration such as 5s, 500ms or 2m (more than 0, at most 24h), not '" + s + "'");
  return v * scale;
}

int integer(const std::string& path, const YAML::Node& n, const std::string& key, int lo, int hi) {
  const std::string s = scalar(path, n, key);
  std::size_t used = 0;
  long v = 0;
  try {
    v = std::stol(s, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != s.size() || v < lo || v > hi)
    fail(path, n.Mark(), key + " wants a whole number " + std::to_string(lo) + ".." + std::to_string(hi) + ", not '" + s + "'");
  return static_cast<int>(v);
}

void onlyKeys(const std::string& path, const YAML::Node& map, const std::set<std::string>& known, const std::string& where) {
  // yaml-cpp keeps a key given twice and reads the first: the second would be lost unseen.
  std::set<std::string> seen;
  for (const auto& kv : map) {
    const std::string k = kv.first.IsScalar() ? kv.first.Scalar() : std::string();
    if (known.count(k) == 0) fail(path, kv.first.Mark(), "unknown key '" + k + "' in " + where);
    if (!seen.insert(k).second) fail(path, kv.first.Mark(), "key '" + k + "' is given twice in " + where);
  }
}

ControllerConfig controller(const std::string& path, const YAML::Node& n) {
  if (!n.IsMap()) fail(path, n.Mark(), "each controller wants keys (address, port, framing, host_port, name, boards)");
  onlyKeys(path, n, {"address", "port", "framing", "host_port", "name", "boards"}, "a controller");
  ControllerConfig c;
  if (!n["address"]) fail(path, n.Mark(), "a controller wants an address");
  c.address = scalar(path, n["address"], "address");
  in_addr a{};
  // A NUL ("\0" in a quoted scalar) would end the address inet_pton reads, the rest
  // going on into the controller's label.
  if (c.address.find('\0') != std::string::npos || inet_pton(AF_INET, c.address.c_str(), &a) != 1)
    fail(path, n["address"].Mark(), "address wants an IPv4 address such as 10.123.13.101, not '" + c.address + "'");
  if (n["port"]) c.port = integer(path, n["port"], "port", 1, 65535);
  if (n["host_port"]) c.hostPort = integer(path, n["host_port"], "host_port", 0, 65535);
  if (n["framing"]) {
    const std::string f = scalar(path, n["framing"], "framing");
    if (f == "ddtoip") c.framing = Framing::DDToIP;
    else if (f == "cw-net") c.framing = Framing::CwNet;
    else fail(path, n["framing"].Mark(), "framing wants ddtoip or cw-net, not '" + f + "'");
  }
  if (n["name"]) c.name = scalar(path, n["name"], "name");
  const YAML::Node b = n["boards"];
  if (!b) fail(path, n.Mark(), "a controller wants boards: a list of SDI addresses 1..15, or all");
  if (b.IsScalar() && b.Scalar() == "all") {
    c.allBoards = true;
  } else if (b.IsSequence() && b.size() > 0) {
    std::set<int> seen;
    for (const auto& e : b) {
      const int sdi = integer(path, e, "an SDI address", 1, 15);
      if (!seen.insert(sdi).second) fail(path, e.Mark(), "SDI address " + std::to_string(sdi) + " is listed twice");
      c.boards.push_back(sdi);
    }
  } else {
    fail(path, b.Mark(), "boards wants a list of SDI addresses 1..15, or all");
  }
  return c;
}

}  // namespace

Config parseConfig(const std::string& text, const std::string& path) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    fail(path, e.mark, e.msg);
  }
  if (!root.IsMap()) fail(path, root.Mark(), "the configuration wants keys (interval, timeout, rescan, controllers)");
  onlyKeys(path, root, {"interval", "timeout", "rescan", "controllers"}, "the configuration");
  Config c;
  if (root["interval"]) c.intervalSeconds = duration(path, root["interval"], "interval");
  if (root["timeout"]) c.timeoutSeconds = duration(path, root["timeout"], "timeout");
  const YAML::Node list = root["controllers"];
  if (!list || !list.IsSequence() || list.size() == 0)
    fail(path, list ? list.Mark() : root.Mark(), "controllers wants a list of at least one controller");
  std::set<std::string> seen;
  std::set<int> hostPorts;
  for (const auto& n : list) {
    c.controllers.push_back(controller(path, n));
    const ControllerConfig& k = c.controllers.back();
    if (!seen.insert(k.address + ":" + std::to_string(k.port)).second)
      fail(path, n.Mark(), "controller " + k.address + ":" + std::to_string(k.port) + " is listed twice");
    // Each controller has its own endpoint: two cannot share one fixed host port.
    if (k.hostPort != 0 && !hostPorts.insert(k.hostPort).second)
      fail(path, n["host_port"].Mark(), "host_port " + std::to_string(k.hostPort) + " is given to two controllers");
  }
  // Only `boards: all` is ever asked again: a rescan beside board lists alone is a mistake.
  if (root["rescan"]) {
    c.rescanSeconds = duration(path, root["rescan"], "rescan");
    const bool any = std::any_of(c.controllers.begin(), c.controllers.end(),
                                 [](const ControllerConfig& k) { return k.allBoards; });
    if (!any) fail(path, root["rescan"].Mark(), "rescan applies to controllers with boards: all, and none has");
  }
  return c;
}

Config loadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError(path + ": cannot be read");
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) throw ConfigError(path + ": cannot be read");
  return parseConfig(s.str(), path);
}

}  // namespace tessaly::exporter
