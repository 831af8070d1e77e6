#include <algorithm>
#include <array>
#include <stdexcept>

#include "platform/process_capture.hpp"
#include "platform/process_runner.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

using Clock = std::chrono::steady_clock;
using Buffer = std::array<char, ProcessRunner::kReadChunk>;

// Bytes waiting in the pipe now; 0 also when the pipe cannot be asked (broken or closed).
DWORD bytesWaiting(HANDLE pipe) {
  DWORD waiting = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return 0;
  return waiting;
}

// Reads everything waiting now, in chunks of at most kReadChunk. ReadFile never blocks here:
// it never asks for more than is waiting. Returns true when something was read.
bool readWaiting(HANDLE pipe, std::string& output, Buffer& buffer) {
  DWORD waiting = bytesWaiting(pipe);
  bool readSomething = false;
  while (waiting > 0) {
    const DWORD want = std::min<DWORD>(waiting, static_cast<DWORD>(buffer.size()));
    DWORD n = 0;
    if (!ReadFile(pipe, buffer.data(), want, &n, nullptr) || n == 0) break;
    process_capture::appendCapped(output, buffer.data(), n);
    waiting -= std::min(waiting, n);
    readSomething = true;
  }
  return readSomething;
}

// After the child's end: what is already in the pipe, until nothing waits, the cap is reached or
// the time is up (a descendant may still hold the pipe open and keep writing).
void drainAfterEnd(HANDLE pipe, std::string& output, Buffer& buffer) {
  const auto stop = Clock::now() + process_capture::kDrainAfterEnd;
  while (output.size() < ProcessRunner::kOutputCap && Clock::now() < stop) {
    if (!readWaiting(pipe, output, buffer)) return;
  }
}

}  // namespace

ProcessResult ProcessRunner::run(const std::string& executable,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingDirectory) const {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE readHandle = nullptr;
  HANDLE writeHandle = nullptr;
  if (!CreatePipe(&readHandle, &writeHandle, &security, 0)) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }
  UniqueHandle readEnd(readHandle);
  UniqueHandle writeEnd(writeHandle);
  if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();

  std::wstring commandLine = buildCommandLine(executable, arguments);
  const std::wstring directory = workingDirectory.wstring();
  PROCESS_INFORMATION info{};
  const BOOL created =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup, &info);
  writeEnd.reset();  // the child holds its own copy; ours would keep the pipe open
  if (!created) throw std::runtime_error(process_capture::kStartFailed);
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  ProcessResult result;
  const auto deadline = Clock::now() + timeout_;
  Buffer buffer;
  for (;;) {
    // While output flows, look again at once; only an idle pass waits the full 20 ms.
    const bool readSomething = readWaiting(readEnd.get(), result.output, buffer);
    const DWORD wait = readSomething ? 0 : static_cast<DWORD>(process_capture::kPassWait.count());
    if (WaitForSingleObject(process.get(), wait) == WAIT_OBJECT_0) break;
    if (Clock::now() >= deadline) {
      result.timedOut = true;
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), INFINITE);
      break;
    }
  }
  drainAfterEnd(readEnd.get(), result.output, buffer);

  DWORD exitCode = 1;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 1;
  result.exitCode = exitCode;
  return result;
}

}  // namespace connector
