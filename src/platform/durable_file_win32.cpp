#include <algorithm>
#include <limits>
#include <system_error>

#include "platform/durable_file.hpp"
#include "platform/win32.hpp"

namespace connector {

DurableWrite writeFileDurably(const std::filesystem::path& path, std::string_view bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return DurableWrite::OpenFailed;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(
        std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
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
  if (!MoveFileExW(from.c_str(), to.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    const auto error = static_cast<int>(GetLastError());
    throw std::filesystem::filesystem_error("rename", from, to,
                                            std::error_code(error, std::system_category()));
  }
}

}  // namespace connector
