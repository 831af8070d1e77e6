#include "platform/file_lock.hpp"

#include <gtest/gtest.h>

#include "support/test_helpers.hpp"

namespace connector {
namespace {

constexpr RetryLimit kBriefly{3, std::chrono::milliseconds(1)};

struct LockCase {
  const char* name;
  FileLock::Mode held;
  FileLock::Mode wanted;
  Attempt expected;
};

// Two opens of the lock file exclude each other as two processes would.
TEST(FileLock, ATryAgainstAHolderEndsBusyInsteadOfWaiting) {
  const LockCase cases[] = {
      {"exclusive against exclusive", FileLock::Mode::Exclusive, FileLock::Mode::Exclusive,
       Attempt::Busy},
      {"shared against exclusive", FileLock::Mode::Exclusive, FileLock::Mode::Shared,
       Attempt::Busy},
      {"exclusive against shared", FileLock::Mode::Shared, FileLock::Mode::Exclusive,
       Attempt::Busy},
      {"shared against shared", FileLock::Mode::Shared, FileLock::Mode::Shared, Attempt::Done},
  };
  test::TempDirectory dir;
  const auto file = dir / "settings.lock";
  for (const LockCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<FileLock> holder;
    ASSERT_EQ(FileLock::acquire(file, c.held, true, kBriefly, holder), Attempt::Done);
    std::optional<FileLock> second;
    EXPECT_EQ(FileLock::acquire(file, c.wanted, true, kBriefly, second), c.expected);
    EXPECT_EQ(second.has_value(), c.expected == Attempt::Done);
    second.reset();
    holder.reset();
    // Once the holder is gone the lock is there to take.
    EXPECT_EQ(FileLock::acquire(file, c.wanted, true, kBriefly, second), Attempt::Done);
  }
}

TEST(FileLock, AMissingFileThatMayNotBeCreatedFails) {
  test::TempDirectory dir;
  std::optional<FileLock> lock;
  EXPECT_EQ(FileLock::acquire(dir / "absent.lock", FileLock::Mode::Shared, false, kBriefly, lock),
            Attempt::Failed);
  EXPECT_FALSE(lock.has_value());
}

}  // namespace
}  // namespace connector
