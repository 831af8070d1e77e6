#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.hpp"
#include "support/spine_stub_os.hpp"

namespace connector::test {

std::string startHangingCopy() {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) return "";
  self.resize(length);
  std::wstring commandLine = L"\"" + self + L"\" --import stub-hang";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info)) {
    return "";
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return std::to_string(info.dwProcessId);
}

std::string startBreakawayCopy() {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) return "";
  self.resize(length);
  std::wstring commandLine = L"\"" + self + L"\" --import stub-hang";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup,
                      &info)) {
    return "";
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return std::to_string(info.dwProcessId);
}

void crash() {
  // No error report dialog: on a desktop it would hold the process until someone closes it.
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
  for (;;) Sleep(INFINITE);
}

// A value only counts as the probe when it names a disk file here: a fresh process has a few
// handles of its own, and one of them could carry the same number.
std::string describeInheritedHandles(const std::vector<std::string>& probes) {
  std::string report;
  for (const std::string& probe : probes) {
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(probe)));
    DWORD flags = 0;
    const bool open = GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_DISK;
    report += "probe " + probe + (open ? "=open\n" : "=closed\n");
  }
  return report;
}

}  // namespace connector::test
