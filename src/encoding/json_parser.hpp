#pragma once
// Strict RFC 8259 parser with positioned Chinese fault messages.
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "encoding/json.hpp"

namespace connector {

class JsonParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Deepest nesting of arrays/objects accepted; deeper input fails with "JSON 嵌套层级过深". Parsing
// takes about 320 bytes of stack per level in an optimised build, so the deepest document fits a
// 256 KiB thread with room to spare; Spine's own documents nest less than ten levels.
inline constexpr std::size_t kMaxJsonDepth = 512;

JsonValue parseJson(std::string_view text);
// As parseJson, but a string without escapes is kept as a view into text (JsonBorrowedString):
// text must outlive the value and everything taken from it.
JsonValue parseJsonInPlace(std::string_view text);
// Checks all of text exactly as parseJson does (same faults, same messages), but builds only the
// named members of a top-level object; everything else is checked and dropped. A top level that
// is not an object gives null.
JsonValue parseJsonMembers(std::string_view text, std::span<const std::string_view> members);
// As parseJsonMembers, but once whole(member) holds for a named member as built, the result is the
// whole document, as parseJson gives it. The members after that one are built as they come; those
// before it, checked already, are built from their text then (none when it comes first), so one
// read of the text serves whichever the named member asks for.
using JsonMemberTest = bool (*)(const JsonValue& member);
JsonValue parseJsonMembers(std::string_view text, std::span<const std::string_view> members,
                           JsonMemberTest whole);

}  // namespace connector
