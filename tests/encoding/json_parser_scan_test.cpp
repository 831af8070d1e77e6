#include "encoding/json_parser_scan.hpp"

#include <gtest/gtest.h>

#include <string>

namespace connector {
namespace {

// One byte at a time, as the grammar reads.
std::size_t referenceRunEnd(std::string_view text, std::size_t from) {
  while (from < text.size()) {
    const auto byte = static_cast<unsigned char>(text[from]);
    if (byte == '"' || byte == '\\' || byte < 0x20) return from;
    ++from;
  }
  return text.size();
}

// Every start offset (alignment), every run length across the 32- and 16-byte steps, and every
// kind of ending byte, next to bytes that differ from one by a single bit.
TEST(JsonPlainRunEnd, EqualsTheByteScanAtEveryAlignmentAndLength) {
  const std::string enders = std::string("\"\\\x00\x01\x1f\x0a", 6);
  const std::string plain = std::string("a \x21\x23\x5b\x5d\x7f\x80\x9f\xa2\xdc\xff\x3d\x60", 14);
  for (std::size_t start = 0; start < 40; ++start) {
    for (std::size_t length = 0; length <= 100; ++length) {
      std::string text(start, '"');  // bytes before the start end nothing
      for (std::size_t i = 0; i < length; ++i) text += plain[(i * 7 + start) % plain.size()];
      EXPECT_EQ(jsonPlainRunEnd(text, start), referenceRunEnd(text, start));
      for (const char ender : enders) {
        for (std::size_t at = 0; at < length; at += 1 + at / 8) {
          std::string ended = text;
          ended[start + at] = ender;
          ASSERT_EQ(jsonPlainRunEnd(ended, start), start + at)
              << "start " << start << " length " << length << " byte " << int(ender);
          ASSERT_EQ(referenceRunEnd(ended, start), start + at);
        }
      }
    }
  }
}

}  // namespace
}  // namespace connector
