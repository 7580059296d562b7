#include "app/SettingsKeys.h"

namespace tessaly {

namespace {

using F = KeyForm;

void addRange(std::vector<SettingKey>& keys, const std::string& section, const std::string& keyStem, F form,
              const std::vector<std::string>& defaults, const std::string& controlStem, int first = 1) {
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    const std::string n = std::to_string(first + static_cast<int>(i));
    keys.push_back({section, keyStem + n, form, defaults[i], controlStem + n});
  }
}

std::vector<SettingKey> buildLoadOrder() {
  std::vector<SettingKey> k;
  k.push_back({"Settings", "SaveOnExit", F::Bool, "1", field::SaveOnExit});
  k.push_back({"Settings", "MyPort", F::Int, "56789", field::MyPort});
  k.push_back({"Settings", "DevicePort", F::Int, "56789", field::DevicePort});
  k.push_back({"Main", "ACKProt", F::Int, "0", "RadioGroupAP"});
  k.push_back({"Main", "SDIAddress", F::Int, "0", "RadioGroup3"});
  k.push_back({"Main", "IPBase", F::String, "10.123.13.", field::IPBase});
  k.push_back({"Main", "IPExt", F::Int, "101", "UpDownIP"});
  k.push_back({"Main", "IPText", F::String, "10.123.13.101", "EditIP"});
  addRange(k, "InstructionTest", "Enable", F::Bool, {"1", "0", "0", "0", "0"}, "CheckBoxI");
  addRange(k, "InstructionTest", "OpCode", F::String, {"$00", "$00", "$00", "$00", "$00"}, "EditOC");
  addRange(k, "InstructionTest", "Length", F::String, {"0", "0", "0", "0", "0"}, "EditL");
  addRange(k, "InstructionTest", "Instruction", F::String, {"$00", "$00", "$00", "$00", "$00"}, "EditData");
  k.push_back({"General", "Serial", F::String, "5000", "EditSerial"});
  k.push_back({"General", "Type", F::String, "4852", "EditType"});
  k.push_back({"General", "UserText", F::String, "My User Text", "EditUT"});
  k.push_back({"General", "NCO", F::String, "3000000", "EditNCO"});
  k.push_back({"General", "PLL", F::String, "3000000", "EditPLL"});
  k.push_back({"General", "ClockSource", F::Int, "0", "RadioGroupClkSource"});
  k.push_back({"General", "Format", F::Int, "0", "RadioGroupStrFormat"});
  k.push_back({"General", "PSIPrior", F::Int, "0", "RadioGroupPP"});
  const std::vector<std::string> six1(6, "1"), six0(6, "0");
  addRange(k, "MpxAndPIDFilter", "Enable", F::Bool, six1, "CheckBoxEN");
  addRange(k, "MpxAndPIDFilter", "NPFilter", F::Bool, six1, "CheckBoxNP");
  addRange(k, "MpxAndPIDFilter", "DVPin", F::Bool, six0, "CheckBoxDV");
  addRange(k, "MpxAndPIDFilter", "TSPErrorF", F::Bool, six0, "CheckBoxTSP");
  k.push_back({"MpxAndPIDFilter", "TSInput", F::Int, "0", "RadioGroupTS"});
  k.push_back({"MpxAndPIDFilter", "PID", F::String, "0", "EditPID"});
  k.push_back({"MpxAndPIDFilter", "Remap", F::String, "0", "EditREMAP"});
  k.push_back({"MpxAndPIDFilter", "RemapCB", F::Bool, "0", "CheckBoxREMAP"});
  k.push_back({"PSIInserter", "ACC", F::Bool, "1", "CheckBoxACC"});
  k.push_back({"PSIInserter", "Fix", F::String, "15", "EditFix"});
  k.push_back({"PSIInserter", "PIDPSI", F::String, "1000", "EditPIDPSI"});
  k.push_back({"PSIInserter", "Timer", F::String, "10", "EditTimer"});
  k.push_back({"PSIInserter", "Address", F::String, "0", "EditAddress"});
  k.push_back({"PSIInserter", "PacketType", F::Int, "0", "RadioGroupPT"});
  k.push_back({"MFSetup", "Show", F::Int, "0", field::ShowManufacturerPage});
  k.push_back({"MFSetup", "TestPort", F::String, "58100", "EditTP"});
  addRange(k, "MFSetup", "AdditionalPID", F::String, {"150", "151", "160"}, "EditAP");
  addRange(k, "MFSetup", "MulticastIP", F::String, {"239", "123", "13", "100"}, "EditMIP");
  for (int i = 1; i <= 3; ++i) {
    const std::string n = std::to_string(i);
    k.push_back({"MFSetup", "AdditionalPID" + n + "CB", F::Bool, "0", "CheckBoxAP" + n});
  }
  k.push_back({"MFSetup", "MulticastIPCB", F::Bool, "0", "CheckBoxMIP"});
  return k;
}

const SettingKey& find(const std::vector<SettingKey>& keys, const std::string& section, const std::string& key) {
  for (const auto& k : keys)
    if (k.section == section && k.key == key) return k;
  static const SettingKey none{};
  return none;
}

std::vector<SettingKey> buildSaveOrder() {
  const auto& load = loadOrder();
  std::vector<SettingKey> s;
  auto add = [&](const std::string& section, const std::string& key) { s.push_back(find(load, section, key)); };
  auto addN = [&](const std::string& section, const std::string& stem, int count, const std::string& suffix = "") {
    for (int i = 1; i <= count; ++i) add(section, stem + std::to_string(i) + suffix);
  };
  for (const char* key : {"IPBase", "IPText", "ACKProt", "SDIAddress", "IPExt"}) add("Main", key);
  addN("InstructionTest", "Enable", 5);
  addN("InstructionTest", "OpCode", 5);
  addN("InstructionTest", "Length", 5);
  addN("InstructionTest", "Instruction", 5);
  // Written from the Instruction Test page's user text, never read back.
  s.push_back({"InstructionTest", "UserText", F::String, "", "Edit1"});
  for (const char* key : {"Serial", "Type", "UserText", "NCO", "PLL", "ClockSource", "Format", "PSIPrior"})
    add("General", key);
  addN("MpxAndPIDFilter", "Enable", 6);
  addN("MpxAndPIDFilter", "NPFilter", 6);
  addN("MpxAndPIDFilter", "DVPin", 6);
  addN("MpxAndPIDFilter", "TSPErrorF", 6);
  for (const char* key : {"TSInput", "PID", "Remap", "RemapCB"}) add("MpxAndPIDFilter", key);
  for (const char* key : {"PacketType", "ACC", "Fix", "PIDPSI", "Timer", "Address"}) add("PSIInserter", key);
  add("MFSetup", "TestPort");
  addN("MFSetup", "AdditionalPID", 3);
  addN("MFSetup", "MulticastIP", 4);
  addN("MFSetup", "AdditionalPID", 3, "CB");
  add("MFSetup", "MulticastIPCB");
  return s;
}

}  // namespace

const std::vector<SettingKey>& loadOrder() {
  static const std::vector<SettingKey> keys = buildLoadOrder();
  return keys;
}

const std::vector<SettingKey>& saveOrder() {
  static const std::vector<SettingKey> keys = buildSaveOrder();
  return keys;
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
