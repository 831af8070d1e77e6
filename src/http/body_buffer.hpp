#pragma once
// The bytes of a request body. Room for the most the body may hold is set aside as address space
// only; memory is taken as bytes arrive, and growing never moves or copies what has arrived
// (a body can be 200 MB, and each copy of it costs as much again in fresh pages).
#include <cstddef>
#include <string_view>

namespace connector {

class BodyBuffer {
 public:
  BodyBuffer() noexcept = default;
  BodyBuffer(std::string_view bytes);  // NOLINT(google-explicit-constructor): bodies are text
  BodyBuffer(const BodyBuffer& other);
  BodyBuffer(BodyBuffer&& other) noexcept;
  BodyBuffer& operator=(const BodyBuffer& other);
  BodyBuffer& operator=(BodyBuffer&& other) noexcept;
  BodyBuffer& operator=(std::string_view bytes);
  ~BodyBuffer();

  // Sets aside room for capacity bytes in all, or throws std::bad_alloc. Only an empty buffer
  // can be given room; one that has room already keeps it.
  void reserve(std::size_t capacity);
  // The next n bytes past the end, made writable (n at most the room left); grow(n) then counts
  // those that were written.
  char* room(std::size_t n);
  void grow(std::size_t n) noexcept { size_ += n; }

  const char* data() const noexcept { return base_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t capacity() const noexcept { return reserved_; }
  // The bytes made writable so far: what the body may cost in memory.
  std::size_t committed() const noexcept { return committed_; }
  std::string_view view() const noexcept { return {base_, size_}; }
  operator std::string_view() const noexcept { return view(); }  // NOLINT(google-explicit-constructor)

  friend bool operator==(const BodyBuffer& body, std::string_view text) noexcept { return body.view() == text; }

 private:
  void release() noexcept;

  char* base_ = nullptr;
  std::size_t size_ = 0;
  std::size_t committed_ = 0;
  std::size_t reserved_ = 0;
};

// The operating system's side: address space set aside without memory, made writable in steps.
namespace address_space {
// Null when the space cannot be had.
void* reserve(std::size_t bytes) noexcept;
// Makes the first bytes of a reserved range writable; false when memory cannot be had.
bool commit(void* base, std::size_t bytes) noexcept;
void release(void* base, std::size_t bytes) noexcept;
}  // namespace address_space

}  // namespace connector
