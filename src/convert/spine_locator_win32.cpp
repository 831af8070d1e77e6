#include "convert/spine_locator.hpp"
#include "platform/environment.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"

namespace connector {

std::string_view launcherName() { return "Spine.com"; }

char searchPathSeparator() { return ';'; }

std::string joinLauncherPath(std::string_view folder, std::string_view name) {
  return joinWindowsPath(folder, name);
}

std::vector<std::string> installationCandidates() {
  std::vector<std::string> candidates;
  for (const char* base : {"ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA"}) {
    const std::string folder = readEnvironmentStrict(base);
    if (folder.empty()) continue;
    const std::string vendor = joinWindowsPath(folder, "Esoteric Software");
    const std::string programs = joinWindowsPath(folder, "Programs");
    candidates.push_back(joinWindowsPath(joinWindowsPath(folder, "Spine"), launcherName()));
    candidates.push_back(joinWindowsPath(joinWindowsPath(vendor, "Spine"), launcherName()));
    candidates.push_back(joinWindowsPath(joinWindowsPath(programs, "Spine"), launcherName()));
  }
  return candidates;
}

bool isSearchFolderQuickToProbe(std::string_view folder) {
  return isWindowsSearchFolderQuickToProbe(folder, [](std::string_view root) {
    if (root.empty()) return static_cast<unsigned>(GetDriveTypeW(nullptr));
    const std::wstring wide = toWide(root);
    return static_cast<unsigned>(GetDriveTypeW(wide.c_str()));
  });
}

bool isLauncherFile(const std::filesystem::path& candidate) {
  // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows symbolic links and junctions to the
  // final target; a dangling link fails here. Backup semantics lets directories open too, so
  // they can be recognised and refused.
  UniqueHandle file(CreateFileW(candidate.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return false;  // devices such as NUL
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) return false;
  DWORD reparseTag = 0;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
      return false;
    reparseTag = tag.ReparseTag;
  }
  return isLauncherFileAttributes(information.dwFileAttributes, reparseTag);
}

}  // namespace connector
