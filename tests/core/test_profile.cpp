#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileStatus.h"
#include "profile/ProfileYaml.h"

using namespace tessaly;
using namespace tessaly::profile;

namespace {

// A packet of 204 bytes as the file writes it: sync byte, then zeros.
const std::string kPacketHex = "47" + std::string(406, '0');

std::string parseError(const std::string& text) {
  try {
    parseProfile(text, "p.yaml");
  } catch (const ProfileError& e) {
    return e.what();
  }
  return {};
}

Bytes packet(std::uint8_t fill) {
  Bytes p(kPsiPacketSize, fill);
  p[0] = 0x47;
  return p;
}

// Every section named, with values away from their defaults.
Profile fullProfile() {
  Profile p;
  p.identity = Identity{20417, 4852, "My UserText", 3};
  std::array<InputConfig, 6> in{};
  in[0] = {true, false, true, false};
  in[5] = {true, true, false, true};
  p.inputs = in;
  OutputConfig out;
  out.packetSize = 204;
  out.clockSource = clockSource::Pll;
  out.highPriority = true;
  out.pllHz = 3000000;
  p.output = out;
  p.sectors[1] = {true, 0, 4095};
  p.sectors[12] = {false, 9000, 10};
  p.pcrCorrector = PcrCorrectorConfig{PcrMode::Direct, 1000};
  p.pidFilter[1] = {{0, 0}, {500, 500}, {501, 777}, {8191, 8191}};
  p.pidFilter[2] = {};
  p.psiRanges = std::vector<PsiRange>{{0, 15}, {8192, 8447}};
  p.psi = {{0, 10, false, packet(0x00)}, {8447, 16777215, true, packet(0xFF)}};
  return p;
}

}  // namespace

// What a file may not say, each refused at the line and column of the value.
TEST(ProfileFile, RefusedWithFileLineAndColumn) {
  const std::string rec = "    - {address: 16, timer_ms: 10, packet: \"" + kPacketHex + "\"}\n";
  struct Case {
    std::string text;
    std::string error;  // a substring of the message
  } cases[] = {
      {"", "p.yaml:1:1: a profile is a map"},
      {"output: {format: 188, clock: external}\n", "p.yaml:1:1: 'profile: 1' is missing"},
      {"profile: 2\n", "p.yaml:1:10: profile wants 1"},
      {"profile: 1\nprofile: 1\n", "p.yaml:2:1: the profile names 'profile' twice"},
      {"profile: 1\n---\nprofile: 1\n", "p.yaml:2:1: a profile file holds one document"},
      {", {pid: 1}]\n", "p.yaml:1:1: a profile file holds one document"},  // once read for ever
      {"profile: 1\noutput: {format: 188\n", "p.yaml:3:1: end of map flow not found"},
      {"profile: 1\nbogus: 3\n", "p.yaml:2:1: unknown key 'bogus' in the profile"},
      {"profile: 1\npcr_corrector: {mode: on, tset_pid: 5}\n", "p.yaml:2:27: unknown key 'tset_pid' in pcr_corrector"},
      {"profile: 1\npcr_corrector: {mode: on, test_pid: ten}\n", "p.yaml:2:37: test_pid wants a decimal whole number"},
      {"profile: 1\npcr_corrector: {mode: on, test_pid: 0x10}\n", "p.yaml:2:37: test_pid wants a decimal whole number"},
      {"profile: 1\npcr_corrector: {mode: on, test_pid: 9000}\n", "p.yaml:2:37: pcr_corrector test_pid wants 0..8191"},
      {"profile: 1\npcr_corrector: {mode: auto}\n", "p.yaml:2:23: mode wants off, on or direct"},
      {"profile: 1\npcr_corrector: [on]\n", "p.yaml:2:16: pcr_corrector wants keys and values"},
      {"profile: 1\ninputs:\n  1: {enabled: yes}\n", "p.yaml:3:16: enabled wants true or false, not 'yes'"},
      {"profile: 1\ninputs:\n  1: {enabled: true}\n", "p.yaml:3:3: inputs wants all six inputs"},
      {"profile: 1\ninputs:\n  7: {}\n", "p.yaml:3:3: an input wants 1..6, not 7"},
      {"profile: 1\nidentity: {serial: 4294967296, type: 1, user_text: \"\", sdi_address: 1}\n",
       "p.yaml:2:20: serial wants 0..4294967295"},
      {"profile: 1\nidentity: {serial: 1, type: 1, user_text: \"\"}\n", "p.yaml:2:11: identity wants sdi_address"},
      {"profile: 1\nidentity: {serial: 1, type: 1, user_text: \"\", sdi_address: 16}\n",
       "p.yaml:2:60: identity sdi_address wants 1..15"},
      {"profile: 1\nidentity: {serial: 1, type: 1, user_text: \"sixteen chars...\", sdi_address: 1}\n",
       "p.yaml:2:43: identity user_text wants at most 15 characters"},
      {"profile: 1\nidentity: {serial: 1, type: 1, user_text: \"5 \xE2\x82\xAC\", sdi_address: 1}\n",
       "p.yaml:2:43: user_text wants Latin-1 characters"},
      {"profile: 1\noutput: {format: 200, clock: external}\n", "p.yaml:2:18: output format wants 188 or 204"},
      {"profile: 1\noutput: {format: 204, clock: input7}\n", "p.yaml:2:30: clock wants nco, pll, input1..input6"},
      {"profile: 1\noutput: {format: 204, clock: pll}\n", "p.yaml:2:30: output clock pll wants pll_hz"},
      {"profile: 1\noutput: {clock: nco}\n", "p.yaml:2:17: output clock nco wants nco_hz"},
      {"profile: 1\noutput: {clock: external, nco_hz: 1000}\n", "p.yaml:2:35: output nco_hz goes with clock nco only"},
      {"profile: 1\noutput: {clock: nco, nco_hz: 119}\n", "p.yaml:2:30: output nco_hz wants 120..40500000"},
      {"profile: 1\noutput: {clock: pll, pll_hz: 50000000}\n", "p.yaml:2:30: output pll_hz wants 97753..40500000"},
      {"profile: 1\noutput: {priority: low, clock: external}\n", "p.yaml:2:20: priority wants high or normal"},
      {"profile: 1\nsdram_sectors:\n  13: {}\n", "p.yaml:3:3: a sector wants 1..12, not 13"},
      {"profile: 1\nsdram_sectors:\n  1: {enabled: true, start: 0, end: 10}\n  01: {start: 5}\n",
       "p.yaml:4:3: sdram_sectors names sector 1 twice"},
      {"profile: 1\npid_filter:\n  2: [{pid: 5}]\n  02: [{pid: 6, remap: 7}]\n", "p.yaml:4:3: pid_filter names input 2 twice"},
      {"profile: 1\nsdram_sectors:\n  3: {enabled: true, start: 5000, end: 4000}\n",
       "p.yaml:3:29: sector 3 starts at 5000, after its end 4000"},
      {"profile: 1\nsdram_sectors:\n  3: {start: 0, end: 131072}\n", "p.yaml:3:22: sector 3 end wants 0..131071"},
      {"profile: 1\nsdram_sectors:\n  1: {enabled: true, start: 0, end: 4095}\n"
       "  2: {enabled: true, start: 4095, end: 8191}\n",
       "p.yaml:4:3: sector 2 (4095..8191) overlaps sector 1 (0..4095)"},
      {"profile: 1\npid_filter:\n  1: [{pid: 500}, {pid: 501}, {pid: 500}]\n",
       "p.yaml:3:37: pid_filter input 1: PID 500 is named twice"},
      {"profile: 1\npid_filter:\n  1: [{pid: 8192}]\n", "p.yaml:3:13: pid_filter input 1: pid wants 0..8191"},
      {"profile: 1\npid_filter:\n  1: [{pid: 1, remap: -1}]\n", "p.yaml:3:23: pid_filter input 1: remap wants 0..8191"},
      {"profile: 1\npid_filter:\n  1: [{remap: 5}]\n", "p.yaml:3:7: a PID filter entry wants pid"},
      {"profile: 1\npid_filter:\n  1: [{pid: 1, rmap: 5}]\n", "p.yaml:3:16: unknown key 'rmap' in a PID filter entry"},
      {"profile: 1\npid_filter:\n  1: {pid: 1}\n", "p.yaml:3:6: pid_filter input 1 wants a list"},
      {"profile: 1\npid_filter: {}\n", "p.yaml:2:13: pid_filter names no input"},
      {"profile: 1\npsi: {records: []}\n", "p.yaml:2:6: psi wants ranges"},
      {"profile: 1\npsi: {ranges: [0..15]}\n", "p.yaml:2:16: a PSI range wants FIRST-LAST"},
      {"profile: 1\npsi: {ranges: [15-0]}\n", "p.yaml:2:16: psi range 15-0 starts after its end"},
      {"profile: 1\npsi: {ranges: [0-131072]}\n", "p.yaml:2:16: psi range last address wants 0..131071"},
      {"profile: 1\npsi: {ranges: [0-15, 10-20]}\n", "p.yaml:2:22: psi range 10-20 overlaps 0-15"},
      {"profile: 1\npsi:\n  ranges: [0-15]\n  records:\n" + rec,
       "p.yaml:5:17: psi record at 16: the address is outside the psi ranges"},
      {"profile: 1\npsi:\n  ranges: [0-31]\n  records:\n" + rec + rec,
       "p.yaml:6:17: psi record at 16: the address is named twice"},
      {"profile: 1\npsi:\n  ranges: [0-31]\n  records:\n    - {address: 1, timer_ms: 16777216, packet: \"" +
           kPacketHex + "\"}\n",
       "p.yaml:5:30: psi record at 1: timer_ms wants 0..16777215"},
      {"profile: 1\npsi:\n  ranges: [0-31]\n  records:\n    - {address: 1, timer_ms: 1, packet: \"4700\"}\n",
       "p.yaml:5:41: packet wants 204 bytes as 408 hexadecimal digits"},
      {"profile: 1\npsi:\n  ranges: [0-31]\n  records:\n    - {address: 1, timer_ms: 1, packet: \"zz" +
           kPacketHex.substr(2) + "\"}\n",
       "p.yaml:5:41: packet wants 204 bytes as 408 hexadecimal digits"},
      {"profile: 1\npsi:\n  ranges: [0-31]\n  records:\n    - {address: 1, packet: \"" + kPacketHex + "\"}\n",
       "p.yaml:5:7: a PSI record wants timer_ms"},
      // What a board may hold and a profile read from it must carry: accepted.
      {"profile: 1\nsdram_sectors:\n  3: {enabled: false, start: 5000, end: 4000}\n"
       "  4: {enabled: false, start: 0, end: 9000}\n  5: {enabled: true, start: 4001, end: 4001}\n",
       ""},
      {"profile: 1\npid_filter:\n  1: [{pid: 1, remap: 1}]\n  6: []\n", ""},
      {"profile: 1\npsi: {ranges: [7, 0-6], records: []}\n", ""},
  };
  for (const auto& c : cases) {
    const std::string error = parseError(c.text);
    if (c.error.empty())
      EXPECT_EQ(error, "") << c.text;
    else
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << "\n got: " << error;
  }
}

TEST(ProfileFile, UnreadableFileNamed) {
  // A directory the test makes itself: it exists, and cannot be read as a file.
  char dir[] = "/tmp/tessaly-profile-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string missing = std::string(dir) + "/missing.yaml";
  struct Case {
    std::string path;
    std::string error;
  } cases[] = {{missing, missing + ": No such file or directory"}, {dir, std::string(dir) + ": "}};
  for (const auto& c : cases) {
    try {
      loadProfile(c.path);
      ADD_FAILURE() << c.path << " was read";
    } catch (const ProfileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
  }
  rmdir(dir);
}

// Written and read back the same; the same profile always written the same bytes.
TEST(ProfileFile, WriteReadsBackTheSame) {
  Profile minimal;
  Profile text = fullProfile();
  text.identity->userText = std::string("\"q\\ \x85\xE9\x7F", 7);  // quote, backslash, C1, Latin-1, DEL
  Profile clocks = fullProfile();
  clocks.output->clockSource = clockSource::Nco;
  clocks.output->pllHz.reset();
  clocks.output->ncoHz = 120;
  Profile external;
  external.output = OutputConfig{188, clockSource::External, false, std::nullopt, std::nullopt};
  external.psiRanges = std::vector<PsiRange>{};
  for (const Profile& p : {minimal, fullProfile(), text, clocks, external}) {
    const std::string written = writeProfile(p);
    Profile back;
    ASSERT_NO_THROW(back = parseProfile(written, "w.yaml")) << written;
    EXPECT_TRUE(back == p) << written;
    EXPECT_EQ(writeProfile(back), written);
  }
  // Entries in any order: the same file.
  Profile shuffled = fullProfile();
  std::swap(shuffled.pidFilter[1][0], shuffled.pidFilter[1][3]);
  std::swap(shuffled.psi[0], shuffled.psi[1]);
  std::swap((*shuffled.psiRanges)[0], (*shuffled.psiRanges)[1]);
  EXPECT_EQ(writeProfile(shuffled), writeProfile(fullProfile()));
}

// A profile built in code keeps the rules a file does.
TEST(ProfileFile, ValidateBuiltProfiles) {
  const auto with = [](auto change) {
    Profile p = fullProfile();
    change(p);
    return p;
  };
  struct Case {
    Profile p;
    std::string error;  // a substring; empty: valid
  } cases[] = {
      {fullProfile(), ""},
      {with([](Profile& p) { p.sectors[0] = {}; }), "sdram_sectors: a sector number wants 1..12"},
      {with([](Profile& p) { p.pidFilter[7] = {}; }), "pid_filter: an input wants 1..6"},
      {with([](Profile& p) { p.psi[0].packet.pop_back(); }), "psi record at 0: the packet wants 204 bytes, not 203"},
      {with([](Profile& p) { p.psiRanges.reset(); }), "psi records want ranges"},
      {with([](Profile& p) { p.identity->userText = std::string("a\0b", 3); }), "cannot hold the character U+0000"},
  };
  for (const auto& c : cases) {
    const std::string error = validateProfile(c.p);
    if (c.error.empty())
      EXPECT_EQ(error, "");
    else
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

// Over what the expected profile names, field by field.
TEST(ProfileDiff, FieldByField) {
  const auto with = [](auto change) {
    Profile p = fullProfile();
    change(p);
    return p;
  };
  Profile named;  // names the inputs only
  named.inputs = fullProfile().inputs;
  Profile sections = named;  // and the identity and corrector: the board read gave none of them
  sections.identity = fullProfile().identity;
  sections.pcrCorrector = fullProfile().pcrCorrector;
  Profile unreached = fullProfile();
  unreached.output->pllHz = 797746;  // the search lands on 797745
  struct Case {
    Profile expected, actual;
    std::vector<Difference> differences;
  } cases[] = {
      {fullProfile(), fullProfile(), {}},
      {named, with([](Profile& p) { p.pcrCorrector->testPid = 5; }), {}},
      {sections, Profile{},
       {{"identity", "present", "absent"}, {"inputs", "present", "absent"}, {"pcr_corrector", "present", "absent"}}},
      {fullProfile(), with([](Profile& p) { (*p.inputs)[1].nullFilter = true; }),
       {{"inputs.2.null_filter", "false", "true"}}},
      {fullProfile(), with([](Profile& p) { p.output->pllHz = 2000000; }), {{"output.pll_hz", "3000000", "2000000"}}},
      {fullProfile(), with([](Profile& p) { p.output->pllHz = 3000001; }), {}},  // lands on 3000000 too
      {unreached, with([](Profile& p) { p.output->pllHz = 797746; }), {}},
      {unreached, with([](Profile& p) { p.output->pllHz = 797745; }), {{"output.pll_hz", "797745", "797744"}}},
      {fullProfile(), with([](Profile& p) { p.output->clockSource = 2, p.output->pllHz.reset(); }),
       {{"output.clock", "pll", "input1"}, {"output.pll_hz", "3000000", "absent"}}},
      {fullProfile(), with([](Profile& p) { p.sectors[12].start = 0; }), {{"sdram_sectors.12.start", "9000", "0"}}},
      {fullProfile(), with([](Profile& p) { p.sectors.erase(1); }), {{"sdram_sectors.1", "present", "absent"}}},
      {fullProfile(), with([](Profile& p) { p.pcrCorrector->mode = PcrMode::On; }),
       {{"pcr_corrector.mode", "direct", "on"}}},
      {fullProfile(), with([](Profile& p) { p.pidFilter[1] = {{0, 0}, {500, 500}, {502, 502}, {8191, 8000}}; }),
       {{"pid_filter.1.501", "777", "absent"},
        {"pid_filter.1.502", "absent", "502"},
        {"pid_filter.1.8191", "8191", "8000"}}},
      {fullProfile(), with([](Profile& p) { p.pidFilter.erase(2), p.pidFilter[3] = {{1, 1}}; }),
       {{"pid_filter.2", "0 entries", "absent"}}},
      // Records outside the expected ranges are not compared; a missing or changed one is.
      {fullProfile(), with([](Profile& p) {
         p.psi[0].packet[5] = 1;
         p.psi[1].autoCc = false;
         p.psi.push_back({20, 1, false, packet(0)});
         p.psiRanges->push_back({16, 31});
       }),
       {{"psi.0.packet", kPacketHex, "470000000001" + std::string(396, '0')}, {"psi.8447.auto_cc", "true", "false"}}},
      {fullProfile(), with([](Profile& p) { p.psi.pop_back(), p.psi.push_back({15, 1, false, packet(0)}); }),
       {{"psi.15", "absent", "record"}, {"psi.8447", "record", "absent"}}},
      {fullProfile(), with([](Profile& p) { p.psiRanges = std::vector<PsiRange>{{0, 15}}, p.psi.pop_back(); }),
       {{"psi.ranges", "0-15,8192-8447", "0-15"}}},
      {fullProfile(), with([](Profile& p) { p.psiRanges.reset(), p.psi.clear(); }),
       {{"psi", "0-15,8192-8447", "absent"}}},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    const auto got = diffProfiles(c.expected, c.actual);
    ASSERT_EQ(got.size(), c.differences.size()) << "case " << k;
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_TRUE(got[i] == c.differences[i])
          << "case " << k << ": " << got[i].field << " " << got[i].expected << " " << got[i].actual;
  }
}

// The order a board is brought to a profile in: erase and wait before writing,
// the SDI address last of all.
TEST(ProfilePlan, SafeOrder) {
  using W = ApplyStep::Wait;
  struct Step {
    std::string label;
    W after;
  };
  Profile filterOnly;
  filterOnly.pidFilter[4] = {};
  Profile psiOnly;
  psiOnly.psiRanges = std::vector<PsiRange>{{0, 1}};
  struct Case {
    Profile p;
    std::vector<Step> steps;
  } cases[] = {
      {Profile{}, {}},
      {filterOnly, {{"Erase PIDFilter", W::FlashPidFree}}},
      {psiOnly, {{"Erase PSI      ", W::FlashPsiFree}}},
      {fullProfile(),
       {{"Set Serial Num ", W::Notice},   {"Set Type       ", W::Notice},       {"Set User Text  ", W::Notice},
        {"Set General Fil", W::Notice},   {"Set Output Form", W::Notice},       {"Set Sector     ", W::Notice},
        {"Set Sector     ", W::Notice},   {"Set PCR Correct", W::Notice},       {"Set PCR Correct", W::Notice},
        {"Erase PIDFilter", W::FlashPidFree}, {"Write PIDFilter", W::Notice},   {"Write PIDFilter", W::Notice},
        {"Write PIDFilter", W::Notice},   {"Write PIDFilter", W::Notice},       {"Erase PSI      ", W::FlashPsiFree},
        {"Write PSI      ", W::Notice},   {"Write PSI      ", W::Notice},       {"Set Address    ", W::Notice}}},
  };
  for (const auto& c : cases) {
    const auto plan = applyPlan(c.p);
    ASSERT_EQ(plan.size(), c.steps.size());
    for (std::size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(plan[i].label, c.steps[i].label) << i << " " << plan[i].what;
      EXPECT_EQ(plan[i].after, c.steps[i].after) << i << " " << plan[i].what;
    }
  }
  // Each PID filter step names what it writes.
  const auto plan = applyPlan(fullProfile());
  EXPECT_EQ(plan[12].what, "PID filter: input 1 PID 501 -> 777");
}

TEST(ProfilePlan, ReplacesUnnamedPidInputs) {
  Profile none, some, all;
  some.pidFilter[2] = {{1, 1}};
  for (int i = 1; i <= 6; ++i) all.pidFilter[i] = {};
  struct Case {
    const Profile& p;
    bool replaces;
  } cases[] = {{none, false}, {some, true}, {all, false}};
  for (const auto& c : cases) EXPECT_EQ(replacesUnnamedPidInputs(c.p), c.replaces) << c.p.pidFilter.size();
}

// The board's read-backs into profile entries.
TEST(ProfileReadback, PidFilterWords) {
  struct Case {
    std::int32_t start;
    std::vector<std::uint16_t> words;  // from the start PID; the rest 0xFFFF
    std::vector<PidEntry> entries;
  } cases[] = {
      {496, {}, {}},
      // erased, passes as remapped, bit 15 clear, passes as 8191, ... the ninth word is not this read's
      {496, {0xFFFF, 0xC1F5, 0x41F6, 0xDFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xC000}, {{497, 501}, {499, 8191}}},
      {8184, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x9FF8}, {{8191, 8184}}},
      {0, {0x8000}, {{0, 0}}},
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, 256> data;
    data.fill(0xFF);
    for (std::size_t k = 0; k < c.words.size(); ++k) {
      data[2 * k] = static_cast<std::uint8_t>(c.words[k] >> 8);
      data[2 * k + 1] = static_cast<std::uint8_t>(c.words[k] & 0xFF);
    }
    EXPECT_EQ(pidEntriesFromReadback(c.start, data), c.entries) << c.start;
  }
}

TEST(ProfileReadback, PsiRecord) {
  std::array<std::uint8_t, 256> erased;
  erased.fill(0xFF);
  auto written = erased;  // timer 10, auto CC, a packet; the bytes after it stay erased
  const Bytes head{0x00, 0x00, 0x0A, 0x01};
  std::copy(head.begin(), head.end(), written.begin());
  const Bytes p = packet(0x2C);
  std::copy(p.begin(), p.end(), written.begin() + 4);
  auto longTimer = erased;  // a timer of all ones is a record all the same
  longTimer[3] = 0x00;
  auto tail = erased;  // bytes past the record do not make one
  tail[255] = 0x00;
  struct Case {
    const std::array<std::uint8_t, 256>& data;
    std::optional<PsiRecord> record;
  } cases[] = {
      {erased, std::nullopt},
      {written, PsiRecord{70000, 10, true, p}},
      {longTimer, PsiRecord{70000, 16777215, false, Bytes(204, 0xFF)}},
      {tail, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(psiRecordFromReadback(70000, c.data), c.record);
}

// A profile from what the status block reports.
TEST(ProfileStatus, FromStatusRecord) {
  tZODADevice base;
  base.ChannelEnable = 0x21;
  base.DataValidEnable = 0x02;
  base.NullFilterEnable = 0x04;
  base.TspFilterEnable = 0x08;
  base.OutputFormat = 0x80;
  base.NcoFrequency = 27000000;
  base.PllFrequency = 797745;
  base.SerialNumber = -1;
  base.DeviceType = 4852;
  base.AddressByte = 0x1D;  // jumper, address 13
  base.TestPid = 1000;
  base.SectorEnable[12] = true;
  base.SectorStart[12] = 65552;
  base.SectorEnd[12] = 131071;
  const auto with = [&](auto change) {
    tZODADevice d = base;
    change(d);
    return d;
  };
  const auto output = [](int size, int clock, std::optional<std::int32_t> nco, std::optional<std::int32_t> pll) {
    return OutputConfig{size, clock, false, nco, pll};
  };
  struct Case {
    tZODADevice d;
    OutputConfig output;
    PcrMode mode;
  } cases[] = {
      {base, output(188, clockSource::Nco, 27000000, std::nullopt), PcrMode::Off},
      // The board's frequency is the search's, truncated: asked for again it must land there.
      {with([](tZODADevice& d) { d.OutputFormat = 0x01; }), output(204, clockSource::Pll, std::nullopt, 797746),
       PcrMode::Off},
      {with([](tZODADevice& d) { d.OutputFormat = 0x81, d.PllFrequency = 3000000; }),
       output(188, clockSource::Pll, std::nullopt, 3000000), PcrMode::Off},
      {with([](tZODADevice& d) { d.OutputFormat = 0x88, d.PcrState = 0x01; }),
       output(188, clockSource::External, std::nullopt, std::nullopt), PcrMode::On},
      {with([](tZODADevice& d) { d.OutputFormat = 0x27, d.PcrState = 0x11; }),
       output(204, clockSource::Input1 + 5, std::nullopt, std::nullopt), PcrMode::Direct},
      {with([](tZODADevice& d) { d.PcrState = 0x10; }), output(188, clockSource::Nco, 27000000, std::nullopt),
       PcrMode::Off},
  };
  for (const auto& c : cases) {
    const Profile p = profileFromStatus(c.d, false, std::string("Rack 4\0\0xyz", 11));
    EXPECT_FALSE(p.identity.has_value());
    ASSERT_TRUE(p.output && p.inputs && p.pcrCorrector);
    EXPECT_TRUE(*p.output == c.output) << int(c.d.OutputFormat);
    EXPECT_EQ(p.pcrCorrector->mode, c.mode) << int(c.d.PcrState);
    EXPECT_EQ(p.pcrCorrector->testPid, 1000);
    EXPECT_TRUE((*p.inputs)[0] == (InputConfig{true, false, false, false}));
    EXPECT_TRUE((*p.inputs)[1] == (InputConfig{false, true, false, false}));
    EXPECT_TRUE((*p.inputs)[5] == (InputConfig{true, false, false, false}));
    EXPECT_EQ(p.sectors.size(), 12u);
    EXPECT_TRUE(p.sectors.at(12) == (SectorConfig{true, 65552, 131071}));
    EXPECT_TRUE(p.pidFilter.empty() && !p.psiRanges);
  }
  // The identity only when asked, its text cut at the first 0x00; the priority from the block.
  std::array<std::uint8_t, 1024> block{};
  const std::string text = "My UserText";
  std::copy(text.begin(), text.end(), block.begin() + 2);
  block[61] = 1;
  const Profile p = profileFromStatus(base, true, statusBlockExtras(block.data(), block.size()));
  ASSERT_TRUE(p.identity.has_value());
  EXPECT_TRUE(*p.identity == (Identity{0xFFFFFFFFu, 4852, "My UserText", 13}));
  EXPECT_TRUE(p.output->highPriority);
  EXPECT_EQ(profileFromStatus(base, true, std::string("Rack 4\0\0xyz", 11)).identity->userText, "Rack 4");
  EXPECT_FALSE(statusBlockExtras(block.data(), 61).highPriority);  // too short to hold it
}
