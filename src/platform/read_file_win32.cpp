#include "platform/read_file.hpp"
#include "platform/win32.hpp"

namespace connector {

FileRead readWholeFile(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  // Full sharing, so reading never stands in the way of a save's rename by another process.
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Missing
                                                                          : FileRead::Unreadable;
  }
  // A device name in the settings path opens the device, not a file.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return FileRead::Unreadable;
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      bytes.clear();
      return FileRead::Unreadable;
    }
    if (got == 0) return FileRead::Read;
    bytes.append(buffer, got);
  }
}

}  // namespace connector
