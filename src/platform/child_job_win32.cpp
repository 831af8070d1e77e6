#include "platform/child_job_win32.hpp"

#include <cstddef>

namespace connector {

UniqueHandle createChildJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                            JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                            JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    job.reset();
  }
  return job;
}

std::optional<std::vector<std::uint32_t>> jobProcessIds(HANDLE job) {
  // Room for a few ids at first; a job that gained processes since the last ask is asked again
  // with room for all it reported.
  DWORD room = 8;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::size_t bytes =
        offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList) + room * sizeof(ULONG_PTR);
    std::vector<ULONG_PTR> storage((bytes + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(storage.data());
    const BOOL read = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                                static_cast<DWORD>(bytes), nullptr);
    if (!read && GetLastError() != ERROR_MORE_DATA) return std::nullopt;
    if (read && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
      std::vector<std::uint32_t> ids;
      for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        ids.push_back(static_cast<std::uint32_t>(list->ProcessIdList[i]));
      }
      return ids;
    }
    room = list->NumberOfAssignedProcesses > room ? list->NumberOfAssignedProcesses + 8 : room * 2;
  }
  return std::nullopt;
}

bool waitForJobProcess(HANDLE job, std::uint32_t id, std::chrono::milliseconds limit) {
  // Wine asks for the full query right before it tells whether a process is in a job.
  UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process any more
  BOOL inJob = FALSE;
  if (!IsProcessInJob(process.get(), job, &inJob)) return false;
  if (!inJob) return true;
  const auto wait = static_cast<DWORD>(limit.count() > 0 ? limit.count() : 0);
  return WaitForSingleObject(process.get(), wait) == WAIT_OBJECT_0;
}

}  // namespace connector
