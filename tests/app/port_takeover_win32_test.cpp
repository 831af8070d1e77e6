// Port takeover's stopping against real Windows processes.
#include "platform/win32.hpp"

#include <gtest/gtest.h>

#include <string>

#include "app/port_takeover.hpp"
#include "http/status_reason.hpp"

namespace connector {
namespace {

// A suspended copy of this test program: a process that does nothing until it is ended, and is
// ended on every path.
class IdleProcess {
 public:
  IdleProcess() {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + self + L"\"";
    if (CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                       nullptr, nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      UniqueHandle thread(info.hThread);
      id_ = info.dwProcessId;
    }
  }
  ~IdleProcess() {
    if (process_) TerminateProcess(process_.get(), 1);
  }
  IdleProcess(const IdleProcess&) = delete;
  IdleProcess& operator=(const IdleProcess&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  ProcessId id() const { return id_; }
  bool running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

 private:
  UniqueHandle process_;
  ProcessId id_ = 0;
};

// The id from a table read before the process existed cannot have been this process.
TEST(PortHolderStop, LeavesAProcessNewerThanTheTableItsIdCameFrom) {
  PortSystem calls = systemPortCalls(1);  // port 1: nobody listens, only the read's time counts
  calls.listeners();
  Sleep(20);  // a later creation time than the read, also on a coarse system clock
  IdleProcess newer;
  ASSERT_TRUE(newer.started()) << GetLastError();
  EXPECT_EQ(calls.terminateAndWait(newer.id()), PortSystem::Stop::Stopped);
  EXPECT_TRUE(newer.running());

  calls.listeners();  // a table read after the process started
  EXPECT_EQ(calls.terminateAndWait(newer.id()), PortSystem::Stop::Stopped);
  EXPECT_FALSE(newer.running());
}

// The table names System (4) for every HTTP.sys listener; the real calls never try to end it.
TEST(PortHolderStop, NeverTargetsTheSystemProcess) {
  PortSystem calls = systemPortCalls(1);
  calls.listeners = [] { return std::set<ProcessId>{4}; };
  PortTakeover(calls).stopPortHolders();
  EXPECT_EQ(statusReason(), "端口 27843 被系统 HTTP 服务（HTTP.sys）占用，无法停止");
  statusReason().clear();
}

}  // namespace
}  // namespace connector
