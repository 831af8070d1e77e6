#pragma once
// The operating system's side of large buffers: address space set aside without memory, made
// writable in steps, one implementation per OS.
#include <cstddef>

namespace connector::address_space {

// Null when the space cannot be had.
void* reserve(std::size_t bytes) noexcept;
// The step, a multiple of 64 KiB, in which the buffer makes its range writable.
std::size_t commitStep() noexcept;
// Makes bytes of a reserved range writable from start on (a multiple of 64 KiB from the range's
// base); false when memory cannot be had.
bool commit(void* start, std::size_t bytes) noexcept;
// Gives the memory of committed bytes back; they are no longer writable.
void decommit(void* start, std::size_t bytes) noexcept;
void release(void* base, std::size_t bytes) noexcept;

}  // namespace connector::address_space
