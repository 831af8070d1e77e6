#pragma once
// Writing a whole file so that a crash or a full disk never leaves a half-written file in place
// of a good one: write a temporary file, force it to the disk, then rename it over the target.
#include <filesystem>
#include <string_view>

namespace connector {

enum class DurableWrite { Written, OpenFailed, WriteFailed };

// Creates or truncates `path`, writes `bytes` exactly, forces the data to the storage device and
// closes the file. After WriteFailed the file may hold part of the bytes; the caller removes it.
DurableWrite writeFileDurably(const std::filesystem::path& path, std::string_view bytes);

// Renames `from` to `to`, replacing `to` and allowing a copy across volumes; the new name is
// on the disk when it returns. Throws std::filesystem::filesystem_error("rename", from, to, ...).
void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace connector
