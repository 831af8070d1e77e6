// Process stopping on Windows: OpenProcess/TerminateProcess for the holders the listener table
// names.
#include "platform/win32.hpp"

#include <cstdint>
#include <memory>

#include "app/port_system.hpp"

namespace connector {

namespace {

constexpr DWORD kProcessExitWaitMs = 3000;
// The System process, fixed at 4 since Windows XP.
constexpr ProcessId kSystemProcessId = 4;

std::uint64_t fileTimeValue(FILETIME time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::uint64_t systemTimeNow() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return fileTimeValue(now);
}

// Windows gives a freed process id to the next process soon: the id read from the table may
// belong to a newer process by the time it is opened. Such a process did not hold the port when
// the table was read (seenAt) and is left alone; the holder that was seen is gone.
PortSystem::Stop terminateAndWait(ProcessId id, std::uint64_t seenAt) {
  UniqueHandle process(
      OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process) return PortSystem::Stop::OpenRefused;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(process.get(), &created, &exited, &kernel, &user) &&
      fileTimeValue(created) > seenAt) {
    return PortSystem::Stop::Stopped;
  }
  if (!TerminateProcess(process.get(), 0)) return PortSystem::Stop::TerminateRefused;
  WaitForSingleObject(process.get(), kProcessExitWaitMs);  // the outcome is not examined
  return PortSystem::Stop::Stopped;
}

}  // namespace

PortSystem systemPortCalls(std::uint16_t port) {
  PortSystem calls;
  // Takeover stops only ids from the table it read last; this is when that was.
  auto lastRead = std::make_shared<std::uint64_t>(0);
  calls.listeners = [port, lastRead] {
    *lastRead = systemTimeNow();
    return knownOwners(ipv4ListenersOn(port));
  };
  calls.currentProcessId = [] { return static_cast<ProcessId>(GetCurrentProcessId()); };
  calls.systemProcess = kSystemProcessId;
  calls.terminateAndWait = [lastRead](ProcessId id) { return terminateAndWait(id, *lastRead); };
  return calls;
}

}  // namespace connector
