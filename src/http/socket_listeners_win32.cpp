// The IP Helper's IPv4 listener table, loaded at run time from System32 only (IPHLPAPI.DLL is
// not a known DLL, so a copy beside the .exe must never be picked up).
#include "platform/win32.hpp"

#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include "http/socket_listeners.hpp"

namespace connector {
namespace {

using GetTcpTable = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

GetTcpTable extendedTcpTable() {
  static const UniqueModule library(
      LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library) return nullptr;
  // Through void(*)(), the one function type GCC lets any function pointer pass through.
  static const auto function = reinterpret_cast<GetTcpTable>(
      reinterpret_cast<void (*)()>(GetProcAddress(library.get(), "GetExtendedTcpTable")));
  return function;
}

}  // namespace

std::optional<std::size_t> listenersOnPort(std::uint16_t port) {
  const GetTcpTable query = extendedTcpTable();
  if (query == nullptr) return std::nullopt;
  DWORD size = 0;
  if (query(nullptr, &size, FALSE, AF_INET, TCP_TABLE_BASIC_LISTENER, 0) !=
      ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  std::vector<unsigned char> buffer(std::max<DWORD>(size, sizeof(MIB_TCPTABLE)), 0);
  size = static_cast<DWORD>(buffer.size());
  if (query(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_BASIC_LISTENER, 0) != NO_ERROR) {
    return std::nullopt;  // also when the table grew in between
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
  // Never read past the buffer, whatever the entry count claims.
  const std::size_t capacity = (buffer.size() - offsetof(MIB_TCPTABLE, table)) / sizeof(MIB_TCPROW);
  const std::size_t rows = std::min<std::size_t>(table->dwNumEntries, capacity);
  std::size_t listeners = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort & 0xFFFF)) == port) ++listeners;
  }
  return listeners;
}

}  // namespace connector
