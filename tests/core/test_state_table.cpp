#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "device/ProfileSequence.h"
#include "device/StatusQuery.h"
#include "instructions/GeneralInstructions.h"
#include "instructions/InstructionTest.h"
#include "instructions/NoticeWait.h"
#include "instructions/PageInstructions.h"
#include "link/Engine.h"
#include "mfgtest/MfgSequence.h"
#include "status/ChartPoller.h"
#include "status/PcrChart.h"

using namespace tessaly;
using namespace tessaly::testing;

namespace {

using Codes = std::set<int>;

// Each owner, by the header that holds its codes, and how it registers them.
struct Owner {
  const char* header;
  std::function<void(TransactionEngine&)> registerCodes;
};

StatusQueryListener& quietListener() {
  static StatusQueryListener listener;
  return listener;
}

const Owner kOwners[] = {
    {"src/instructions/GeneralInstructions.h",
     [](TransactionEngine& e) { registerNoticeWait(e, state::GeneralWait, state::GeneralGot, {}, {}); }},
    {"src/instructions/PageInstructions.h",
     [](TransactionEngine& e) {
       registerNoticeWait(e, state::MpxWait, state::MpxGot, {}, {});
       registerNoticeWait(e, state::PsiWait, state::PsiGot, {}, {});
       registerNoticeWait(e, state::PcrWait, state::PcrGot, {}, {});
     }},
    {"src/device/StatusQuery.h",
     [](TransactionEngine& e) {
       // The query registers its codes for as long as it lives; the engine keeps them.
       StatusQuery query(e, quietListener());
     }},
    {"src/mfgtest/MfgSequence.h", [](TransactionEngine& e) { registerMfgTransactions(e, {}, {}); }},
    {"src/device/ProfileSequence.h", [](TransactionEngine& e) { registerProfileTransactions(e, {}, {}, {}); }},
    {"src/instructions/InstructionTest.h", [](TransactionEngine& e) { registerInstructionTest(e, {}, {}, {}); }},
    {"src/status/PcrChart.h", [](TransactionEngine& e) { registerChartTransactions(e, {}, {}, {}); }},
};

struct Rig {
  VirtualClock clock;
  VirtualTimer timer{clock};
  FakeEndpoint endpoint{&clock};
  TransactionEngine engine{timer, endpoint};

  Codes registered() const {
    Codes out;
    for (int code = 0; code < 256; ++code)
      if (engine.isRegistered(static_cast<std::uint8_t>(code))) out.insert(code);
    return out;
  }
};

// "90..94, 96..105" -> {90, ..., 94, 96, ..., 105}.
Codes parseCodes(const std::string& cell) {
  Codes out;
  static const std::regex item(R"((\d+)(?:\.\.(\d+))?)");
  for (auto it = std::sregex_iterator(cell.begin(), cell.end(), item); it != std::sregex_iterator(); ++it) {
    const int from = std::stoi((*it)[1]);
    const int to = (*it)[2].matched ? std::stoi((*it)[2]) : from;
    for (int c = from; c <= to; ++c) out.insert(c);
  }
  return out;
}

// The state table of docs/architecture.md: the codes of each owner header; rows
// naming no header (the idle code) under "".
std::map<std::string, Codes> documentedOwners() {
  std::ifstream in(std::string(TESSALY_SOURCE_DIR) + "/docs/architecture.md");
  EXPECT_TRUE(in) << "docs/architecture.md not found";
  std::map<std::string, Codes> out;
  std::string line;
  bool inSection = false;
  static const std::regex row(R"(^\|([^|]*)\|[^|]*\|([^|]*)\|\s*$)");
  static const std::regex header(R"(src/[A-Za-z/]+\.h)");
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Transaction state codes";
    std::smatch m;
    if (!inSection || !std::regex_match(line, m, row)) continue;
    const Codes codes = parseCodes(m[1]);
    if (codes.empty()) continue;  // the head and its rule
    const std::string owner = m[2];
    std::smatch h;
    Codes& into = out[std::regex_search(owner, h, header) ? h.str() : std::string()];
    for (int c : codes) {
      EXPECT_FALSE(into.count(c)) << "code " << c << " listed twice";
      into.insert(c);
    }
  }
  return out;
}

std::string list(const Codes& codes) {
  std::ostringstream s;
  for (int c : codes) s << c << ' ';
  return s.str();
}

}  // namespace

// The table in docs/architecture.md is the registrations: each owner registers
// exactly the codes the table gives it, no owner is missing from either side, and
// all owners together fit on one engine (no code has two owners).
TEST(StateTable, DocumentedOwnersAreTheRegistrations) {
  std::map<std::string, Codes> documented = documentedOwners();
  ASSERT_FALSE(documented.empty());
  EXPECT_EQ(documented[""], Codes{0}) << "only the idle code is owned by no header";
  documented.erase("");

  Rig all;
  std::set<std::string> registeredOwners;
  for (const Owner& owner : kOwners) {
    Rig own;
    owner.registerCodes(own.engine);
    EXPECT_EQ(list(own.registered()), list(documented[owner.header])) << owner.header;
    EXPECT_NO_THROW(owner.registerCodes(all.engine)) << owner.header << " shares a code with another owner";
    registeredOwners.insert(owner.header);
  }
  for (const auto& [header, codes] : documented)
    EXPECT_TRUE(registeredOwners.count(header)) << header << " in the table registers nothing here";
  EXPECT_FALSE(all.engine.isRegistered(0));
}
