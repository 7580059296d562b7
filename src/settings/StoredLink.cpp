#include "settings/StoredLink.h"

#include <algorithm>

#include "settings/SettingsKeys.h"
#include "text/Numbers.h"

namespace tessaly {

LinkSettings readLinkSettings(const IniFile& ini) {
  const auto readInt = [&ini](const std::string& target) {
    const SettingKey& k = settingKeyFor(target);
    return ini.readInteger(k.section, k.key, readIntOr(k.defaultValue, 0));
  };
  constexpr int kFramings = 2, kSdiAddresses = 15;
  LinkSettings l;
  l.hostPort = readInt(field::MyPort);
  l.devicePort = readInt(field::DevicePort);
  const SettingKey& base = settingKeyFor(field::IPBase);
  l.ipBase = ini.readString(base.section, base.key, base.defaultValue);
  l.ipExtension = std::max(0, std::min(255, readInt("UpDownIP")));
  l.framing = std::min(kFramings - 1, readInt("RadioGroupAP")) == 1 ? Framing::DDToIP : Framing::CwNet;
  const std::int32_t sdiIndex = std::min(kSdiAddresses - 1, readInt("RadioGroup3"));
  l.sdiAddress = static_cast<std::uint8_t>(sdiIndex < 0 ? 0 : sdiIndex + 1);
  return l;
}

}  // namespace tessaly
