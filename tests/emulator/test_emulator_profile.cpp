// A profile applied to an emulated board step by step as the plan says, then read
// back from its status block and read-backs: the board holds the profile, and the
// profile read back writes the same file.
#include <gtest/gtest.h>

#include "EmuTestSupport.h"
#include "instructions/PageInstructions.h"
#include "profile/ProfileDiff.h"
#include "profile/ProfilePlan.h"
#include "profile/ProfileStatus.h"
#include "profile/ProfileYaml.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;
using namespace tessaly::profile;

namespace {

struct LoadedBoard {
  explicit LoadedBoard(Framing f) : framing(f) {}
  Emulator emu{seeded()};
  Framing framing;
  std::uint8_t address = 1;
  std::int64_t now = 10000;

  Bytes statusAnswer() { return readAnswer(emu, framing, address, now); }
  tZODADevice status() { return decodeAnswer(statusAnswer()); }

  // Sends one step and awaits its notice, then the flash it waits for.
  void run(const ApplyStep& s) {
    const auto answers = emu.receive(encodeLoadDatagram(framing, s.label, address, s.sdiMessage), now);
    EXPECT_FALSE(answers.empty()) << "no notice for " << s.what;
    for (int polls = 0; s.after != ApplyStep::Notice && polls < 100; ++polls) {
      const tZODADevice d = status();
      if (((s.after == ApplyStep::FlashPidFree ? d.PidFilterState : d.PsiInserterState) & 1) == 0) break;
      now += 250;
    }
  }

  std::array<std::uint8_t, 256> readBack(const LabelledInstruction& read) {
    EXPECT_FALSE(emu.receive(read.datagram(framing, address), now).empty());
    return status().ReadbackData;
  }

  // What an export reads: the status, every input's PID filter, the PSI ranges.
  Profile read(const std::vector<PsiRange>& psi) {
    const Bytes answer = statusAnswer();
    const auto base = static_cast<std::size_t>(*classifyStatusAnswer(answer));
    Profile p = profileFromStatus(decodeAnswer(answer), true, statusBlockExtras(answer.data() + base, 1024));
    for (int input = 1; input <= 6; ++input) {
      auto& entries = p.pidFilter[input];
      for (std::int32_t start = 0; start <= kPidMax; start += kPidsPerRead)
        for (const PidEntry& e : pidEntriesFromReadback(start, readBack(readPidFilterInstruction(input, start))))
          entries.push_back(e);
    }
    p.psiRanges = psi;
    for (const PsiRange& r : psi)
      for (std::int32_t a = r.first; a <= r.last; ++a)
        if (auto rec = psiRecordFromReadback(a, readBack(readPsiInstruction(a)))) p.psi.push_back(*rec);
    return p;
  }
};

Bytes packet(std::uint8_t fill) {
  Bytes p(kPsiPacketSize, fill);
  p[0] = 0x47;
  return p;
}

}  // namespace

TEST(EmulatorProfile, AppliedThenReadBackWritesTheSameFile) {
  Profile pll;
  pll.identity = Identity{20417, 4852, "Rack 4 \xE9", 3};
  std::array<InputConfig, 6> in{};
  in[0] = {true, true, false, true};
  in[4] = {true, false, true, false};
  pll.inputs = in;
  // The search lands one hertz below 797746, and asked for that lands lower still.
  pll.output = OutputConfig{204, clockSource::Pll, true, std::nullopt, 797746};
  for (int k = 1; k <= 12; ++k) pll.sectors[k] = SectorConfig{k % 3 == 0, 4096 * k, 4096 * k + 4095};
  pll.sectors[12] = SectorConfig{true, 65536, 131071};
  pll.pcrCorrector = PcrCorrectorConfig{PcrMode::Direct, 8191};
  for (int input = 1; input <= 6; ++input) pll.pidFilter[input] = {};
  pll.pidFilter[1] = {{0, 0}, {7, 8}, {8, 8}, {500, 8191}, {8191, 8191}};
  pll.pidFilter[6] = {{4095, 1}};
  pll.psiRanges = std::vector<PsiRange>{{0, 3}, {131070, 131071}};
  pll.psi = {{1, 10, true, packet(0xA5)}, {131071, 16777215, false, packet(0x00)}};

  Profile nco = pll;
  nco.identity.reset();
  nco.output = OutputConfig{188, clockSource::Nco, false, 27000000, std::nullopt};
  nco.pcrCorrector = PcrCorrectorConfig{PcrMode::On, 0};
  nco.pidFilter[1].clear();
  nco.psi.clear();

  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    for (const Profile* p : {&pll, &nco}) {
      SCOPED_TRACE(std::string(framingName(f)) + (p == &pll ? " pll" : " nco"));
      ASSERT_EQ(validateProfile(*p), "");
      LoadedBoard board(f);
      for (const ApplyStep& s : applyPlan(*p)) board.run(s);
      if (p->identity) board.address = static_cast<std::uint8_t>(p->identity->sdiAddress);
      Profile back = board.read(*p->psiRanges);
      if (!p->identity) back.identity.reset();
      for (const auto& d : diffProfiles(*p, back)) ADD_FAILURE() << d.field << ": " << d.expected << " / " << d.actual;
      EXPECT_EQ(writeProfile(back), writeProfile(*p));
    }
  }
}
