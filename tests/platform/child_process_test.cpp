#include "platform/child_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace connector {
namespace {

using std::chrono::milliseconds;

// A tree told to end whose processes are gone once the waiter has paused for `lingers`
// (never, without a value); the system may also be unable to count them.
struct EndingTree {
  std::optional<milliseconds> lingers;
  bool countFails = false;
  milliseconds paused{0};

  std::optional<std::uint32_t> active() const {
    if (countFails) return std::nullopt;
    return lingers && paused >= *lingers ? 0u : 2u;
  }
};

TEST(ChildProcessTree, EndingWaitsUntilNoProcessIsActiveForAFewSecondsAtMost) {
  struct Case {
    const char* name;
    EndingTree tree;
    bool gone;
  };
  const Case cases[] = {
      {"already gone", {milliseconds(0)}, true},
      {"gone in a moment", {milliseconds(150)}, true},
      {"a large heap takes a while", {milliseconds(1800)}, true},
      {"never gone", {std::nullopt}, false},
      {"cannot be counted", {std::nullopt, true}, false},
  };
  for (const auto& c : cases) {
    EndingTree tree = c.tree;
    const bool gone = waitUntilTreeGone([&tree] { return tree.active(); },
                                        [&tree](milliseconds pause) { tree.paused += pause; });
    EXPECT_EQ(gone, c.gone) << c.name;
    if (c.gone) {
      // It left once the tree was gone, not before and not long after.
      EXPECT_GE(tree.paused, *c.tree.lingers) << c.name;
      EXPECT_LE(tree.paused, *c.tree.lingers + milliseconds(100)) << c.name;
    } else if (c.tree.countFails) {
      EXPECT_EQ(tree.paused, milliseconds(0)) << c.name << ": nothing to wait for";
    } else {
      EXPECT_GE(tree.paused, milliseconds(2000)) << c.name;
      EXPECT_LE(tree.paused, milliseconds(6000)) << c.name;
    }
  }
}

}  // namespace
}  // namespace connector
