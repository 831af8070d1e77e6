// The Windows rules behind the workspace's file calls, as pure functions that every host's tests
// can reach.
#include "convert/workspace_files.hpp"

namespace connector::workspace_files {

EntryKind entryKindFromWindowsAttributes(std::uint32_t attributes) noexcept {
  constexpr std::uint32_t kDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  if (attributes & kReparsePoint) return EntryKind::link;
  if (attributes & kDirectory) return EntryKind::directory;
  return EntryKind::other;
}

RemoveOutcome removeOutcomeFromWindowsError(std::uint32_t error) noexcept {
  switch (error) {
    case 2:  // ERROR_FILE_NOT_FOUND
    case 3:  // ERROR_PATH_NOT_FOUND
      return RemoveOutcome::removed;
    case 5:    // ERROR_ACCESS_DENIED
    case 32:   // ERROR_SHARING_VIOLATION
    case 33:   // ERROR_LOCK_VIOLATION
    case 145:  // ERROR_DIR_NOT_EMPTY
    case 303:  // ERROR_DELETE_PENDING
      return RemoveOutcome::busy;
    default:
      return RemoveOutcome::failed;
  }
}

std::wstring extendedLengthPath(std::wstring_view path) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  const bool drive = path.size() >= 3 && path[1] == L':' && separator(path[2]) &&
                     ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
  const bool share = path.size() >= 3 && separator(path[0]) && separator(path[1]) &&
                     path[2] != L'?' && path[2] != L'.' && !separator(path[2]);
  if (!drive && !share) return std::wstring(path);

  std::wstring result =
      drive ? std::wstring(L"\\\\?\\") + path[0] + L':' : std::wstring(L"\\\\?\\UNC");
  std::size_t top = result.size();  // ".." never climbs above the drive, or server and share
  int names = share ? 2 : 0;        // server and share, still to come
  for (std::size_t at = drive ? 3 : 2; at <= path.size();) {
    std::size_t end = at;
    while (end < path.size() && !separator(path[end])) ++end;
    const std::wstring_view step = path.substr(at, end - at);
    at = end + 1;
    if (step.empty() || (names == 0 && step == L".")) continue;
    if (names == 0 && step == L"..") {
      if (result.size() > top) result.erase(result.rfind(L'\\'));
      continue;
    }
    result += L'\\';
    result += step;
    if (names > 0 && --names == 0) top = result.size();
  }
  if (drive && result.size() == top) result += L'\\';  // the drive's root itself
  return result;
}

}  // namespace connector::workspace_files
