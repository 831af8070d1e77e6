#include "platform/byte_buffer.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace connector {
namespace {

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

// Memory is made writable in steps as bytes come, never for the whole room at once.
TEST(ByteBuffer, TakesMemoryAsBytesAreWrittenWithinItsRoom) {
  ByteBuffer buffer;
  buffer.reserve(200u << 20);
  EXPECT_EQ(buffer.capacity(), 200u << 20);
  EXPECT_EQ(buffer.committed(), 0u);
  const char* start = buffer.data();
  const std::string bytes = pattern(100'000);
  std::memcpy(buffer.room(bytes.size()), bytes.data(), bytes.size());
  buffer.grow(bytes.size());
  EXPECT_LT(buffer.committed(), 1u << 20);
  EXPECT_GE(buffer.committed(), bytes.size());
  buffer.append(pattern(3u << 20));
  EXPECT_EQ(buffer.data(), start);  // growing within the room moves nothing
  EXPECT_EQ(buffer.view().substr(0, bytes.size()), bytes);
  EXPECT_EQ(buffer.view().substr(bytes.size()), pattern(3u << 20));
  EXPECT_LT(buffer.committed(), 8u << 20);  // the system's step may be 2 MiB
}

// Past its room, or without any, the bytes move to a larger range and stay whole; truncated
// bytes make way for what comes next; copies and moves carry the bytes.
TEST(ByteBuffer, OutgrowsItsRoomAndKeepsItsBytes) {
  ByteBuffer buffer;
  buffer.append("head");
  buffer.reserve(1);  // has room already: kept
  const std::string bytes = pattern(300'000);
  for (int i = 0; i < 5; ++i) buffer.append(bytes);
  ASSERT_EQ(buffer.size(), 4 + 5 * bytes.size());
  EXPECT_EQ(buffer.view().substr(0, 4), "head");
  EXPECT_EQ(buffer.view().substr(4 + 4 * bytes.size()), bytes);
  buffer.truncate(4);
  buffer.truncate(10);  // never longer
  buffer.append("tail");
  EXPECT_EQ(buffer, "headtail");

  ByteBuffer copy = buffer;
  ByteBuffer moved = std::move(buffer);
  EXPECT_EQ(copy, "headtail");
  EXPECT_EQ(moved, "headtail");
  EXPECT_TRUE(buffer.empty());  // NOLINT(bugprone-use-after-move): a moved-from buffer is empty
  copy = std::string_view("x");
  EXPECT_EQ(copy, "x");
  EXPECT_EQ(ByteBuffer(), "");
  EXPECT_EQ(ByteBuffer().data(), nullptr);
}

}  // namespace
}  // namespace connector
