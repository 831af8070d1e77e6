#pragma once
// The rules a conversion request's fields must meet. The path rule holds on every platform, so a
// request the Linux build accepts is one the Windows build accepts too.
#include <cstddef>
#include <string>
#include <string_view>

namespace connector {

// "major.minor" of a supported Spine version, or throws with the request's message.
std::string checkSpineVersion(std::string_view text);
// The normalised relative path, or throws the label followed by the reason ("路径无效" and others).
std::string checkRelativePath(std::string_view text, std::string_view label);

// Names that Windows resolves to something other than a file in the folder they are written to.

// When the path element names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and
// COM/LPT with a superscript 1, 2 or 3, in any letter case, with or without an extension and
// with spaces before it), the byte length of the device name at its start; otherwise 0.
std::size_t deviceNameLength(std::string_view element);

}  // namespace connector
