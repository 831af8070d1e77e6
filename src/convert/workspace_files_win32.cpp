#include <algorithm>
#include <chrono>
#include <string>

#include "convert/workspace_files.hpp"
#include "platform/busy_retry.hpp"
#include "platform/read_file.hpp"
#include "platform/win32.hpp"

namespace connector::workspace_files {

namespace {

bool writeAndClose(UniqueHandle file, std::string_view bytes) noexcept {
  if (!file) return false;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return CloseHandle(file.release()) != 0;
}

// Every call takes the extended form: an image path may take the full path past 260 characters.
std::wstring systemName(const std::filesystem::path& path) {
  return extendedLengthPath(path.native());
}

// A scanner that opens a staged file for a moment without write sharing is waited out.
constexpr RetryLimit kSharingRetry{10, std::chrono::milliseconds(20)};

// Read and delete sharing: a virus scanner may read the file while it is written, and its
// handle does not keep the workspace from being removed.
UniqueHandle openForWriting(const std::filesystem::path& path, DWORD disposition) noexcept {
  UniqueHandle file;
  try {
    const std::wstring name = systemName(path);
    retryWhileBusy(
        [&] {
          file.reset(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
          if (file) return Attempt::Done;
          return GetLastError() == ERROR_SHARING_VIOLATION ? Attempt::Busy : Attempt::Failed;
        },
        kSharingRetry);
  } catch (...) {
    // No memory for the name or the retry: whatever the last try gave.
  }
  return file;
}

// The user's account and SYSTEM, full control, inherited by everything inside; nothing from
// the folder above (a TEMP such as C:\Temp lets every signed-in user change its entries).
class PrivateSecurity {
 public:
  PrivateSecurity() noexcept {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return;
    const UniqueHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0 || size > sizeof user_) return;
    if (!GetTokenInformation(token.get(), TokenUser, user_, sizeof user_, &size)) return;
    DWORD systemSize = sizeof system_;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize)) return;
    const PSID userSid = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
    constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION) ||
        !AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl_), ACL_REVISION, kInherit,
                               FILE_ALL_ACCESS, userSid) ||
        !AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl_), ACL_REVISION, kInherit,
                               FILE_ALL_ACCESS, system_) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
  }
  // Null when the descriptor could not be built: no folder is made then.
  SECURITY_ATTRIBUTES* attributes() noexcept { return ready_ ? &attributes_ : nullptr; }

 private:
  alignas(8) unsigned char user_[256]{};
  alignas(8) unsigned char system_[SECURITY_MAX_SID_SIZE]{};
  alignas(8) unsigned char acl_[1024]{};
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// The calls below take the name the system is given: the extended-length form of a full path.
bool createPrivateDirectoryNamed(const std::wstring& name) noexcept {
  PrivateSecurity security;
  if (security.attributes() == nullptr) return false;
  return CreateDirectoryW(name.c_str(), security.attributes()) != 0;
}

// The standard library's status follows junctions and reports them as plain directories, so
// the attribute bits are read here.
EntryKind entryKindNamed(const std::wstring& name) noexcept {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::missing;
  return entryKindFromWindowsAttributes(attributes);
}

// A junction or directory link carries the directory bit and goes with RemoveDirectoryW, which
// removes the link, not its target.
RemoveOutcome removeEntryNamed(const std::wstring& name) noexcept {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return removeOutcomeFromWindowsError(GetLastError());
  const BOOL removed = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(name.c_str())
                                                             : DeleteFileW(name.c_str());
  return removed ? RemoveOutcome::removed : removeOutcomeFromWindowsError(GetLastError());
}

}  // namespace

bool createPrivateDirectory(const std::filesystem::path& path) noexcept {
  try {
    return createPrivateDirectoryNamed(systemName(path));
  } catch (...) {
    return false;  // no memory for the name
  }
}

bool createNewPrivateFile(const std::filesystem::path& path) noexcept {
  UniqueHandle file = openForWriting(path, CREATE_NEW);
  return file && CloseHandle(file.release()) != 0;
}

bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(openForWriting(path, CREATE_ALWAYS), bytes);
}

bool fillNewPrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(openForWriting(path, OPEN_EXISTING), bytes);
}

bool readFile(const std::filesystem::path& path, std::string& bytes) {
  return readWholeFile(systemName(path), bytes) == FileRead::Read;
}

EntryKind entryKind(const std::filesystem::path& path) noexcept {
  try {
    return entryKindNamed(systemName(path));
  } catch (...) {
    return EntryKind::other;  // no memory for the name: neither entered nor taken as gone
  }
}

RemoveOutcome removeEntry(const std::filesystem::path& path) noexcept {
  try {
    return removeEntryNamed(systemName(path));
  } catch (...) {
    return RemoveOutcome::failed;  // no memory for the name
  }
}

bool fitsPathLimit(const std::filesystem::path& path) noexcept {
  constexpr std::size_t kLongestPath = 32'767;
  try {
    return systemName(path).size() <= kLongestPath;
  } catch (...) {
    return false;  // no memory for the name
  }
}

// Each call names the entry by its full path: the calls that take a folder's handle instead are
// not the documented file API.
struct FolderWalk::Native {
  std::wstring folder;
  std::size_t depth = 0;  // levels entered

  std::wstring systemNameOf(Text name) const {
    return extendedLengthPath(folder + L'\\' + std::wstring(name));
  }
};

FolderWalk::FolderWalk(const std::filesystem::path& folder) noexcept {
  try {
    if (entryKindNamed(systemName(folder)) != EntryKind::directory) return;
    native_ = std::make_unique<Native>();
    native_->folder = folder.native();
  } catch (...) {
    native_.reset();  // no memory: not ready
  }
}

FolderWalk::~FolderWalk() = default;

bool FolderWalk::ready() const noexcept { return native_ != nullptr; }

EntryKind FolderWalk::kind(Text name) const noexcept {
  try {
    return entryKindNamed(native_->systemNameOf(name));
  } catch (...) {
    return EntryKind::other;  // no memory for the name: neither entered nor taken as gone
  }
}

std::vector<FolderWalk::Name> FolderWalk::names() const noexcept {
  std::vector<Name> names;
  try {
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileExW(native_->systemNameOf(L"*").c_str(), FindExInfoBasic,
                                             &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) return names;
    do {
      const std::wstring_view name = found.cFileName;
      if (name != L"." && name != L"..") names.emplace_back(name);
    } while (FindNextFileW(search.get(), &found));
  } catch (...) {
    // No memory for the list: the names found so far.
  }
  return names;
}

bool FolderWalk::createFolder(Text name) noexcept {
  try {
    return createPrivateDirectoryNamed(native_->systemNameOf(name));
  } catch (...) {
    return false;  // no memory for the name
  }
}

RemoveOutcome FolderWalk::remove(Text name) noexcept {
  try {
    return removeEntryNamed(native_->systemNameOf(name));
  } catch (...) {
    return RemoveOutcome::failed;  // no memory for the name
  }
}

bool FolderWalk::enter(Text name) noexcept {
  try {
    if (kind(name) != EntryKind::directory) return false;
    native_->folder += L'\\';
    native_->folder += name;
    ++native_->depth;
    return true;
  } catch (...) {
    return false;  // no memory for the longer name
  }
}

bool FolderWalk::leave() noexcept {
  if (native_->depth == 0) return false;
  native_->folder.erase(native_->folder.rfind(L'\\'));
  --native_->depth;
  return true;
}

}  // namespace connector::workspace_files
