#pragma once
// Bytes in one range of address space set aside for the most they are expected to reach. Memory
// is taken only as the bytes are written, and growing within the room never moves or copies them:
// a request body or an archive can be hundreds of megabytes, and each copy costs as much again
// in fresh pages. Threads may write disjoint parts of the room at once.
#include <cstddef>
#include <string_view>

namespace connector {

class ByteBuffer {
 public:
  ByteBuffer() noexcept = default;
  ByteBuffer(std::string_view bytes);  // NOLINT(google-explicit-constructor): bodies are text
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(std::string_view bytes);
  ~ByteBuffer();

  // Sets aside room for capacity bytes in all, or throws std::bad_alloc. A buffer that has room
  // already keeps it.
  void reserve(std::size_t capacity);
  // Once this buffer is done with its range, the range is kept for a moment for the next large
  // buffer (see kept_ranges) instead of going back at once. For request bodies: the next request
  // of a burst needs that much from its first byte on, so nothing is held that it would not hold.
  void keepRangeAfterUse() noexcept { keepRange_ = true; }
  // The next n bytes past the end, made writable; grow(n) then counts those that were written.
  // Past the room, the bytes move to a larger range (the only time they are copied).
  char* room(std::size_t n);
  void grow(std::size_t n) noexcept { size_ += n; }
  // room(n) and grow(n) at once: n more bytes held, for the caller to write.
  char* extend(std::size_t n) {
    char* start = room(n);
    grow(n);
    return start;
  }
  // Drops the bytes from size on; their memory stays for what is written next.
  void truncate(std::size_t size) noexcept {
    if (size < size_) size_ = size;
  }
  void append(std::string_view bytes);

  char* data() noexcept { return base_; }
  const char* data() const noexcept { return base_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t capacity() const noexcept { return reserved_; }
  // The bytes made writable so far: what the buffer may cost in memory.
  std::size_t committed() const noexcept { return committed_; }
  std::string_view view() const noexcept { return {base_, size_}; }
  operator std::string_view() const noexcept {
    return view();
  }  // NOLINT(google-explicit-constructor)

  friend bool operator==(const ByteBuffer& buffer, std::string_view text) noexcept {
    return buffer.view() == text;
  }

 private:
  void release() noexcept;

  char* base_ = nullptr;
  std::size_t size_ = 0;
  std::size_t committed_ = 0;
  std::size_t reserved_ = 0;
  bool keepRange_ = false;
};

}  // namespace connector
