#include "platform/file_lock.hpp"

namespace connector {

Attempt FileLock::acquire(const std::filesystem::path& path, Mode mode, bool create,
                          RetryLimit wait, std::optional<FileLock>& lock) {
  lock.reset();
  FileLock opened(open(path, create));
  if (opened.handle_ == kNone) return Attempt::Failed;
  const Attempt outcome = retryWhileBusy([&] { return tryLock(opened.handle_, mode); }, wait);
  if (outcome == Attempt::Done) lock.emplace(std::move(opened));
  return outcome;
}

}  // namespace connector
