#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_job_win32.hpp"
#include "platform/child_process.hpp"
#include "platform/process_runner.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"
#include "support/child_process.hpp"
#include "support/spine_stub.hpp"

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

// The "breakaway=<pid>" line of the test launcher's updater mode.
std::string breakawayOf(const std::string& output) {
  const std::string key = "breakaway=";
  const auto start = output.find(key);
  if (start == std::string::npos) return {};
  return output.substr(start + key.size(),
                       output.find_first_of("\r\n", start) - start - key.size());
}

// The end of a run leaves alone a program Spine started asking to leave the job, as its updater
// does; the test launcher starts one in its "stub-breakaway" mode.
TEST(ChildJobWin32, AProgramThatLeftTheJobOutlivesTheRun) {
  const ProcessResult result =
      ProcessRunner().run(test::spineStubPath(), {"--import", "stub-breakaway"}, {});
  const std::string updater = breakawayOf(result.output);
  ASSERT_FALSE(updater.empty()) << result.output;
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(test::processRunning(updater));
  test::killProcess(updater);
  EXPECT_TRUE(test::processEndsWithin(updater, std::chrono::seconds(5)));
}

// What the end of a run waits on: the job lists a process it holds, a wait on it lasts while it
// runs, and after the job is ended the tree counts as gone. An id that is not the job's (a later
// program that took a listed id) is not waited on.
TEST(ChildJobWin32, ListsTheProcessesOfTheJobAndWaitsOnThem) {
  UniqueHandle job = createChildJob();
  ASSERT_TRUE(job);
  EXPECT_EQ(jobProcessIds(job.get()), std::optional(std::vector<std::uint32_t>{}));
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
  const std::uint32_t id = info.dwProcessId;
  EXPECT_EQ(jobProcessIds(job.get()), std::optional(std::vector<std::uint32_t>{id}));
  EXPECT_FALSE(waitForJobProcess(job.get(), id, std::chrono::milliseconds(50)));  // suspended
  EXPECT_TRUE(waitForJobProcess(job.get(), GetCurrentProcessId(), std::chrono::milliseconds(0)));

  TerminateJobObject(job.get(), 1);
  const HANDLE held = job.get();
  EXPECT_TRUE(waitUntilTreeGone({[held] { return jobProcessIds(held); },
                                 [held](std::uint32_t member, std::chrono::milliseconds limit) {
                                   return waitForJobProcess(held, member, limit);
                                 },
                                 [] { return std::chrono::steady_clock::now(); }}));
  // This test still holds the process: listed or not, it has ended.
  EXPECT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(waitForJobProcess(job.get(), id, std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace connector
