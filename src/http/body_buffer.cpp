#include "http/body_buffer.hpp"

#include <cstring>
#include <new>
#include <utility>

namespace connector {
namespace {

// Windows hands out address space in 64 KiB steps; memory is made writable in the same steps so
// that a body arriving in small reads does not cost a system call each.
constexpr std::size_t kStep = 65536;

std::size_t roundUp(std::size_t bytes) noexcept {
  return (bytes + kStep - 1) / kStep * kStep;
}

}  // namespace

BodyBuffer::BodyBuffer(std::string_view bytes) {
  *this = bytes;
}

BodyBuffer::BodyBuffer(const BodyBuffer& other) : BodyBuffer(other.view()) {}

BodyBuffer::BodyBuffer(BodyBuffer&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      committed_(std::exchange(other.committed_, 0)),
      reserved_(std::exchange(other.reserved_, 0)) {}

BodyBuffer& BodyBuffer::operator=(const BodyBuffer& other) {
  if (this != &other) *this = other.view();
  return *this;
}

BodyBuffer& BodyBuffer::operator=(BodyBuffer&& other) noexcept {
  if (this != &other) {
    release();
    base_ = std::exchange(other.base_, nullptr);
    size_ = std::exchange(other.size_, 0);
    committed_ = std::exchange(other.committed_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
  }
  return *this;
}

BodyBuffer& BodyBuffer::operator=(std::string_view bytes) {
  BodyBuffer copy;
  copy.reserve(bytes.size());
  if (!bytes.empty()) std::memcpy(copy.room(bytes.size()), bytes.data(), bytes.size());
  copy.grow(bytes.size());
  return *this = std::move(copy);
}

BodyBuffer::~BodyBuffer() {
  release();
}

void BodyBuffer::reserve(std::size_t capacity) {
  if (reserved_ != 0 || capacity == 0) return;
  const std::size_t bytes = roundUp(capacity);
  if (bytes < capacity) throw std::bad_alloc();
  base_ = static_cast<char*>(address_space::reserve(bytes));
  if (base_ == nullptr) throw std::bad_alloc();
  reserved_ = bytes;
}

char* BodyBuffer::room(std::size_t n) {
  const std::size_t end = size_ + n;
  if (end > reserved_) throw std::bad_alloc();
  if (end > committed_) {
    const std::size_t bytes = roundUp(end);
    if (!address_space::commit(base_, bytes)) throw std::bad_alloc();
    committed_ = bytes;
  }
  return base_ + size_;
}

void BodyBuffer::release() noexcept {
  if (base_ != nullptr) address_space::release(base_, reserved_);
  base_ = nullptr;
  size_ = committed_ = reserved_ = 0;
}

}  // namespace connector
