// The settings store on a 10 MB Settings.ini: start-up (read the file, look up every
// key) and exit (set every key, write the file atomically).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

using namespace tessaly;
namespace fs = std::filesystem;

namespace {

// The whole key table and 10 MB of notes: in a section of the user's own (inTable
// false), or inside a section the panel reads and writes (the worst case).
struct BigSettings {
  fs::path dir;
  std::string path;
  explicit BigSettings(bool inTable) {
    dir = fs::temp_directory_path() / ("tessaly_bench_settings_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    path = (dir / kSettingsFileName).string();
    std::string table;
    {
      IniFile ini((dir / "none" / "x.ini").string());
      for (const auto& k : loadOrder()) ini.writeString(k.section, k.key, k.defaultValue);
      table = ini.text();
    }
    // Notes first in a section the panel uses: every lookup there passes them.
    std::string text = inTable ? "[MpxAndPIDFilter]\r\n" : table + "[Notes]\r\n";
    for (int i = 0; text.size() < (10u << 20); ++i)
      text += "Note" + std::to_string(i) + "=" + std::string(40, static_cast<char>('a' + i % 26)) + "\r\n";
    if (inTable) text += table;
    std::ofstream(path, std::ios::binary) << text;
  }
  ~BigSettings() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

static void BM_SettingsLoad10MB(benchmark::State& state) {
  BigSettings file(state.range(0) != 0);
  for (auto _ : state) {
    IniFile ini(file.path);
    std::size_t total = 0;
    for (const auto& k : loadOrder()) total += ini.readString(k.section, k.key, k.defaultValue).size();
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_SettingsLoad10MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_SettingsSave10MB(benchmark::State& state) {
  BigSettings file(state.range(0) != 0);
  IniFile ini(file.path);
  int round = 0;
  for (auto _ : state) {
    const std::string value = std::to_string(round++);
    ini.writeString("Settings", "SaveOnExit", "1");
    for (const auto& k : saveOrder()) ini.writeString(k.section, k.key, value);
    ini.save();
  }
}
BENCHMARK(BM_SettingsSave10MB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
