#include <string>

#include "platform/win32.hpp"
#include "support/child_process.hpp"

namespace connector::test {

namespace {
DWORD processId(const std::string& pid) { return static_cast<DWORD>(std::stoul(pid)); }
}  // namespace

bool processRunning(const std::string& pid) {
  if (pid.empty()) return false;
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId(pid)));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void killProcess(const std::string& pid) {
  if (pid.empty()) return;
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId(pid)));
  if (process) TerminateProcess(process.get(), 1);
}

InheritableProbe::InheritableProbe(const std::filesystem::path& file) : handle_(0) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &security, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(handle);
}

InheritableProbe::~InheritableProbe() {
  if (valid()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool InheritableProbe::valid() const { return handle_ != 0; }

std::string InheritableProbe::value() const { return std::to_string(handle_); }

}  // namespace connector::test
