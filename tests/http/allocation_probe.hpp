#pragma once
// Measures the largest single allocation a piece of code makes on the calling thread, through
// a replacement of the global operator new in this test program.
#include <cstddef>

namespace connector::test {

class LargestAllocation {
 public:
  LargestAllocation() noexcept;
  ~LargestAllocation();
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;

  // The largest size asked of operator new by this thread since construction.
  std::size_t bytes() const noexcept { return largest_; }

 private:
  std::size_t largest_ = 0;
  std::size_t* outer_;
};

}  // namespace connector::test
