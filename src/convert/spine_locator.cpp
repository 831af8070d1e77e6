#include "convert/spine_locator.hpp"

#include "config/config.hpp"
#include "encoding/ascii.hpp"
#include "platform/environment.hpp"
#include "platform/text.hpp"

namespace connector {

std::string joinWindowsPath(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  const bool endsInSeparator = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  const bool bareDrive = folder.size() == 2 && isAsciiLetter(folder[0]) && folder[1] == ':';
  if (!folder.empty() && !endsInSeparator && !bareDrive) joined.push_back('\\');
  joined.append(name);
  return joined;
}

std::string joinPosixPath(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  if (!folder.empty() && folder.back() != '/') joined.push_back('/');
  joined.append(name);
  return joined;
}

std::vector<std::string> splitSearchPath(std::string_view value, char separator) {
  std::vector<std::string> folders;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find(separator, start);
    std::string_view piece = value.substr(start, end == std::string_view::npos ? end : end - start);
    if (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"') {
      piece = piece.substr(1, piece.size() - 2);
    }
    if (!piece.empty()) folders.emplace_back(piece);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return folders;
}

bool isLauncherFileAttributes(std::uint32_t attributes, std::uint32_t reparseTag) {
  constexpr std::uint32_t kDirectory = 0x10;              // FILE_ATTRIBUTE_DIRECTORY
  constexpr std::uint32_t kReparsePoint = 0x400;          // FILE_ATTRIBUTE_REPARSE_POINT
  constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
  constexpr std::uint32_t kMountPointTag = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT
  if (attributes & kDirectory) return false;
  if (attributes & kReparsePoint)
    return reparseTag != kSymbolicLinkTag && reparseTag != kMountPointTag;
  return true;
}

bool isWindowsSearchFolderQuickToProbe(
    std::string_view folder, const std::function<unsigned(std::string_view root)>& driveType) {
  constexpr unsigned kUnknown = 0;  // DRIVE_UNKNOWN
  constexpr unsigned kNoRoot = 1;   // DRIVE_NO_ROOT_DIR: no such drive (any more)
  constexpr unsigned kRemote = 4;   // DRIVE_REMOTE: a share that may block for a minute
  const auto slash = [](char c) { return c == '\\' || c == '/'; };
  if (folder.size() >= 4 && slash(folder[0]) && slash(folder[1]) && folder[2] == '?' &&
      slash(folder[3])) {
    folder.remove_prefix(4);  // \\?\C:\... is C:\...; \\?\UNC\... stays a share below
    if (folder.size() >= 4 && equalsIgnoringAsciiCase(folder.substr(0, 3), "UNC") &&
        slash(folder[3])) {
      return false;
    }
  } else if (folder.size() >= 2 && slash(folder[0]) && slash(folder[1])) {
    return false;  // \\server\share, \\.\device
  }
  std::string root;
  if (folder.size() >= 2 && folder[1] == ':' && isAsciiLetter(folder[0])) {
    root = std::string(folder.substr(0, 2)) + "\\";
  }
  const unsigned type = driveType(root);
  return type != kUnknown && type != kNoRoot && type != kRemote;
}

std::vector<std::filesystem::path> locatorCandidates() {
  std::vector<std::string> texts;
  texts.push_back(readEnvironmentStrict("SPINE_EXECUTABLE"));
  texts.push_back(loadConfig().spineExecutable);
  for (std::string& candidate : installationCandidates()) texts.push_back(std::move(candidate));
  const std::string searchPath = readEnvironmentStrict("PATH");
  for (const std::string& folder : splitSearchPath(searchPath, searchPathSeparator())) {
    if (!isSearchFolderQuickToProbe(folder)) continue;
    texts.push_back(joinLauncherPath(folder, launcherName()));
  }

  std::vector<std::filesystem::path> candidates;
  candidates.reserve(texts.size());
  for (const std::string& text : texts) {
    if (text.empty()) continue;
    std::filesystem::path candidate = pathFromUtf8(text);
    if (!candidate.empty()) candidates.push_back(std::move(candidate));
  }
  return candidates;
}

std::string SpineLocator::locate() {
  try {
    for (const std::filesystem::path& candidate : locatorCandidates()) {
      std::string text = pathToUtf8(candidate);
      if (!text.empty() && isLauncherFile(candidate)) return text;
    }
  } catch (...) {
    // Any failure of the search (an undecodable environment value, memory) means "not found".
  }
  return {};
}

}  // namespace connector
