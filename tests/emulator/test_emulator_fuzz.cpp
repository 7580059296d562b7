// A million random and mutated datagrams through the model: it never crashes and
// never answers anything but its well-formed answer forms.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "EmuTestSupport.h"
#include "instructions/PageInstructions.h"
#include "mfgtest/MfgMessages.h"

using namespace tessaly;
using namespace tessaly::emu;
using namespace tessaly::emu::test;

namespace {

bool prefix(const Bytes& d, const char* magic) { return d.size() >= 6 && std::memcmp(d.data(), magic, 6) == 0; }

// Empty when the answer is one of the emulator's forms; otherwise what is wrong.
std::string malformation(const Answer& a, const EmulatorOptions& o) {
  const Bytes& d = a.data;
  if (a.delayMs < 0 || a.delayMs > o.irqMs + o.delayMaxMs + 1) return "delay " + std::to_string(a.delayMs);
  auto addressOk = [](std::uint8_t v) { return v >= 1 && v <= 15; };
  switch (d.size()) {
    case 18:
      if (prefix(d, "CW-Net") && d[6] == 0x18 && addressOk(d[7]) && std::memcmp(&d[8], "IRQ Notice", 10) == 0) return {};
      break;
    case 26:
      if (prefix(d, "DDToIP") && d[21] == 1 && d[22] == 0xF1 && d[23] == 0 && d[24] == 1 && addressOk(d[25])) return {};
      break;
    case kCwNetStatusAnswer:
      if (prefix(d, "CW-Net") && d[6] == 0x09 && addressOk(d[7]) && (d[8] == 0x45 || d[8] == 0)) return {};
      break;
    case kDDToIPStatusAnswer:
      if (prefix(d, "DDToIP") && d[21] == 1 && d[22] == 0xF3 && d[23] == 4 && d[24] == 0 && (d[25] == 0x45 || d[25] == 0))
        return {};
      break;
    case device::StatusSize:
      if (prefix(d, "DDToIP") && d[21] == 1 && d[22] == 0xF0 && d[23] == 0x03 && d[24] == 0xFD && d[25] == 0x45) return {};
      break;
    case device::ReadbackSize:
      if (prefix(d, "DDToIP") && d[21] == 1 && d[22] == 0xFE && d[23] == 0x01 && d[24] == 0x10 &&
          (d[25] == 1 || d[25] == 2) && d[26] >= 1 && d[26] <= 4)
        return {};
      break;
    default:
      break;
  }
  return "unexpected answer of " + std::to_string(d.size()) + " bytes";
}

std::vector<Bytes> corpus() {
  std::vector<Bytes> c;
  GeneralFilterBoxes boxes;
  boxes.enable = {true, true, true, true, true, true};
  PsiWrite psi;
  psi.address = 5;
  psi.timer = 1;
  StreamFormat pll;
  pll.clockSource = clockSource::Pll;
  pll.pllHz = 5000000;
  const LabelledInstruction page[] = {
      setSerialInstruction(56765), setTypeInstruction(4852), resetInstruction(),
      setUserTextInstruction("My UserText"), setAddressInstruction(2), setGeneralFilterInstruction(boxes),
      erasePidFilterInstruction(), writePidFilterInstruction(2, 500, 600),
      readPidFilterInstruction(2, 496), *setSectorInstruction(2, true, 10, 20),
      erasePsiInstruction(), writePsiInstruction(psi), readPsiInstruction(5),
      setPcrCorrectorInstruction(true, true), setTestPcrPidInstruction(151)};
  for (const Framing f : {Framing::CwNet, Framing::DDToIP}) {
    c.push_back(encodeReadDatagram(f, 1));
    c.push_back(encodeReadDatagram(f, 2));
    for (const auto& in : page) c.push_back(in.datagram(f, 1));
    c.push_back(streamFormatMessage(pll).datagram(f, 1));
  }
  const MfgInputs in;
  c.push_back(mfgConfigurationMessage(in));
  c.push_back(mfgEraseMessage());
  c.push_back(mfgErasePollMessage());
  c.push_back(mfgProgrammingMessage(in));
  c.push_back(mfgPidReadBackRequest(2, in.testPort));
  c.push_back(mfgPsiReadBackRequest(3));
  c.push_back(mfgPcrCorrectorMessage(true));
  return c;
}

class Mutator {
 public:
  explicit Mutator(std::uint64_t seed) : rng_(seed), corpus_(corpus()) {}

  void fill(std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
      const std::uint64_t r = rng_();
      std::memcpy(p + i, &r, std::min<std::size_t>(8, n - i));
    }
  }

  Bytes random() {
    Bytes d(rng_() % 1600);
    fill(d.data(), d.size());
    if (d.size() >= 6 && rng_() % 2) std::memcpy(d.data(), rng_() % 2 ? "DDToIP" : "CW-Net", 6);
    return d;
  }

  Bytes mutated() {
    Bytes d = corpus_[rng_() % corpus_.size()];
    const int rounds = rng_() % 4 ? 1 : 2;
    for (int r = 0; r < rounds; ++r) {
      switch (rng_() % 6) {
        case 0:  // a few bytes changed
          for (int i = 0, n = 1 + static_cast<int>(rng_() % 4); i < n && !d.empty(); ++i)
            d[rng_() % d.size()] = static_cast<std::uint8_t>(rng_());
          break;
        case 1:  // truncated
          d.resize(rng_() % (d.size() + 1));
          break;
        case 2: {  // oversized
          const std::size_t old = d.size();
          d.resize(old + 1 + rng_() % 1500);
          fill(d.data() + old, d.size() - old);
          break;
        }
        case 3:  // a wrong length inside: the outer field or one of the SDI message's
          if (d.size() > 2) {
            const std::size_t candidates[] = {23, 18 + 23, 26 + 23, 26 + 23 + 3};
            const std::size_t at = std::min(candidates[rng_() % 4], d.size() - 2);
            const std::uint32_t v = rng_() % 2 ? static_cast<std::uint32_t>(rng_() % 0x10000)
                                               : static_cast<std::uint32_t>(((d[at] << 8) | d[at + 1]) + rng_() % 5 - 2);
            d[at] = static_cast<std::uint8_t>(v >> 8);
            d[at + 1] = static_cast<std::uint8_t>(v);
          }
          break;
        case 4: {  // two messages spliced
          const Bytes& other = corpus_[rng_() % corpus_.size()];
          const std::size_t cut = d.empty() ? 0 : rng_() % d.size();
          d.resize(cut);
          d.insert(d.end(), other.begin() + static_cast<std::ptrdiff_t>(rng_() % other.size()), other.end());
          break;
        }
        default:  // an SDI address or unit mask anywhere
          if (!d.empty()) d[rng_() % d.size()] = static_cast<std::uint8_t>(rng_() % 17);
          break;
      }
    }
    return d;
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
  std::vector<Bytes> corpus_;
};

void soak(int count, bool mutatedOnly, EmulatorOptions o) {
  Emulator emu(o);
  Mutator m(o.seed.value_or(1));
  std::int64_t now = 0;
  std::size_t answered = 0;
  for (int i = 0; i < count; ++i) {
    // A mutated SETADDRESS may have moved the board: bring it back now and then.
    if (i % 512 == 0 && emu.board().address != 1)
      emu.receive(setAddressInstruction(1).datagram(Framing::DDToIP, emu.board().address), now);
    const Bytes d = (mutatedOnly || m.rng()() % 4) ? m.mutated() : m.random();
    now += static_cast<std::int64_t>(m.rng()() % 16);
    const auto answers = emu.receive(d, now);
    answered += answers.size();
    for (const Answer& a : answers) {
      const std::string wrong = malformation(a, o);
      ASSERT_TRUE(wrong.empty()) << wrong << " after datagram " << i << " of " << d.size() << " bytes";
      if (i % 997 == 0 && classifyStatusAnswer(a.data)) decodeAnswer(a.data);
    }
  }
  const BoardState& b = emu.board();
  EXPECT_GE(b.address, 1);
  EXPECT_LE(b.address, 15);
  for (const UnitState& u : b.units) {
    EXPECT_LE(u.pidFilter.size(), kPidFilterCapacity);
    EXPECT_LE(u.psiFlash.size(), kPsiFlashCapacity);
  }
  EXPECT_GT(answered, static_cast<std::size_t>(count / 20));  // the mutations still reach the board
}

}  // namespace

TEST(EmulatorFuzz, RandomAndMutatedDatagramsNeverGiveMalformedAnswers) { soak(400000, false, seeded(1)); }

TEST(EmulatorFuzz, MutatedDatagramsWithWrongLengthsInside) { soak(600000, true, seeded(2)); }

TEST(EmulatorFuzz, DelaysStayWithinTheirRangeUnderLoad) {
  EmulatorOptions o = seeded(3);
  o.delayMinMs = 5;
  o.delayMaxMs = 50;
  o.duplicate = 0.5;
  soak(20000, true, o);
}
