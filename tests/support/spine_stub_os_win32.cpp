#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "platform/win32.hpp"
#include "support/spine_stub_os.hpp"

#include <tlhelp32.h>  // after windows.h, which it needs

namespace connector::test {

std::string startHangingCopy(const std::string& mode) {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) return "";
  self.resize(length);
  std::wstring commandLine = L"\"" + self + L"\" --import " + toWide(mode);
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

namespace {

// One entry of the system's handle table (SystemExtendedHandleInformation), as ntdll lays it out.
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  HANDLE value;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG attributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};
constexpr ULONG kExtendedHandleInformation = 64;
constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);

std::vector<DWORD> processesRunning(const std::wstring& program) {
  std::vector<DWORD> found;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) continue;
    if (CompareStringOrdinal(path.c_str(), static_cast<int>(size), program.c_str(),
                             static_cast<int>(program.size()), TRUE) == CSTR_EQUAL) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

}  // namespace

// GetProcessHandleCount answers 0 under Wine; the system's handle table is right on both.
std::string describeHandleCounts(const std::string& program) {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<ULONG_PTR> buffer(1 << 16);
  LONG status = kLengthMismatch;
  while (query && status == kLengthMismatch) {
    ULONG needed = 0;
    status = query(kExtendedHandleInformation, buffer.data(),
                   static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed);
    if (status == kLengthMismatch) buffer.resize(buffer.size() * 2 + needed / sizeof(ULONG_PTR));
  }
  if (!query || status < 0) return "stub: no handle table\n";
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  std::string report;
  for (const DWORD id : processesRunning(toWide(program))) {
    std::size_t handles = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) handles += table->entries[i].processId == id;
    report += "pid " + std::to_string(id) + " handles=" + std::to_string(handles) + "\n";
  }
  return report;
}

}  // namespace connector::test
