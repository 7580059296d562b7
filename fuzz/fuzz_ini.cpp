// The settings loader on any file text: every key of the table is looked up, and a
// write into the text keeps it loadable.
#include "FuzzInput.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "text/Numbers.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string value;
  for (const auto& key : loadOrder()) {
    if (IniFile::lookup(text, key.section, key.key, value)) {
      if (value.size() > 2047) __builtin_trap();
      (void)readIntOr(value, 0);
    }
  }
  const std::string written = IniFile::replaced(text, "Settings", "MyPort", "1234");
  if (!IniFile::lookup(written, "Settings", "MyPort", value)) __builtin_trap();
  return 0;
}
