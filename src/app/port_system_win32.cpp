// Port listeners and process stopping on Windows: the IP Helper's IPv4 listener table with
// owning process ids, and OpenProcess/TerminateProcess for the holders.
#include "platform/win32.hpp"

#include <iphlpapi.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/port_takeover.hpp"
#include "app/system_library_win32.hpp"

namespace connector {

namespace {

constexpr DWORD kProcessExitWaitMs = 3000;

using GetTcpTable = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// IPHLPAPI.DLL is not a known DLL, so it is not imported but loaded from System32, once.
GetTcpTable extendedTcpTable() {
  static const UniqueModule library = loadSystemLibrary(L"iphlpapi.dll");
  static const auto function = lookUp<GetTcpTable>(library.get(), "GetExtendedTcpTable");
  return function;
}

std::set<ProcessId> listenersOn(std::uint16_t port) {
  std::set<ProcessId> holders;
  const GetTcpTable query = extendedTcpTable();
  if (query == nullptr) return holders;  // no table: the port counts as free
  DWORD size = 0;
  // The first call only learns the size; anything but "buffer too small" means no table.
  if (query(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) !=
          ERROR_INSUFFICIENT_BUFFER ||
      size == 0) {
    return holders;
  }
  std::vector<unsigned char> buffer(size, 0);
  if (query(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) != NO_ERROR) {
    return holders;  // also when the table grew in between: no retry
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  // Never read past the buffer, whatever the entry count claims.
  const std::size_t capacity =
      (buffer.size() - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
  const std::size_t rows = std::min<std::size_t>(table->dwNumEntries, capacity);
  for (std::size_t i = 0; i < rows; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    const auto localPort = ntohs(static_cast<u_short>(row.dwLocalPort & 0xFFFF));
    if (localPort == port && row.dwOwningPid != 0) holders.insert(row.dwOwningPid);
  }
  return holders;
}

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
    return listenersOn(port);
  };
  calls.currentProcessId = [] { return static_cast<ProcessId>(GetCurrentProcessId()); };
  calls.terminateAndWait = [lastRead](ProcessId id) { return terminateAndWait(id, *lastRead); };
  return calls;
}

}  // namespace connector
