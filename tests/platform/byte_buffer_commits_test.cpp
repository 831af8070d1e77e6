// The buffer's calls to the operating system, recorded: this program links the buffer with a
// stand-in address space of plain memory instead of the per-OS one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/byte_buffer.hpp"
#include "platform/kept_ranges.hpp"

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
std::mutex recordLock;  // kept ranges are released on a thread of their own
std::vector<std::pair<const char*, std::size_t>> decommits;
std::vector<const char*> releases;

std::vector<const char*> released() {
  const std::lock_guard guard(recordLock);
  return releases;
}

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
void decommit(void* start, std::size_t bytes) noexcept {
  const std::lock_guard guard(recordLock);
  decommits.emplace_back(static_cast<const char*>(start), bytes);
}
void release(void* base, std::size_t) noexcept {
  {
    const std::lock_guard guard(recordLock);
    releases.push_back(static_cast<const char*>(base));
  }
  std::free(base);
}
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

// A large range left by a buffer that asked for it goes back to the system only after a pause,
// unless the next buffer it fits takes it first, with no more memory writable than that buffer
// needs; one range is kept at most, and a buffer that did not ask gives its range back at once.
TEST(ByteBufferCommits, LargeRangesAreKeptForTheNextBufferThenReleased) {
  constexpr std::size_t kLarge = kept_ranges::kAtLeast * 2;
  systemStep = kStep;
  {
    const std::lock_guard guard(recordLock);
    releases.clear();
    decommits.clear();
  }
  const auto reserveKept = [](ByteBuffer& buffer, std::size_t capacity) {
    buffer.keepRangeAfterUse();
    buffer.reserve(capacity);
    return static_cast<const char*>(buffer.data());
  };
  const char* first = nullptr;
  {
    ByteBuffer body;
    body.keepRangeAfterUse();
    body.append(std::string(kLarge, 'b'));  // outgrows its first ranges: the flag goes along
    first = body.data();
  }
  const std::vector<const char*> outgrown = released();  // the small ranges grown out of
  {
    ByteBuffer smaller;
    EXPECT_EQ(reserveKept(smaller, kLarge / 2), first);
    EXPECT_EQ(smaller.capacity(), kLarge);
    EXPECT_EQ(smaller.committed(), kLarge / 2);
    EXPECT_EQ(decommits,
              (std::vector<std::pair<const char*, std::size_t>>{{first + kLarge / 2, kLarge / 2}}));
    smaller.append("x");
    EXPECT_EQ(smaller, "x");  // none of the bytes of before
  }
  const char* archive = nullptr;
  {
    ByteBuffer plain;
    plain.reserve(kLarge * 2);  // too large for the kept range; not kept after use
    archive = plain.data();
  }
  const char* second = nullptr;
  {
    ByteBuffer larger;
    second = reserveKept(larger, kLarge * 2);
  }
  std::vector<const char*> expected = outgrown;
  expected.push_back(archive);
  expected.push_back(first);  // one kept at most
  EXPECT_EQ(released(), expected);

  const auto deadline = std::chrono::steady_clock::now() + kept_ranges::kPause * 3;
  while (released().size() < expected.size() + 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  expected.push_back(second);
  EXPECT_EQ(released(), expected);
}

}  // namespace
}  // namespace connector
