#include "settings/SettingsKeys.h"

#include <algorithm>

namespace tessaly {

namespace {

using F = KeyForm;

// Keys stem1..stemN for controls controlStem1..N, written at exit from savedFirst on.
void addRange(std::vector<SettingKey>& keys, const std::string& section, const std::string& keyStem, F form,
              const std::vector<std::string>& defaults, const std::string& controlStem, int savedFirst,
              const std::string& keySuffix = "") {
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    const std::string n = std::to_string(1 + i);
    keys.push_back({section, keyStem + n + keySuffix, form, defaults[i], controlStem + n, true,
                    savedFirst + static_cast<int>(i)});
  }
}

// The create handler reads the keys in this order; the last column is the order
// they are written at exit (Settings/* and MFSetup/Show are not written there).
std::vector<SettingKey> buildTable() {
  const bool read = true, writtenOnly = false;
  std::vector<SettingKey> k;
  k.push_back({"Settings", "SaveOnExit", F::Bool, "1", field::SaveOnExit, read, 0});
  k.push_back({"Settings", "MyPort", F::Int, "56789", field::MyPort, read, 0});
  k.push_back({"Settings", "DevicePort", F::Int, "56789", field::DevicePort, read, 0});
  k.push_back({"Main", "ACKProt", F::Int, "0", "RadioGroupAP", read, 3});
  k.push_back({"Main", "SDIAddress", F::Int, "0", "RadioGroup3", read, 4});
  k.push_back({"Main", "IPBase", F::String, "10.123.13.", field::IPBase, read, 1});
  k.push_back({"Main", "IPExt", F::Int, "101", "UpDownIP", read, 5});
  k.push_back({"Main", "IPText", F::String, "10.123.13.101", "EditIP", read, 2});
  addRange(k, "InstructionTest", "Enable", F::Bool, {"1", "0", "0", "0", "0"}, "CheckBoxI", 6);
  addRange(k, "InstructionTest", "OpCode", F::String, {"$00", "$00", "$00", "$00", "$00"}, "EditOC", 11);
  addRange(k, "InstructionTest", "Length", F::String, {"0", "0", "0", "0", "0"}, "EditL", 16);
  addRange(k, "InstructionTest", "Instruction", F::String, {"$00", "$00", "$00", "$00", "$00"}, "EditData", 21);
  // Written from the Instruction Test page's user text, never read back.
  k.push_back({"InstructionTest", "UserText", F::String, "", "Edit1", writtenOnly, 26});
  k.push_back({"General", "Serial", F::String, "5000", "EditSerial", read, 27});
  k.push_back({"General", "Type", F::String, "4852", "EditType", read, 28});
  k.push_back({"General", "UserText", F::String, "My User Text", "EditUT", read, 29});
  k.push_back({"General", "NCO", F::String, "3000000", "EditNCO", read, 30});
  k.push_back({"General", "PLL", F::String, "3000000", "EditPLL", read, 31});
  k.push_back({"General", "ClockSource", F::Int, "0", "RadioGroupClkSource", read, 32});
  k.push_back({"General", "Format", F::Int, "0", "RadioGroupStrFormat", read, 33});
  k.push_back({"General", "PSIPrior", F::Int, "0", "RadioGroupPP", read, 34});
  const std::vector<std::string> six1(6, "1"), six0(6, "0");
  addRange(k, "MpxAndPIDFilter", "Enable", F::Bool, six1, "CheckBoxEN", 35);
  addRange(k, "MpxAndPIDFilter", "NPFilter", F::Bool, six1, "CheckBoxNP", 41);
  addRange(k, "MpxAndPIDFilter", "DVPin", F::Bool, six0, "CheckBoxDV", 47);
  addRange(k, "MpxAndPIDFilter", "TSPErrorF", F::Bool, six0, "CheckBoxTSP", 53);
  k.push_back({"MpxAndPIDFilter", "TSInput", F::Int, "0", "RadioGroupTS", read, 59});
  k.push_back({"MpxAndPIDFilter", "PID", F::String, "0", "EditPID", read, 60});
  k.push_back({"MpxAndPIDFilter", "Remap", F::String, "0", "EditREMAP", read, 61});
  k.push_back({"MpxAndPIDFilter", "RemapCB", F::Bool, "0", "CheckBoxREMAP", read, 62});
  k.push_back({"PSIInserter", "ACC", F::Bool, "1", "CheckBoxACC", read, 64});
  k.push_back({"PSIInserter", "Fix", F::String, "15", "EditFix", read, 65});
  k.push_back({"PSIInserter", "PIDPSI", F::String, "1000", "EditPIDPSI", read, 66});
  k.push_back({"PSIInserter", "Timer", F::String, "10", "EditTimer", read, 67});
  k.push_back({"PSIInserter", "Address", F::String, "0", "EditAddress", read, 68});
  k.push_back({"PSIInserter", "PacketType", F::Int, "0", "RadioGroupPT", read, 63});
  k.push_back({"MFSetup", "Show", F::Int, "0", field::ShowManufacturerPage, read, 0});
  k.push_back({"MFSetup", "TestPort", F::String, "58100", "EditTP", read, 69});
  addRange(k, "MFSetup", "AdditionalPID", F::String, {"150", "151", "160"}, "EditAP", 70);
  addRange(k, "MFSetup", "MulticastIP", F::String, {"239", "123", "13", "100"}, "EditMIP", 73);
  addRange(k, "MFSetup", "AdditionalPID", F::Bool, {"0", "0", "0"}, "CheckBoxAP", 77, "CB");
  k.push_back({"MFSetup", "MulticastIPCB", F::Bool, "0", "CheckBoxMIP", read, 80});
  return k;
}

}  // namespace

const std::vector<SettingKey>& settingKeys() {
  static const std::vector<SettingKey> keys = buildTable();
  return keys;
}

const std::vector<SettingKey>& loadOrder() {
  static const std::vector<SettingKey> keys = [] {
    std::vector<SettingKey> out;
    for (const auto& k : settingKeys())
      if (k.loaded) out.push_back(k);
    return out;
  }();
  return keys;
}

const std::vector<SettingKey>& saveOrder() {
  static const std::vector<SettingKey> keys = [] {
    std::vector<SettingKey> out;
    for (const auto& k : settingKeys())
      if (k.savePosition > 0) out.push_back(k);
    std::stable_sort(out.begin(), out.end(),
                     [](const SettingKey& a, const SettingKey& b) { return a.savePosition < b.savePosition; });
    return out;
  }();
  return keys;
}

const SettingKey& settingKeyFor(const std::string& target) {
  for (const auto& k : settingKeys())
    if (k.target == target) return k;
  static const SettingKey none{};
  return none;
}

std::string settingsPath(const std::string& workingDirectory) {
#ifdef _WIN32
  const char sep = '\\';
#else
  const char sep = '/';
#endif
  if (!workingDirectory.empty() && (workingDirectory.back() == '/' || workingDirectory.back() == sep))
    return workingDirectory + kSettingsFileName;
  return workingDirectory + sep + kSettingsFileName;
}

}  // namespace tessaly
