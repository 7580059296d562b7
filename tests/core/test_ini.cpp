#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "app/IniFile.h"
#include "app/SettingsKeys.h"

using namespace tessaly;
namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("tessaly_ini_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, ec);
    fs::remove_all(path, ec);
  }
  std::string file(const char* name = "Settings.ini") const { return (path / name).string(); }
};

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(IniFile, ReadRules) {
  TempDir dir;
  writeFile(dir.file(),
            "; comment\n"
            "[Settings]\n"
            "  MyPort = $DDD5  \n"
            "DevicePort=0xDDD5\n"
            "SaveOnExit=0\n"
            "[ main ]\r\n"
            "ipbase=\"127.0.0.\"\r\n"
            "IPExt=abc\r\n"
            "Empty=\n"
            "[General]\n"
            "Serial=  12 34 \n");
  IniFile ini(dir.file());
  EXPECT_EQ(ini.readInteger("Settings", "MyPort", 1), 56789);
  EXPECT_EQ(ini.readInteger("SETTINGS", "deviceport", 1), 56789);
  EXPECT_FALSE(ini.readBool("Settings", "SaveOnExit", true));
  EXPECT_EQ(ini.readString("Main", "IPBase", "x"), "127.0.0.");
  EXPECT_EQ(ini.readInteger("Main", "IPExt", 101), 101);  // not a number: the default
  EXPECT_EQ(ini.readString("Main", "Empty", "x"), "");    // present but empty
  EXPECT_EQ(ini.readString("Main", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.readString("Nowhere", "IPBase", "dflt"), "dflt");
  EXPECT_EQ(ini.readString("General", "Serial", ""), "12 34");
  EXPECT_EQ(ini.readInteger("Main", "Missing", -7), -7);
}

TEST(IniFile, MissingFileGivesDefaults) {
  TempDir dir;
  IniFile ini(dir.file("none.ini"));
  EXPECT_EQ(ini.readInteger("Settings", "MyPort", 56789), 56789);
  EXPECT_TRUE(ini.readBool("Settings", "SaveOnExit", true));
}

TEST(IniFile, ValueIsCutAt2047Characters) {
  TempDir dir;
  writeFile(dir.file(), "[A]\nk=" + std::string(5000, 'v') + "\n");
  EXPECT_EQ(IniFile(dir.file()).readString("A", "k", "").size(), 2047u);
}

TEST(IniFile, WriteChangesExactlyOneLine) {
  TempDir dir;
  const std::string original =
      "[Settings]\r\nSaveOnExit=1\r\nMyPort=56789\r\n\r\n; keep me\r\n[Main]\r\nIPBase=10.0.0.\r\nIPExt=7\r\n";
  writeFile(dir.file(), original);
  IniFile ini(dir.file());
  ini.writeInteger("settings", "MYPORT", 1234);
  std::string expected = original;
  expected.replace(expected.find("MyPort=56789"), 12, "MYPORT=1234");
  EXPECT_EQ(readFile(dir.file()), expected);
  EXPECT_EQ(ini.readInteger("Settings", "MyPort", 0), 1234);
}

TEST(IniFile, NewKeysAndSectionsGoAtTheEnd) {
  TempDir dir;
  writeFile(dir.file(), "[A]\nx=1\n\n[B]\ny=2\n");
  IniFile ini(dir.file());
  ini.writeString("A", "z", "3");
  ini.writeString("C", "w", "4");
  EXPECT_EQ(readFile(dir.file()), "[A]\nx=1\nz=3\n\n[B]\ny=2\n[C]\nw=4\n");
  // A file without a final line break still gets whole lines.
  writeFile(dir.file(), "[A]\nx=1");
  ini.writeString("A", "y", "2");
  EXPECT_EQ(readFile(dir.file()), "[A]\nx=1\ny=2\n");
}

TEST(IniFile, ValueWithLineBreakStaysOnItsLine) {
  TempDir dir;
  IniFile ini(dir.file());
  ini.writeString("A", "k", "one\n[B]\nk=evil");
  EXPECT_EQ(ini.readString("B", "k", "none"), "none");
  EXPECT_EQ(ini.readString("A", "k", ""), "one [B] k=evil");
}

TEST(IniFile, FailedWriteRaisesWithThePath) {
  TempDir dir;
  const std::string path = (dir.path / "missing_dir" / "Settings.ini").string();
  IniFile ini(path);
  try {
    ini.writeBool("Settings", "SaveOnExit", true);
    FAIL() << "no error";
  } catch (const IniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

TEST(IniFile, HostileFilesLoadDefaultsWithoutCrashing) {
  TempDir dir;
  std::mt19937 rng(7);
  std::vector<std::string> files;
  std::string random(200000, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  files.push_back(random);
  files.push_back(std::string(1000, '\0'));
  files.push_back("[Settings]\n" + std::string(1 << 20, 'k') + "=1\nMyPort=" + std::string(1 << 20, '9') + "\n");
  files.push_back("MyPort=1\nSaveOnExit=0\n[Settings");
  files.push_back("[[[]]]\n=\n==\n[\n]\n[Settings]\n=5\n");
  for (const auto& text : files) {
    writeFile(dir.file(), text);
    IniFile ini(dir.file());
    for (const auto& key : loadOrder()) (void)ini.readString(key.section, key.key, key.defaultValue);
    EXPECT_EQ(ini.readInteger("Settings", "MyPort", 56789), 56789);
    EXPECT_TRUE(ini.readBool("Settings", "SaveOnExit", true));
    ini.writeInteger("Settings", "MyPort", 5);
    EXPECT_EQ(ini.readInteger("Settings", "MyPort", 0), 5);
  }
}

TEST(SettingsKeys, TableShapeAndOrders) {
  const auto& load = loadOrder();
  const auto& save = saveOrder();
  ASSERT_FALSE(load.empty());
  EXPECT_EQ(load.front().key, "SaveOnExit");
  EXPECT_EQ(load[1].key, "MyPort");
  EXPECT_EQ(load[2].key, "DevicePort");
  EXPECT_EQ(load[3].key, "ACKProt");
  // Every saved key except the write-only user text is loaded, and no key twice.
  std::set<std::string> loaded, saved;
  for (const auto& k : load) EXPECT_TRUE(loaded.insert(k.section + "/" + k.key).second) << k.key;
  for (const auto& k : save) {
    EXPECT_TRUE(saved.insert(k.section + "/" + k.key).second) << k.key;
    EXPECT_FALSE(k.target.empty()) << k.section << "/" << k.key;
    if (k.key != "UserText" || k.section != "InstructionTest") {
      EXPECT_TRUE(loaded.count(k.section + "/" + k.key)) << k.key;
    }
  }
  for (const char* never : {"Settings/SaveOnExit", "Settings/MyPort", "Settings/DevicePort", "MFSetup/Show"})
    EXPECT_FALSE(saved.count(never)) << never;
  EXPECT_EQ(saved.size() + 3, loaded.size());  // four keys never saved, one only saved
  // Sections appear in save order: Main, InstructionTest, General, MpxAndPIDFilter, PSIInserter, MFSetup.
  std::vector<std::string> sections;
  for (const auto& k : save)
    if (sections.empty() || sections.back() != k.section) sections.push_back(k.section);
  EXPECT_EQ(sections, (std::vector<std::string>{"Main", "InstructionTest", "General", "MpxAndPIDFilter", "PSIInserter",
                                                "MFSetup"}));
  EXPECT_EQ(save.front().key, "IPBase");
  EXPECT_EQ(save[4].key, "IPExt");
}

TEST(SettingsKeys, DefaultsOfNote) {
  auto find = [](const std::string& s, const std::string& k) {
    for (const auto& key : loadOrder())
      if (key.section == s && key.key == k) return key;
    return SettingKey{};
  };
  struct Case {
    const char *section, *key, *def, *target;
  } cases[] = {
      {"Settings", "MyPort", "56789", field::MyPort},   {"Main", "IPBase", "10.123.13.", field::IPBase},
      {"Main", "IPExt", "101", "UpDownIP"},             {"General", "Serial", "5000", "EditSerial"},
      {"General", "UserText", "My User Text", "EditUT"}, {"MpxAndPIDFilter", "NPFilter6", "1", "CheckBoxNP6"},
      {"MpxAndPIDFilter", "DVPin1", "0", "CheckBoxDV1"}, {"MFSetup", "MulticastIP4", "100", "EditMIP4"},
      {"MFSetup", "AdditionalPID2CB", "0", "CheckBoxAP2"}, {"MFSetup", "Show", "0", field::ShowManufacturerPage},
      {"InstructionTest", "Enable1", "1", "CheckBoxI1"}, {"InstructionTest", "Instruction5", "$00", "EditData5"},
  };
  for (const auto& c : cases) {
    SettingKey k = find(c.section, c.key);
    EXPECT_EQ(k.defaultValue, c.def) << c.key;
    EXPECT_EQ(k.target, c.target) << c.key;
  }
}

TEST(SettingsKeys, PathJoinsNatively) {
  EXPECT_EQ(settingsPath("/home/u/work"), "/home/u/work/Settings.ini");
  EXPECT_EQ(settingsPath("/"), "/Settings.ini");
}
