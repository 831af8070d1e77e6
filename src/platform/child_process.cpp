#include "platform/child_process.hpp"

namespace connector {
namespace {

constexpr std::chrono::milliseconds kTreeGoneLimit{5000};

}  // namespace

bool waitUntilTreeGone(const TreeMembers& tree) {
  using std::chrono::milliseconds;
  const auto deadline = tree.now() + kTreeGoneLimit;
  for (;;) {
    const std::optional<std::vector<std::uint32_t>> members = tree.list();
    if (!members) return false;  // nothing to watch: waiting teaches nothing
    bool someoneRan = false;
    for (const std::uint32_t id : *members) {
      if (tree.waitEnded(id, milliseconds(0))) continue;
      const auto left = std::chrono::ceil<milliseconds>(deadline - tree.now());
      if (left <= milliseconds(0) || !tree.waitEnded(id, left)) return false;
      someoneRan = true;
    }
    // One that ran may have started another before it ended: only a look at which every listed
    // process had already ended says the tree is gone.
    if (!someoneRan) return true;
  }
}

}  // namespace connector
