#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "Unprivileged.h"

using namespace tessaly;
using tessaly::testing::Unprivileged;
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

// Edits stay in memory until save(), which applies them to the file as it is on disk
// then, with every other byte as it was.
TEST(IniFile, EditsKeepEveryOtherByte) {
  struct Write {
    const char *section, *key;
    std::string value;
  };
  struct Read {
    const char *section, *key;
    std::string value;  // "<none>": the key is absent
    std::string onDisk = "<same>";  // when it differs: what a store made after the save reads
  };
  struct Case {
    const char* name;
    std::string before;
    std::vector<Write> writes;
    std::string after;
    std::vector<Read> reads;
    std::vector<Write> savedEarlier = {};  // written and saved before `writes`
    std::string meanwhile = {};            // when set: the file as another program leaves it before `writes`
  } cases[] = {
      {"existing key replaced in place, any case, CRLF kept",
       "[Settings]\r\nSaveOnExit=1\r\nMyPort=56789\r\n\r\n; keep me\r\n[Main]\r\nIPBase=10.0.0.\r\nIPExt=7\r\n",
       {{"settings", "MYPORT", "1234"}},
       "[Settings]\r\nSaveOnExit=1\r\nMYPORT=1234\r\n\r\n; keep me\r\n[Main]\r\nIPBase=10.0.0.\r\nIPExt=7\r\n",
       {{"Settings", "MyPort", "1234"}, {"main", "ipext", "7"}}},
      {"new key at the end of its section, new section at the end of the file",
       "[A]\nx=1\n\n[B]\ny=2\n",
       {{"A", "z", "3"}, {"C", "w", "4"}, {"A", "v", "5"}},
       "[A]\nx=1\nz=3\nv=5\n\n[B]\ny=2\n[C]\nw=4\n",
       {{"A", "v", "5"}, {"C", "w", "4"}}},
      {"no final line break", "[A]\nx=1", {{"A", "y", "2"}}, "[A]\nx=1\ny=2\n", {{"A", "x", "1"}}},
      {"CRLF file: every added line ends with CRLF",
       "[A]\r\nx=1\r\n\r\n[B]\r\ny=2",
       {{"A", "z", "3"}, {"B", "q", "5"}, {"C", "w", "4"}},
       "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\nq=5\r\n[C]\r\nw=4\r\n",
       {{"B", "q", "5"}}},
      {"8-bit bytes read and written unchanged",
       "[General]\nUserText=M\xfcller \xa7\xb5\n",
       {{"General", "Serial", "\xe9\xff"}},
       "[General]\nUserText=M\xfcller \xa7\xb5\nSerial=\xe9\xff\n",
       {{"General", "UserText", "M\xfcller \xa7\xb5"}, {"General", "Serial", "\xe9\xff"}}},
      {"a quoted empty value reads as empty", "[A]\nKey=\"\"\n", {}, "[A]\nKey=\"\"\n", {{"A", "Key", ""}}},
      {"a line break in a value stays on its line",
       "",
       {{"A", "k", "one\n[B]\nk=evil\r"}},
       "[A]\nk=one [B] k=evil \n",
       {{"B", "k", "<none>"}, {"A", "k", "one [B] k=evil"}}},
      {"a repeated section: reads find the first key, writes go to the first section",
       "[A]\nx=1\n[B]\n[a]\ny=2\n",
       {{"A", "x", "3"}, {"A", "z", "4"}},
       "[A]\nx=3\nz=4\n[B]\n[a]\ny=2\n",
       {{"A", "y", "2"}, {"a", "x", "3"}}},
      {"a section and a key another program added meanwhile stay; reads keep the start",
       "[Settings]\r\nSaveOnExit=1\r\n[Main]\r\nIPExt=7\r\n",
       {{"Settings", "SaveOnExit", "0"}},
       "[Settings]\r\nSaveOnExit=0\r\nMine=2\r\n[Main]\r\nIPExt=9\r\n[Editor]\r\nx=1\r\n",
       {{"Settings", "Mine", "<none>", "2"}, {"Main", "IPExt", "7", "9"}, {"Settings", "SaveOnExit", "0"}},
       {},
       "[Settings]\r\nSaveOnExit=1\r\nMine=2\r\n[Main]\r\nIPExt=9\r\n[Editor]\r\nx=1\r\n"},
      {"a save writes only the keys written since the last one",
       "[Settings]\nMyPort=1\n",
       {{"Settings", "SaveOnExit", "0"}},
       "[Settings]\nMyPort=7\nSaveOnExit=0\n",
       {{"Settings", "MyPort", "5", "7"}},
       {{"Settings", "MyPort", "5"}},
       "[Settings]\nMyPort=7\n"},
      {"a file removed meanwhile is made again from this save's keys",
       "[A]\nx=1\n",
       {{"B", "y", "2"}},
       "[B]\ny=2\n",
       {{"A", "x", "1", "<none>"}},
       {},
       "<removed>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    writeFile(dir.file(), c.before);
    IniFile ini(dir.file());
    ASSERT_TRUE(ini.loaded());
    for (const auto& w : c.savedEarlier) ini.writeString(w.section, w.key, w.value);
    if (!c.savedEarlier.empty()) ini.save();
    if (c.meanwhile == "<removed>") fs::remove(dir.file());
    else if (!c.meanwhile.empty()) writeFile(dir.file(), c.meanwhile);
    const std::string onDisk = readFile(dir.file());
    for (const auto& w : c.writes) ini.writeString(w.section, w.key, w.value);
    EXPECT_EQ(readFile(dir.file()), onDisk);  // nothing on disk before save()
    ini.save();
    EXPECT_EQ(readFile(dir.file()), c.after);
    IniFile again(dir.file());
    for (const auto& r : c.reads) {
      EXPECT_EQ(ini.readString(r.section, r.key, "<none>"), r.value) << r.key;
      EXPECT_EQ(again.readString(r.section, r.key, "<none>"), r.onDisk == "<same>" ? r.value : r.onDisk) << r.key;
    }
  }
}

TEST(IniFile, FailedWriteRaisesWithThePath) {
  TempDir dir;
  const std::string path = (dir.path / "missing_dir" / "Settings.ini").string();
  IniFile ini(path);
  ini.writeBool("Settings", "SaveOnExit", true);
  try {
    ini.save();
    FAIL() << "no error";
  } catch (const IniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

// A file that is there but cannot be read gives the defaults, says why, and is never
// replaced, at start or when it turns so before a save. None of these may block or
// read without end. Every special file is one the test makes in its own directory.
TEST(IniFile, UnreadableFilesAreNeverWritten) {
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> make;  // false: cannot be made here
    const char* reason;
    bool unprivileged;  // the store runs as an ordinary user (root reads anything)
  } cases[] = {
      {"no read permission",
       [](const std::string& p) {
         writeFile(p, "[Settings]\nMyPort=1\n");
         return ::chmod(p.c_str(), 0222) == 0;
       },
       "Permission denied", true},
      {"a directory", [](const std::string& p) { return fs::create_directory(p); }, "is a directory", false},
      {"a FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0644) == 0; }, "is not a regular file", false},
      {"a link to a FIFO",
       [](const std::string& p) {
         const std::string fifo = p + ".fifo";
         if (::mkfifo(fifo.c_str(), 0666) != 0) return false;
         fs::create_symlink(fifo, p);
         return true;
       },
       "is not a regular file", false},
      {"a link to a socket",
       [](const std::string& p) {
         const std::string path = (fs::path(p).parent_path() / "s").string();
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         if (path.size() >= sizeof addr.sun_path) return false;
         std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
         if (fd >= 0) ::close(fd);  // the socket file stays
         if (bound) fs::create_symlink(path, p);
         return bound;
       },
       "is not a regular file", false},
      {"a link to a character device of its own (as /dev/zero)",
       [](const std::string& p) {
         const std::string node = p + ".zero";
         if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0) return false;  // needs root
         fs::create_symlink(node, p);
         return true;
       },
       "is not a regular file", false},
      {"a link to nothing",
       [](const std::string& p) {
         fs::create_symlink("nowhere.ini", p);
         return true;
       },
       "does not exist", false},
      {"larger than 64 MB",
       [](const std::string& p) {
         writeFile(p, "[Settings]\nMyPort=1\n");
         fs::resize_file(p, (std::uintmax_t{64} << 20) + 1);  // sparse
         return true;
       },
       "is larger than 64 MB", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool atStart : {true, false}) {
      SCOPED_TRACE(atStart ? "unreadable at start" : "unreadable when saved");
      TempDir dir;
      const std::string path = dir.file();
      std::optional<IniFile> ini;
      if (!atStart) {
        writeFile(path, "[Settings]\nMyPort=2\n");
        {
          Unprivileged as(c.unprivileged);
          ini.emplace(path);
        }
        ASSERT_TRUE(ini->loaded());
        fs::remove(path);
      }
      if (!c.make(path)) continue;  // not possible for this user
      const auto entries = [&] { return std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()); };
      const auto entriesBefore = entries();
      struct stat before {};
      ASSERT_EQ(::lstat(path.c_str(), &before), 0);
      {
        Unprivileged as(c.unprivileged);
        if (atStart) {
          ini.emplace(path);
          EXPECT_FALSE(ini->loaded());
          EXPECT_NE(ini->loadError().find(c.reason), std::string::npos) << ini->loadError();
          EXPECT_EQ(ini->readInteger("Settings", "MyPort", 56789), 56789);
        }
        ini->writeInteger("Settings", "MyPort", 5);
        EXPECT_THROW(ini->save(), IniWriteError);
      }
      struct stat after {};
      ASSERT_EQ(::lstat(path.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_size, before.st_size);
      EXPECT_EQ(entries(), entriesBefore);
    }
  }
}

// A link to a regular file is followed: the target gets the new text, the link stays,
// and so does the file's mode.
TEST(IniFile, SaveReplacesALinksTargetAndKeepsTheMode) {
  TempDir dir;
  fs::create_directory(dir.path / "real");
  const std::string target = (dir.path / "real" / "mine.ini").string();
  writeFile(target, "[A]\nx=1\n");
  ::chmod(target.c_str(), 0640);
  fs::create_symlink("real/mine.ini", dir.file());
  IniFile ini(dir.file());
  EXPECT_EQ(ini.readString("A", "x", ""), "1");
  ini.writeString("A", "x", "2");
  ini.save();
  EXPECT_TRUE(fs::is_symlink(dir.file()));
  EXPECT_EQ(readFile(target), "[A]\nx=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "real"), fs::directory_iterator()), 1);
}

namespace {

// A whole settings file: every key of the table, with its default or with a changed value.
std::string fullSettings(bool changed) {
  IniFile ini("/nonexistent-dir/Settings.ini");
  int i = 0;
  for (const auto& k : loadOrder())
    ini.writeString(k.section, k.key, changed ? "changed " + std::to_string(i++) + std::string(200, 'x') : k.defaultValue);
  return ini.text();
}

void removeAllBut(const fs::path& dir, const std::string& keep) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != keep) fs::remove(e.path());
}

}  // namespace

// A process killed at any moment while it saves leaves the old file or the complete new one.
TEST(IniFile, SaveKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
  TempDir dir;
  const std::string path = dir.file();
  const std::string oldText = fullSettings(false), newText = fullSettings(true);
  ASSERT_NE(oldText, newText);
  // Kill times spread over a few saves of this machine.
  writeFile(path, oldText);
  const auto t0 = std::chrono::steady_clock::now();
  {
    IniFile probe(path);
    probe.save();
  }
  const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  const long maxDelayUs = std::min<long>(20000, 1000 + 4 * static_cast<long>(saveUs));
  std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
  int olds = 0, news = 0;
  for (int trial = 0; trial < 200; ++trial) {
    writeFile(path, oldText);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::alarm(10);  // never outlive the test
      IniFile ini(path);
      int i = 0;
      for (const auto& k : loadOrder())
        ini.writeString(k.section, k.key, "changed " + std::to_string(i++) + std::string(200, 'x'));
      for (int n = 0; n < 1000000; ++n) ini.save();
      ::_exit(0);
    }
    ::usleep(static_cast<useconds_t>(rng() % static_cast<unsigned long>(maxDelayUs)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string now = readFile(path);
    if (now == oldText) ++olds;
    else if (now == newText) ++news;
    else FAIL() << "trial " << trial << ": a file of " << now.size() << " bytes is neither the old nor the new one";
    removeAllBut(dir.path, "Settings.ini");  // temporary files of killed saves
  }
  RecordProperty("old", olds);
  RecordProperty("new", news);
  EXPECT_GT(news, 0) << "no save ever completed: the kills did not cover the writes";
}

// A write cut short (here by a file size limit, as on a full disk) leaves the old file
// byte for byte, removes its temporary file and names the path; the next save writes
// only its own keys. Where the directory takes no new file, a writable file is
// rewritten where it stands.
TEST(IniFile, WriteThatFailsPartWayLeavesTheOldFile) {
  struct Case {
    const char* name;
    bool directoryWritable;
  } cases[] = {
      {"through a temporary file", true},
      {"in place: the directory takes no new file", false},
  };
  const std::string oldText = "[Settings]\r\nSaveOnExit=1\r\n; the user's own\r\n[Mine]\r\nkeep=this\r\n";
  const std::string savedNext =
      "[Settings]\r\nSaveOnExit=1\r\n; the user's own\r\nMyPort=5\r\n[Mine]\r\nkeep=this\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.file();
    writeFile(path, oldText);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    if (!c.directoryWritable) {
      ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
      ASSERT_EQ(::chmod(dir.path.c_str(), 0555), 0);
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::alarm(10);  // never outlive the test
      // As an ordinary user, for whom the directory's permissions hold.
      if (!c.directoryWritable && ::geteuid() == 0 &&
          (::setgid(Unprivileged::kNobody) != 0 || ::setuid(Unprivileged::kNobody) != 0))
        ::_exit(4);
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{1024, RLIM_INFINITY};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      IniFile ini(path);
      ini.writeString("General", "UserText", std::string(4096, 'x'));
      try {
        ini.save();
        ::_exit(1);  // no error raised
      } catch (const IniWriteError& e) {
        if (std::string(e.what()) != "Unable to write to " + path) ::_exit(2);
      } catch (...) {
        ::_exit(3);
      }
      if (readFile(path) != oldText) ::_exit(6);
      if (std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()) != 1) ::_exit(7);
      const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
      ::setrlimit(RLIMIT_FSIZE, &none);
      ini.writeString("Settings", "MyPort", "5");
      try {
        ini.save();
      } catch (...) {
        ::_exit(5);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(path), savedNext);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    if (!c.directoryWritable) {
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
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
    ini.save();
    EXPECT_EQ(IniFile(dir.file()).readInteger("Settings", "MyPort", 0), 5);
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
