// The buffer's calls to the operating system, recorded: this program links the buffer with a
// stand-in address space of plain memory instead of the per-OS one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/byte_buffer.hpp"

namespace connector {
namespace {

struct Commit {
  std::size_t offset;
  std::size_t bytes;
  bool operator==(const Commit&) const = default;
};

char* rangeBase = nullptr;
std::vector<Commit> commits;
std::size_t systemStep = 65536;

}  // namespace

namespace address_space {
std::size_t commitStep() noexcept { return systemStep; }
void* reserve(std::size_t bytes) noexcept {
  rangeBase = static_cast<char*>(std::malloc(bytes));
  return rangeBase;
}
bool commit(void* start, std::size_t bytes) noexcept {
  commits.push_back({static_cast<std::size_t>(static_cast<char*>(start) - rangeBase), bytes});
  return true;
}
void release(void* base, std::size_t) noexcept { std::free(base); }
}  // namespace address_space

namespace {

constexpr std::size_t kStep = 65536;

// Each growth makes writable only the pages past those made writable before.
TEST(ByteBufferCommits, EachPageIsCommittedOnce) {
  const struct {
    std::size_t append;
    std::vector<Commit> added;  // what this append commits
  } steps[] = {
      {100, {{0, kStep}}},
      {kStep - 100, {}},  // fills the first step exactly
      {1, {{kStep, kStep}}},
      {3 * kStep, {{2 * kStep, 3 * kStep}}},  // several steps in one call
      {10, {}},
  };
  commits.clear();
  systemStep = kStep;
  ByteBuffer buffer;
  buffer.reserve(64 * kStep);
  std::vector<Commit> expected;
  for (const auto& step : steps) {
    buffer.append(std::string(step.append, 'x'));
    expected.insert(expected.end(), step.added.begin(), step.added.end());
    EXPECT_EQ(commits, expected) << "after appending " << step.append;
  }
  EXPECT_EQ(buffer.committed(), 5 * kStep);
}

// A system with a larger step gets whole steps once the buffer is past one, never past the room.
TEST(ByteBufferCommits, CommitsInTheSystemsStepWithinTheRoom) {
  commits.clear();
  systemStep = 4 * kStep;
  ByteBuffer buffer;
  buffer.reserve(6 * kStep);
  buffer.append("x");
  buffer.append(std::string(5 * kStep, 'y'));
  EXPECT_EQ(commits, (std::vector<Commit>{{0, kStep}, {kStep, 5 * kStep}}));
  systemStep = kStep;
}

}  // namespace
}  // namespace connector
