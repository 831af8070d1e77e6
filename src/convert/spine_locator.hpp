#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace connector {

class SpineLocator {
 public:
  // UTF-8 path of Spine's launcher, or "" when none is found. Never throws; never caches.
  static std::string locate();
};

// The pieces of the search, open to tests.

// Every candidate in search order, built completely before any is tested. Throws when an
// environment value (or the saved path) is not valid UTF-8.
std::vector<std::filesystem::path> locatorCandidates();
// True for an existing regular file, reached through any symbolic links; false for anything
// else (missing, dangling link, directory, device, junction, access denied).
bool isLauncherFile(const std::filesystem::path& candidate);

// This OS's conventions: the launcher's file name, the separator of PATH, the rule for
// appending a name to a folder, and the usual installation places (read from the environment,
// strictly).
std::string_view launcherName();
char searchPathSeparator();
std::string joinLauncherPath(std::string_view folder, std::string_view name);
std::vector<std::string> installationCandidates();
// False for a PATH folder whose probe could hang (a network share, a drive that is gone): it is
// left out of the search.
bool isSearchFolderQuickToProbe(std::string_view folder);

// Pure rules, the same on every host.
// Appends name with a backslash, unless folder ends in '\' or '/' or is a bare drive ("C:").
std::string joinWindowsPath(std::string_view folder, std::string_view name);
// Appends name with a slash, unless folder ends in '/'.
std::string joinPosixPath(std::string_view folder, std::string_view name);
// The folders named by a PATH value: pieces between separators, untrimmed; a piece of two or
// more characters wrapped in double quotes loses them; empty pieces are dropped.
std::vector<std::string> splitSearchPath(std::string_view value, char separator);
// Windows' file test on the final target's attribute bits and, for a reparse point, its tag:
// folders, symbolic links and junctions are refused; other reparse points (a deduplicated or
// cloud-synchronised file) are files like any other.
bool isLauncherFileAttributes(std::uint32_t attributes, std::uint32_t reparseTag);
// Windows' rule for PATH folders: a UNC path (\\server\share, \\?\UNC\..., a \\.\ device) is
// never probed; any other folder is probed unless its drive is remote, absent or of no known
// type. driveType answers GetDriveTypeW's numbers for a root such as "C:\", or for "" (the
// current directory's drive, which a relative folder or one starting with a backslash is on).
bool isWindowsSearchFolderQuickToProbe(
    std::string_view folder, const std::function<unsigned(std::string_view root)>& driveType);

}  // namespace connector
