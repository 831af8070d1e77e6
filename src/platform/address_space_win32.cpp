#include "platform/address_space.hpp"
#include "platform/win32.hpp"

namespace connector::address_space {

// Commit is charged against the system's limit as soon as it is made: small steps.
std::size_t commitStep() noexcept { return 65536; }

void* reserve(std::size_t bytes) noexcept {
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
}

bool commit(void* start, std::size_t bytes) noexcept {
  return ::VirtualAlloc(start, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void decommit(void* start, std::size_t bytes) noexcept {
  ::VirtualFree(start, bytes, MEM_DECOMMIT);
}

void release(void* base, std::size_t) noexcept { ::VirtualFree(base, 0, MEM_RELEASE); }

}  // namespace connector::address_space
