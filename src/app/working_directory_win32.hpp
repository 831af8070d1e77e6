#pragma once
// Keeps the process's working directory (Windows only): the open-file dialog moves it to the
// folder the user picked from, whatever OFN_NOCHANGEDIR says, and relative paths would follow.
#include "platform/win32.hpp"

#include <string>

namespace connector {

// Remembers the working directory when made and puts it back when it goes out of scope.
class ScopedWorkingDirectory {
 public:
  ScopedWorkingDirectory();
  ~ScopedWorkingDirectory();
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::wstring saved_;  // empty when it could not be read: then nothing is put back
};

}  // namespace connector
