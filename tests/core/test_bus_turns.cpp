// Turns on one controller's bus: who holds it after each step of a script of
// requests and releases, and in which order the requests ran.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/BusTurns.h"

using namespace tessaly;

namespace {

// One step: 'r' requests a turn for the party, 'x' releases the party's ticket, 'd'
// drops every waiting request. A
// party whose name is in `releaseAtOnce` gives its turn back inside its own `go` (a
// send that failed at once); one in `askAgain` asks for the next turn from inside
// its `go` once.
struct Step {
  char what;
  char party;
};

struct TurnsCase {
  const char* name;
  std::vector<Step> steps;
  std::string releaseAtOnce;
  std::string askAgain;
  std::string ran;     // the parties whose go ran, in order
  char holder;         // who holds the bus at the end ('-': nobody)
  std::size_t waiting; // requests still queued at the end
};

TEST(BusTurns, oneHolderAtATimeInTheOrderAsked) {
  const TurnsCase cases[] = {
      {"a free bus runs the request at once", {{'r', 'A'}}, "", "", "A", 'A', 0},
      {"first come, first served", {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}, {'x', 'A'}, {'x', 'B'}}, "", "", "ABC", 'C', 0},
      {"nobody runs before the holder releases", {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}}, "", "", "A", 'A', 2},
      {"a second release of a turn passed on does not end the next holder's",
       {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}, {'x', 'A'}, {'x', 'A'}}, "", "", "AB", 'B', 1},
      {"a request released while it waits never runs",
       {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}, {'x', 'B'}, {'x', 'A'}}, "", "", "AC", 'C', 0},
      {"a turn given back inside go passes on in the same call",
       {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}, {'x', 'A'}}, "B", "", "ABC", 'C', 0},
      {"a request from inside go waits behind those already queued",
       {{'r', 'A'}, {'r', 'B'}, {'r', 'C'}, {'x', 'A'}}, "", "B", "ABC", 'C', 1},
      {"the last holder's release leaves the bus free", {{'r', 'A'}, {'x', 'A'}, {'x', 'A'}}, "", "", "A", '-', 0},
      {"waiting requests dropped never run, a later one does",
       {{'r', 'A'}, {'r', 'B'}, {'d', '-'}, {'r', 'C'}, {'x', 'A'}, {'x', 'B'}}, "", "", "AC", 'C', 0},
  };
  for (const TurnsCase& c : cases) {
    SCOPED_TRACE(c.name);
    BusTurns turns;
    std::map<char, BusTurns::Ticket> tickets;
    std::map<char, bool> askedAgain;
    std::string ran;
    int holding = 0;
    std::function<void(char)> ask = [&](char party) {
      tickets[party] = turns.request([&, party](BusTurns::Ticket t) {
        EXPECT_EQ(holding, 0) << party << " runs while another holds the bus";
        EXPECT_TRUE(turns.holds(t));
        ++holding;
        ran += party;
        tickets[party] = t;
        if (c.releaseAtOnce.find(party) != std::string::npos) {
          --holding;
          turns.release(t);
        } else if (c.askAgain.find(party) != std::string::npos && !askedAgain[party]) {
          askedAgain[party] = true;
          --holding;
          turns.release(t);
          ask(party);
        }
      });
    };
    for (const Step& s : c.steps) {
      if (s.what == 'r') {
        ask(s.party);
      } else if (s.what == 'd') {
        turns.dropWaiting();
      } else {
        if (turns.holds(tickets[s.party])) --holding;
        turns.release(tickets[s.party]);
      }
    }
    EXPECT_EQ(ran, c.ran);
    char holder = '-';
    for (const auto& [party, t] : tickets)
      if (turns.holds(t)) holder = party;
    EXPECT_EQ(holder, c.holder);
    EXPECT_EQ(turns.busy(), c.holder != '-');
    EXPECT_EQ(turns.waiting(), c.waiting);
  }
}

}  // namespace
