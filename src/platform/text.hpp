#pragma once
// The text boundary: inside, every string is UTF-8. Conversions to the OS's wide text and to
// file-system paths happen only through these functions.
#include <filesystem>
#include <string>
#include <string_view>

namespace connector {

// UTF-8 -> wide text (UTF-16 where wchar_t is 16 bits, as on Windows). Malformed bytes become
// U+FFFD.
std::wstring toWide(std::string_view utf8);
// As toWide, but malformed UTF-8 raises std::runtime_error.
std::wstring toWideStrict(std::string_view utf8);
// Wide text -> UTF-8. Unpaired surrogates become U+FFFD.
std::string toUtf8(std::wstring_view wide);
// As toUtf8, but unpaired surrogates raise std::runtime_error.
std::string toUtf8Strict(std::wstring_view wide);
// Appends the UTF-8 bytes of one code point below 0x110000. Surrogate values are encoded like
// any other, so a reader that keeps a lone surrogate can store it.
void appendUtf8(std::string& out, char32_t cp);
// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);
// The text with each ill-formed sequence (each one toWide turns into U+FFFD) replaced by
// substitute.
std::string replaceInvalidUtf8(std::string_view text, std::string_view substitute);

// UTF-8 <-> path without passing through the ANSI code page. Malformed UTF-8 raises
// std::runtime_error.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string pathToUtf8(const std::filesystem::path& path);

}  // namespace connector
