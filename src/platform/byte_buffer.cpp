#include "platform/byte_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/address_space.hpp"
#include "platform/kept_ranges.hpp"

namespace connector {
namespace {

// Windows hands out address space in 64 KiB steps; memory is made writable in steps of at least
// that so that bytes arriving in small pieces do not cost a system call each.
constexpr std::size_t kStep = 65536;

std::size_t roundUp(std::size_t bytes, std::size_t step = kStep) {
  const std::size_t rounded = (bytes + step - 1) / step * step;
  if (rounded < bytes) throw std::bad_alloc();
  return rounded;
}

// Small buffers in small steps: a client that sends a little costs a little. Past one of the
// system's steps, whole steps (on Linux, 2 MiB that one page can back).
std::size_t commitStepFor(std::size_t end) {
  const std::size_t systemStep = address_space::commitStep();
  return end > systemStep ? systemStep : kStep;
}

}  // namespace

ByteBuffer::ByteBuffer(std::string_view bytes) { append(bytes); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) : ByteBuffer(other.view()) {}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      committed_(std::exchange(other.committed_, 0)),
      reserved_(std::exchange(other.reserved_, 0)),
      keepRange_(std::exchange(other.keepRange_, false)) {}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) *this = other.view();
  return *this;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    release();
    base_ = std::exchange(other.base_, nullptr);
    size_ = std::exchange(other.size_, 0);
    committed_ = std::exchange(other.committed_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
    keepRange_ = std::exchange(other.keepRange_, false);
  }
  return *this;
}

ByteBuffer& ByteBuffer::operator=(std::string_view bytes) {
  ByteBuffer copy(bytes);
  return *this = std::move(copy);
}

ByteBuffer::~ByteBuffer() { release(); }

void ByteBuffer::reserve(std::size_t capacity) {
  if (reserved_ != 0 || capacity == 0) return;
  const std::size_t bytes = roundUp(capacity);
  if (bytes >= kept_ranges::kAtLeast) {
    const kept_ranges::Range kept = kept_ranges::take(bytes, roundUp(bytes, commitStepFor(bytes)));
    if (kept.base != nullptr) {
      base_ = kept.base;
      reserved_ = kept.reserved;
      committed_ = kept.committed;
      return;
    }
  }
  base_ = static_cast<char*>(address_space::reserve(bytes));
  if (base_ == nullptr) throw std::bad_alloc();
  reserved_ = bytes;
}

char* ByteBuffer::room(std::size_t n) {
  const std::size_t end = size_ + n;
  if (end < size_) throw std::bad_alloc();
  if (end > reserved_) {
    ByteBuffer larger;
    larger.keepRange_ = keepRange_;
    larger.reserve(std::max(end, 2 * reserved_));
    larger.append(view());
    *this = std::move(larger);
  }
  if (end > committed_) {
    // Only the pages past those made writable before: the system would walk them all again.
    const std::size_t bytes = std::min(roundUp(end, commitStepFor(end)), reserved_);
    if (!address_space::commit(base_ + committed_, bytes - committed_)) throw std::bad_alloc();
    committed_ = bytes;
  }
  return base_ + size_;
}

void ByteBuffer::append(std::string_view bytes) {
  if (bytes.empty()) return;
  std::memcpy(extend(bytes.size()), bytes.data(), bytes.size());
}

void ByteBuffer::release() noexcept {
  if (base_ != nullptr) {
    if (keepRange_ && reserved_ >= kept_ranges::kAtLeast) {
      kept_ranges::keep({base_, reserved_, committed_});
    } else {
      address_space::release(base_, reserved_);
    }
  }
  base_ = nullptr;
  size_ = committed_ = reserved_ = 0;
}

}  // namespace connector
