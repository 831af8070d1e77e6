// Windows: the IP Helper's IPv4 listener table with owning process ids.
#include "platform/win32.hpp"

#include <iphlpapi.h>

#include <algorithm>
#include <ctime>

#include "platform/host.hpp"
#include "platform/system_library_win32.hpp"

namespace connector {
namespace {

using GetTcpTable = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// IPHLPAPI.DLL is not a known DLL, so it is not imported but loaded from System32, once.
GetTcpTable extendedTcpTable() {
  static const UniqueModule library = loadSystemLibrary(L"iphlpapi.dll");
  static const auto function = lookUp<GetTcpTable>(library.get(), "GetExtendedTcpTable");
  return function;
}

}  // namespace

const char* platformName() noexcept { return "win32"; }

// USERPROFILE and HOMEDRIVE/HOMEPATH are Windows' own answer; there is nothing further to ask.
std::string homeFallback() { return {}; }

bool splitLocalTime(std::time_t when, std::tm& parts) noexcept {
  return localtime_s(&parts, &when) == 0;
}

std::optional<std::vector<ProcessId>> ipv4ListenersOn(std::uint16_t port) {
  const GetTcpTable query = extendedTcpTable();
  if (query == nullptr) return std::nullopt;
  DWORD size = 0;
  // The first call only learns the size; anything but "buffer too small" means no table.
  if (query(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) !=
      ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  std::vector<unsigned char> buffer(std::max<DWORD>(size, sizeof(MIB_TCPTABLE_OWNER_PID)), 0);
  size = static_cast<DWORD>(buffer.size());
  if (query(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) != NO_ERROR) {
    return std::nullopt;  // also when the table grew in between: no retry
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  // Never read past the buffer, whatever the entry count claims.
  const std::size_t capacity =
      (buffer.size() - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
  const std::size_t count = std::min<std::size_t>(table->dwNumEntries, capacity);
  std::vector<ProcessId> rows;
  for (std::size_t i = 0; i < count; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort & 0xFFFF)) == port) {
      rows.push_back(row.dwOwningPid);
    }
  }
  return rows;
}

}  // namespace connector
