#include <sys/mman.h>

#include <cstdint>

#include "platform/address_space.hpp"

namespace connector::address_space {
namespace {

// A fresh page costs a fault, and on a virtual machine a trip to the hypervisor: a 175 MiB body
// in 4 KiB pages takes 45,000 of them and half a second. Large ranges ask for 2 MiB pages.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

void* mapNothing(std::size_t bytes) noexcept {
  void* base =
      ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

}  // namespace

std::size_t commitStep() noexcept { return kHugePage; }

void* reserve(std::size_t bytes) noexcept {
  if (bytes < kHugePage) return mapNothing(bytes);
  // A huge page needs an aligned 2 MiB of the range: map a page more, keep the aligned part.
  char* const mapped = static_cast<char*>(mapNothing(bytes + kHugePage));
  if (mapped == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  char* const base = mapped + ((kHugePage - address % kHugePage) % kHugePage);
  if (base != mapped) ::munmap(mapped, static_cast<std::size_t>(base - mapped));
  char* const end = base + bytes;
  if (end != mapped + bytes + kHugePage) {
    ::munmap(end, static_cast<std::size_t>(mapped + bytes + kHugePage - end));
  }
  // Whole pages only: the tail stays in small pages, so nothing is taken past the bytes asked.
  // Only a hint; where the system offers no huge pages the range works the same.
  ::madvise(base, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
  return base;
}

bool commit(void* start, std::size_t bytes) noexcept {
  return ::mprotect(start, bytes, PROT_READ | PROT_WRITE) == 0;
}

void decommit(void* start, std::size_t bytes) noexcept {
  ::madvise(start, bytes, MADV_DONTNEED);
  ::mprotect(start, bytes, PROT_NONE);
}

void release(void* base, std::size_t bytes) noexcept { ::munmap(base, bytes); }

}  // namespace connector::address_space
