#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

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

// Owns a list of process and thread attributes, sized for `count` entries.
class AttributeList {
 public:
  explicit AttributeList(DWORD count) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size > 0 && InitializeProcThreadAttributeList(list, count, 0, &size)) list_ = list;
  }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  ~AttributeList() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job that ends every process in it when its last handle closes, so that nothing the child
// starts outlives the run, whichever way the runner leaves.
UniqueHandle createKillOnCloseJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    job.reset();
  }
  return job;
}

// An inheritable copy of the connector's own standard input, or none (the windowed connector
// normally has none, and a handle that cannot be copied is not passed on).
UniqueHandle inheritableStandardInput() {
  const HANDLE own = GetStdHandle(STD_INPUT_HANDLE);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return UniqueHandle();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle();
  }
  return UniqueHandle(copy);
}

}  // namespace

ProcessResult ProcessRunner::run(const std::string& executable,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingDirectory,
                                 std::stop_token stop) const {
  ProcessResult result;
  if (stop.stop_requested()) {
    result.cancelled = true;
    return result;
  }
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

  UniqueHandle job = createKillOnCloseJob();
  if (!job) throw std::runtime_error(process_capture::kStartFailed);

  // Only the handles listed here are inherited, whatever else of the connector is inheritable
  // at this moment (a settings file another thread has open, a socket).
  UniqueHandle input = inheritableStandardInput();
  HANDLE inherited[2] = {writeEnd.get(), input.get()};
  const DWORD inheritedCount = input ? 2 : 1;
  AttributeList attributes(1);
  if (!attributes.get() ||
      !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                 inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
    throw std::runtime_error(process_capture::kStartFailed);
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = writeEnd.get();
  startup.StartupInfo.hStdError = writeEnd.get();
  startup.lpAttributeList = attributes.get();

  std::wstring commandLine = buildCommandLine(executable, arguments);
  const std::wstring directory = workingDirectory.wstring();
  PROCESS_INFORMATION info{};
  // Created suspended, so the child is in the job before it runs any code (and so before it
  // can start anything of its own).
  const DWORD creationFlags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
  const BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                      creationFlags, nullptr,
                                      directory.empty() ? nullptr : directory.c_str(),
                                      &startup.StartupInfo, &info);
  writeEnd.reset();  // the child holds its own copy; ours would keep the pipe open
  input.reset();
  if (!created) throw std::runtime_error(process_capture::kStartFailed);
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (!AssignProcessToJobObject(job.get(), process.get()) || ResumeThread(thread.get()) == DWORD(-1)) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
    throw std::runtime_error(process_capture::kStartFailed);
  }

  const auto deadline = Clock::now() + timeout_;
  Buffer buffer;
  for (;;) {
    // While output flows, look again at once; only an idle pass waits the full 20 ms.
    const bool readSomething = readWaiting(readEnd.get(), result.output, buffer);
    const DWORD wait = readSomething ? 0 : static_cast<DWORD>(process_capture::kPassWait.count());
    if (WaitForSingleObject(process.get(), wait) == WAIT_OBJECT_0) break;
    if (stop.stop_requested()) {
      result.cancelled = true;
      break;
    }
    if (Clock::now() >= deadline) {
      result.timedOut = true;
      break;
    }
  }
  // The whole tree ends with the run: on time-out or stop the child with code 1, and after the
  // child's own end whatever it left running.
  TerminateJobObject(job.get(), 1);
  WaitForSingleObject(process.get(), INFINITE);
  drainAfterEnd(readEnd.get(), result.output, buffer);

  DWORD exitCode = 1;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 1;
  result.exitCode = result.cancelled ? 1u : exitCode;
  return result;
}

}  // namespace connector
