#pragma once
// Reading a whole file while telling "there is none" apart from "there is one we cannot read".
#include <filesystem>
#include <string>

namespace connector {

enum class FileRead { Read, Missing, Unreadable };

// Missing: nothing at that path (nor its folder). Unreadable: something is there but it is not a
// regular file we may open and read to the end (a folder, no permission, a sharing conflict).
// `bytes` holds the content only after Read.
FileRead readWholeFile(const std::filesystem::path& path, std::string& bytes);

}  // namespace connector
