#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "platform/busy_retry.hpp"
#include "platform/durable_file.hpp"
#include "platform/system_error.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

// Scanners, indexers and sync clients open a file for a moment; a second is far longer than
// they hold it and still short for a person waiting on the window.
constexpr RetryLimit kReplaceRetry{20, std::chrono::milliseconds(50)};

// MinGW's headers offer this class only past a version number Windows never reports.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// What another program holding the settings file open gives a rename.
bool heldByAnotherProgram(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// Windows 10 1607 and later on NTFS: a rename with POSIX semantics replaces a file that others
// hold open with delete sharing, as scanners do. Returns the system's error code.
DWORD renameOverOpenReaders(const std::filesystem::path& from, const std::filesystem::path& to) {
  UniqueHandle file(CreateFileW(from.c_str(), DELETE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  const std::wstring& target = to.native();
  const std::size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.data(), nameBytes);
  if (!SetFileInformationByHandle(file.get(), kFileRenameInfoEx, rename,
                                  static_cast<DWORD>(buffer.size()))) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    return ERROR_SUCCESS;
  }
  return GetLastError();
}

}  // namespace

DurableWrite writeFileDurably(const std::filesystem::path& path, std::string_view bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return DurableWrite::OpenFailed;
  while (!bytes.empty()) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return DurableWrite::WriteFailed;
    }
    bytes.remove_prefix(written);
  }
  if (!FlushFileBuffers(file.get())) return DurableWrite::WriteFailed;
  if (!CloseHandle(file.release())) return DurableWrite::WriteFailed;
  return DurableWrite::Written;
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  DWORD error = ERROR_SUCCESS;
  const Attempt outcome = retryWhileBusy(
      [&] {
        error = renameOverOpenReaders(from, to);
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
            error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SAME_DEVICE) {
          error = moveReplacing(from, to);  // an older system, FAT, or another volume
        }
        if (error == ERROR_SUCCESS) return Attempt::Done;
        return heldByAnotherProgram(error) ? Attempt::Busy : Attempt::Failed;
      },
      kReplaceRetry);
  if (outcome != Attempt::Done) {
    throw std::filesystem::filesystem_error(
        "rename", from, to, std::error_code(static_cast<int>(error), systemErrors()));
  }
}

}  // namespace connector
