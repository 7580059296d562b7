#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "status/StatusFields.h"

using namespace tessaly;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The body of `local function NAME(...)` up to its closing `end` at the line start.
std::string luaFunction(const std::string& lua, const std::string& name) {
  const std::size_t from = lua.find("local function " + name + "(");
  if (from == std::string::npos) return {};
  const std::size_t to = lua.find("\nend\n", from);
  return lua.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

int number(const std::string& body, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(body, m, std::regex(pattern)) ? std::stoi(m[1]) : -1;
}

// "name@offset" of every field the dissector adds over the status block, the
// offset from the block's first byte (the first entry's for inputs and sectors).
std::set<std::string> dissectorFields(const std::string& lua) {
  const std::string block = luaFunction(lua, "dissect_block");
  // Each function's names for positions in the block: b is the block, at and o the
  // start of the part a function or loop takes apart.
  const int inputsAt = number(block, R"(dissect_inputs\(tvb, b \+ (\d+))");
  const int sdramAt = number(block, R"(dissect_sdram_psi\(tvb, b \+ (\d+))");
  const int sectorsAt = number(block, R"(local o = b \+ (\d+))");
  EXPECT_GT(inputsAt, 0);
  EXPECT_GT(sdramAt, 0);
  EXPECT_GT(sectorsAt, 0);
  const std::pair<std::string, std::map<std::string, int>> parts[] = {
      {block, {{"b", 0}, {"o", sectorsAt}}},
      {luaFunction(lua, "dissect_inputs"), {{"at", inputsAt}, {"o", inputsAt}}},
      {luaFunction(lua, "dissect_sdram_psi"), {{"at", sdramAt}}},
  };
  // F.name, tvb, EXPR, n   or   F.name, r(tvb, EXPR, n)
  static const std::regex use(R"(F\.(\w+), (?:r\()?tvb, (\w+)(?: \+ (\d+))?, \d+)");
  std::set<std::string> out;
  for (const auto& [body, names] : parts) {
    EXPECT_FALSE(body.empty());
    static const std::regex anyField(R"(F\.\w+)");
    const auto uses = std::distance(std::sregex_iterator(body.begin(), body.end(), use), std::sregex_iterator());
    const auto all = std::distance(std::sregex_iterator(body.begin(), body.end(), anyField), std::sregex_iterator());
    EXPECT_EQ(uses, all) << "the dissector adds a field in a form this test does not read";
    for (auto it = std::sregex_iterator(body.begin(), body.end(), use); it != std::sregex_iterator(); ++it) {
      const auto& m = *it;
      const auto at = names.find(m[2]);
      if (at == names.end()) {
        ADD_FAILURE() << "the dissector reads " << m[1] << " at " << m[2] << ", a position this test does not know";
        continue;
      }
      out.insert(m[1].str() + "@" + std::to_string(at->second + (m[3].matched ? std::stoi(m[3]) : 0)));
    }
  }
  return out;
}

std::string list(const std::set<std::string>& s) {
  std::string out;
  for (const auto& e : s) out += e + "\n";
  return out;
}

}  // namespace

// The Wireshark dissector takes the status block apart at the offsets of the field
// table, under the names the table gives it: neither can change without the other.
TEST(StatusFields, DissectorReadsTheTablesFields) {
  const std::set<std::string> lua =
      dissectorFields(readFile(std::string(TESSALY_SOURCE_DIR) + "/tools/wireshark/tessaly.lua"));
  std::set<std::string> table;
  for (const StatusFieldInfo& f : statusFields()) {
    std::istringstream names{std::string(f.dissector)};
    for (std::string name; names >> name;) table.insert(name + "@" + std::to_string(f.offset));
  }
  std::set<std::string> onlyLua, onlyTable;
  for (const auto& e : lua)
    if (!table.count(e)) onlyLua.insert(e);
  for (const auto& e : table)
    if (!lua.count(e)) onlyTable.insert(e);
  EXPECT_TRUE(onlyLua.empty()) << "in the dissector, not in the table:\n" << list(onlyLua);
  EXPECT_TRUE(onlyTable.empty()) << "in the table, not in the dissector:\n" << list(onlyTable);
}
