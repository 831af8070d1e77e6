#pragma once
// The window's colours, named once: the portable status line picks from them and the Windows
// window paints with them.
#include <cstdint>

namespace connector {

struct Rgb {
  std::uint8_t red, green, blue;
  bool operator==(const Rgb&) const = default;
};

namespace palette {
inline constexpr Rgb kBackground{38, 37, 36};   // the window
inline constexpr Rgb kField{56, 55, 54};        // the edit, and a button's face
inline constexpr Rgb kPressedFace{70, 69, 68};  // a button's face while it is held down
inline constexpr Rgb kOutline{76, 75, 74};      // a button's edge
inline constexpr Rgb kText{238, 238, 238};      // labels, button and edit text
inline constexpr Rgb kMuted{166, 164, 162};     // the explanation; the status when disconnected
inline constexpr Rgb kRed{255, 69, 58};         // the status when not started
inline constexpr Rgb kOrange{255, 159, 10};     // the status when running without Spine
inline constexpr Rgb kGreen{48, 209, 88};       // the status when running with Spine or held
}  // namespace palette

}  // namespace connector
