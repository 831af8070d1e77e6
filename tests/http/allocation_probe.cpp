#include "allocation_probe.hpp"

#include <cstdlib>
#include <new>

namespace connector::test {
namespace {

thread_local std::size_t* largestOnThisThread = nullptr;

}  // namespace

LargestAllocation::LargestAllocation() noexcept : outer_(largestOnThisThread) {
  largestOnThisThread = &largest_;
}

LargestAllocation::~LargestAllocation() { largestOnThisThread = outer_; }

}  // namespace connector::test

// Every other form of new and delete in the standard library ends in these two.
void* operator new(std::size_t size) {
  if (std::size_t* largest = connector::test::largestOnThisThread; largest && size > *largest) {
    *largest = size;
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
