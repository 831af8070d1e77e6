#include "platform/child_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace connector {
namespace {

using std::chrono::milliseconds;

// A system ending a tree, on a clock of its own that only waits move: each process ends at its
// time, is listed from its start until `unlisted` (the system may keep an ended process listed
// while something still holds it; nullopt: for good), and lists of the tree may be refused.
struct EndingTree {
  struct Process {
    std::uint32_t id;
    milliseconds starts, ends;
    std::optional<milliseconds> unlisted;
    bool canWait = true;
  };
  std::vector<Process> processes;
  bool listFails = false;
  milliseconds clock{0};

  std::optional<std::vector<std::uint32_t>> list() const {
    if (listFails) return std::nullopt;
    std::vector<std::uint32_t> ids;
    for (const Process& p : processes) {
      if (clock >= p.starts && (!p.unlisted || clock < *p.unlisted)) ids.push_back(p.id);
    }
    return ids;
  }
  bool waitEnded(std::uint32_t id, milliseconds limit) {
    const Process& p = *std::find_if(processes.begin(), processes.end(),
                                     [id](const Process& each) { return each.id == id; });
    if (!p.canWait) return false;
    if (clock < p.ends) clock = std::min(clock + limit, p.ends);
    return clock >= p.ends;
  }
  TreeMembers members() {
    return {[this] { return list(); },
            [this](std::uint32_t id, milliseconds limit) { return waitEnded(id, limit); },
            [this] { return std::chrono::steady_clock::time_point(clock); }};
  }
};

TEST(ChildProcessTree, EndingWaitsOnEachListedProcessUntilNoneRunsForAFewSecondsAtMost) {
  using ms = milliseconds;
  constexpr auto forever = std::nullopt;  // listed for good
  struct Case {
    const char* name;
    EndingTree tree;
    bool gone;
    ms waited;  // on the tree's clock, when the wait leaves
  };
  const Case cases[] = {
      {"nothing listed", {{}}, true, ms(0)},
      {"ended, listed while held", {{{7, ms(0), ms(0), forever}}}, true, ms(0)},
      {"still exiting", {{{7, ms(0), ms(150), ms(150)}}}, true, ms(150)},
      // Whatever a count would say meanwhile, the wait is on the process itself.
      {"listed after its end for a while", {{{7, ms(0), ms(40), ms(900)}}}, true, ms(40)},
      {"a large heap", {{{7, ms(0), ms(0), ms(0)}, {8, ms(0), ms(1800), forever}}}, true, ms(1800)},
      {"late child", {{{7, ms(0), ms(99), ms(99)}, {9, ms(90), ms(250), forever}}}, true, ms(250)},
      {"never ends", {{{7, ms(0), ms(60000), forever}}}, false, ms(5000)},
      {"cannot be listed", {{{7, ms(0), ms(60000), forever}}, true}, false, ms(0)},
      {"cannot be waited on", {{{7, ms(0), ms(60000), forever, false}}}, false, ms(0)},
  };
  for (const Case& c : cases) {
    EndingTree tree = c.tree;
    const bool gone = waitUntilTreeGone(tree.members());
    EXPECT_EQ(gone, c.gone) << c.name;
    EXPECT_EQ(tree.clock, c.waited) << c.name;
  }
}

}  // namespace
}  // namespace connector
