#include <system_error>

#include "convert/spine_locator.hpp"
#include "platform/environment.hpp"

namespace connector {

std::string_view launcherName() { return "Spine.sh"; }

char searchPathSeparator() { return ':'; }

std::string joinLauncherPath(std::string_view folder, std::string_view name) {
  return joinPosixPath(folder, name);
}

std::vector<std::string> installationCandidates() {
  std::vector<std::string> candidates;
  const std::string home = readEnvironmentStrict("HOME");
  if (!home.empty()) {
    candidates.push_back(joinPosixPath(joinPosixPath(home, "Spine"), launcherName()));
  }
  return candidates;
}

bool isLauncherFile(const std::filesystem::path& candidate) {
  std::error_code error;
  // status() follows symbolic links: a dangling one is an error, a link to a folder a folder.
  const std::filesystem::file_status status = std::filesystem::status(candidate, error);
  return !error && status.type() == std::filesystem::file_type::regular;
}

// Network folders on Linux answer or fail as the mount is set up to; nothing is left out.
bool isSearchFolderQuickToProbe(std::string_view) { return true; }

}  // namespace connector
