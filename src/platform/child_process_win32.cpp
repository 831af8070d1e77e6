#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/child_job_win32.hpp"
#include "platform/child_process.hpp"
#include "platform/process_capture.hpp"
#include "platform/quote_argument.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

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

struct ChildProcess::System {
  UniqueHandle readEnd;
  UniqueHandle job;  // closing it ends whatever of the tree still runs, on every path
  UniqueHandle process;
  UniqueHandle thread;
  std::uint32_t exitCode = 1;  // read by endTree; 1 until then, or when the system cannot tell
};

ChildProcess::ChildProcess(const std::string& executable, const std::vector<std::string>& arguments,
                           const std::filesystem::path& workingDirectory)
    : system_(std::make_unique<System>()) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE readHandle = nullptr;
  HANDLE writeHandle = nullptr;
  if (!CreatePipe(&readHandle, &writeHandle, &security, 0)) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }
  system_->readEnd.reset(readHandle);
  UniqueHandle writeEnd(writeHandle);
  if (!SetHandleInformation(readHandle, HANDLE_FLAG_INHERIT, 0)) {
    throw std::runtime_error(process_capture::kPipeFailed);
  }

  system_->job = createChildJob();
  if (!system_->job) throw std::runtime_error(process_capture::kStartFailed);

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
  const BOOL created =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, creationFlags, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup.StartupInfo, &info);
  writeEnd.reset();  // the child holds its own copy; ours would keep the pipe open
  input.reset();
  if (!created) throw std::runtime_error(process_capture::kStartFailed);
  system_->process.reset(info.hProcess);
  system_->thread.reset(info.hThread);
  if (!AssignProcessToJobObject(system_->job.get(), info.hProcess) ||
      ResumeThread(info.hThread) == DWORD(-1)) {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, INFINITE);
    throw std::runtime_error(process_capture::kStartFailed);
  }
}

ChildProcess::~ChildProcess() = default;

// ReadFile never blocks here: it never asks for more than is waiting. A failed peek or read
// counts as nothing waiting, except a broken pipe, which no writer holds any more.
ChildProcess::Read ChildProcess::readWaiting(std::span<char> buffer) {
  DWORD waiting = 0;
  if (!PeekNamedPipe(system_->readEnd.get(), nullptr, 0, nullptr, &waiting, nullptr)) {
    return Read{0, GetLastError() == ERROR_BROKEN_PIPE};
  }
  if (waiting == 0) return Read{};
  const DWORD want = std::min<DWORD>(waiting, static_cast<DWORD>(buffer.size()));
  DWORD n = 0;
  if (!ReadFile(system_->readEnd.get(), buffer.data(), want, &n, nullptr)) return Read{};
  return Read{n, false};
}

bool ChildProcess::waitEnded(std::chrono::milliseconds limit) {
  return WaitForSingleObject(system_->process.get(), static_cast<DWORD>(limit.count())) ==
         WAIT_OBJECT_0;
}

// On time-out or stop the child ends with code 1; after its own end, whatever it left running.
// TerminateJobObject does not wait: until the last process is gone, one may still hold the
// workspace as its directory or keep files in it open. The child's code is read and its handles
// closed first, so that nothing of the runner's holds the child in the job while it waits.
void ChildProcess::endTree() {
  TerminateJobObject(system_->job.get(), 1);
  WaitForSingleObject(system_->process.get(), INFINITE);
  DWORD code = 1;
  if (GetExitCodeProcess(system_->process.get(), &code)) system_->exitCode = code;
  system_->thread.reset();
  system_->process.reset();
  const HANDLE job = system_->job.get();
  waitUntilTreeGone({[job] { return jobProcessIds(job); },
                     [job](std::uint32_t id, std::chrono::milliseconds limit) {
                       return waitForJobProcess(job, id, limit);
                     },
                     [] { return std::chrono::steady_clock::now(); }});
}

std::uint32_t ChildProcess::exitCode() { return system_->exitCode; }

}  // namespace connector
