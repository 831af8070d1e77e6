// Run by the process runner's tests inside the runner's job: starts a copy of itself (suspended,
// ended at once) twice, plainly and asking to leave the job, and prints where each copy landed.
#include <string>

#include <cstdio>

#include "platform/win32.hpp"

namespace {

// "in-job", "outside" or "refused" for a copy started with the given extra creation flags.
const char* whereACopyLands(DWORD extraFlags) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return "no-path";
  std::wstring commandLine = L"\"" + std::wstring(self, length) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW | extraFlags, nullptr, nullptr, &startup,
                      &info)) {
    return "refused";
  }
  connector::UniqueHandle process(info.hProcess);
  connector::UniqueHandle thread(info.hThread);
  BOOL inJob = FALSE;
  const bool asked = IsProcessInJob(process.get(), nullptr, &inJob) != 0;
  TerminateProcess(process.get(), 0);
  WaitForSingleObject(process.get(), INFINITE);
  if (!asked) return "unknown";
  return inJob ? "in-job" : "outside";
}

}  // namespace

int main() {
  std::printf("plain=%s\n", whereACopyLands(0));
  std::printf("breakaway=%s\n", whereACopyLands(CREATE_BREAKAWAY_FROM_JOB));
  return 0;
}
