#include "app/working_directory_win32.hpp"

namespace connector {

ScopedWorkingDirectory::ScopedWorkingDirectory() {
  // The directory may change between asking for the length and reading it: ask again then.
  for (DWORD size = GetCurrentDirectoryW(0, nullptr); size != 0;) {
    saved_.assign(size, L'\0');
    const DWORD written = GetCurrentDirectoryW(size, saved_.data());
    if (written < size) {
      saved_.resize(written);
      return;
    }
    size = written;  // too small: written is the size needed, terminator included
  }
  saved_.clear();
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  if (!saved_.empty()) SetCurrentDirectoryW(saved_.c_str());
}

}  // namespace connector
