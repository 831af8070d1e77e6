#pragma once
// Names that Windows resolves to something other than a file in the folder they are written to.
// The rule holds on every platform, so a request the Linux build accepts is one the Windows build
// accepts too.
#include <cstddef>
#include <string_view>

namespace connector {

// When the path element names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and
// COM/LPT with a superscript 1, 2 or 3, in any letter case, with or without an extension and
// with spaces before it), the byte length of the device name at its start; otherwise 0.
std::size_t deviceNameLength(std::string_view element);

}  // namespace connector
