#include <gtest/gtest.h>

#include <string>

#include "platform/child_job_win32.hpp"
#include "platform/child_process.hpp"
#include "platform/process_runner.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

// The probe program is built beside this test program.
std::string jobProbePath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path.resize(path.find_last_of(L"\\/") + 1);
  return toUtf8(path + L"job-probe.exe");
}

// An updater that Spine starts asking to leave the job may; anything else Spine starts stays in
// it and ends with the run.
TEST(ChildJobWin32, ChildrenStayInTheJobUnlessTheyAskToLeave) {
  const ProcessResult result = ProcessRunner().run(jobProbePath(), {}, {});
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(result.output, "plain=in-job\r\nbreakaway=outside\r\n");  // the C runtime's text mode
}

// The count the end of a run waits on: it sees a process in the job and sees it gone.
TEST(ChildJobWin32, CountsTheProcessesStillActiveInTheJob) {
  UniqueHandle job = createChildJob();
  ASSERT_TRUE(job);
  EXPECT_EQ(activeProcesses(job.get()), std::optional<std::uint32_t>(0));
  std::wstring commandLine = L"\"" + toWide(jobProbePath()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                             nullptr, &startup, &info));
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  ASSERT_TRUE(AssignProcessToJobObject(job.get(), process.get()));
  EXPECT_EQ(activeProcesses(job.get()), std::optional<std::uint32_t>(1));
  TerminateJobObject(job.get(), 1);
  EXPECT_TRUE(waitUntilTreeGone(
      [&job] { return activeProcesses(job.get()); },
      [](std::chrono::milliseconds pause) { Sleep(static_cast<DWORD>(pause.count())); }));
}

}  // namespace
}  // namespace connector
