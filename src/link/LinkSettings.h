#pragma once
// The link settings: framing, SDI address, ports, and the device IP as the IP base
// followed by the last octet; "Change IP" splits a typed address into those two parts.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/Framing.h"

namespace tessaly {

constexpr int kDefaultPort = 56789;
constexpr const char* kDefaultIpBase = "10.123.13.";
constexpr int kDefaultIpExt = 101;

struct IpSplit {
  std::string base;  // up to and including the last dot, unvalidated
  int extension;     // 0..255
};

// "Change IP": at least 7 characters, exactly three dots, the last after position 6
// (counted from 1) and not the last character; the text after it reads as a number
// 0..255. Anything else gives nothing (and changes nothing).
std::optional<IpSplit> splitChangeIp(std::string_view text);

std::string deviceIp(const std::string& base, int extension);

// The link as the user set it: what every request is framed, addressed and sent with.
struct LinkSettings {
  Framing framing = Framing::CwNet;
  std::uint8_t sdiAddress = 1;  // 1..15; 0 when none is selected
  std::string ipBase = kDefaultIpBase;
  int ipExtension = kDefaultIpExt;
  int hostPort = kDefaultPort;
  int devicePort = kDefaultPort;

  // The IP base followed by the extension in plain decimal.
  std::string deviceIp() const { return tessaly::deviceIp(ipBase, ipExtension); }
};

}  // namespace tessaly
