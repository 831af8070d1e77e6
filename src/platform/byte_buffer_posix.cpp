#include <sys/mman.h>

#include "platform/byte_buffer.hpp"

namespace connector::address_space {

void* reserve(std::size_t bytes) noexcept {
  void* base =
      ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

bool commit(void* start, std::size_t bytes) noexcept {
  return ::mprotect(start, bytes, PROT_READ | PROT_WRITE) == 0;
}

void release(void* base, std::size_t bytes) noexcept { ::munmap(base, bytes); }

}  // namespace connector::address_space
