#pragma once
// The settings file's key table, as data: section, key, value form, default, and
// the control (by its object name) or main-window field the value belongs to.
// Load runs in table order; save at exit runs in saveOrder().
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
};

// Every key in the order the create handler reads it. Keys that are only ever
// written (InstructionTest/UserText) are not in it.
const std::vector<SettingKey>& loadOrder();
// Every key written at exit after Settings/SaveOnExit, in order. Includes
// InstructionTest/UserText (from Edit1); excludes Settings/* and MFSetup/Show.
const std::vector<SettingKey>& saveOrder();

constexpr const char* kSettingsFileName = "Settings.ini";
// The working directory joined with the file name by the platform's separator.
std::string settingsPath(const std::string& workingDirectory);

}  // namespace tessaly
