#pragma once
// The settings file's key table, as data: section, key, value form, default, the
// control (by its object name) or main-window field the value belongs to, and where
// the key stands when the file is read and when it is written.
#include <string>
#include <vector>

namespace tessaly {

enum class KeyForm { Bool, Int, String };

// Targets that are fields of the main window rather than controls.
namespace field {
constexpr const char* SaveOnExit = "@SaveOnExit";
constexpr const char* MyPort = "@MyPort";
constexpr const char* DevicePort = "@DevicePort";
constexpr const char* IPBase = "@IPBase";
constexpr const char* ShowManufacturerPage = "@Show";
}  // namespace field

struct SettingKey {
  std::string section;
  std::string key;
  KeyForm form;
  std::string defaultValue;  // as it would stand in the file ("1", "56789", "10.123.13.")
  std::string target;        // a control's objectName, or one of field::*
  bool loaded = true;        // read by the create handler (the table's order is the load order)
  int savePosition = 0;      // 1.. = its place among the keys written at exit; 0 = not written there
};

// The one table, in load order.
const std::vector<SettingKey>& settingKeys();
// Every key in the order the create handler reads it. Keys that are only ever
// written (InstructionTest/UserText) are not in it.
const std::vector<SettingKey>& loadOrder();
// Every key written at exit after Settings/SaveOnExit, in order. Includes
// InstructionTest/UserText (from Edit1); excludes Settings/* and MFSetup/Show.
const std::vector<SettingKey>& saveOrder();
// The key whose target is `target` (a control's objectName or one of field::*).
const SettingKey& settingKeyFor(const std::string& target);

constexpr const char* kSettingsFileName = "Settings.ini";
// The working directory joined with the file name by the platform's separator.
std::string settingsPath(const std::string& workingDirectory);

}  // namespace tessaly
