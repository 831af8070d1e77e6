#pragma once
// The drawing resources of one window at one DPI (Windows only): the scale, the title and body
// fonts and the background and field brushes. The window owns one; a DPI change builds another.
#include "platform/win32.hpp"

#include "app/palette.hpp"

namespace connector {

inline COLORREF colourRef(Rgb colour) { return RGB(colour.red, colour.green, colour.blue); }

class WindowLook {
 public:
  WindowLook() = default;  // nothing held: before the window exists and after its destruction
  explicit WindowLook(int dpi);

  int dpi() const noexcept { return dpi_; }
  // Lengths are designed at 96 DPI.
  int scale(int length) const noexcept { return MulDiv(length, dpi_, 96); }
  HFONT title() const noexcept { return static_cast<HFONT>(titleFont_.get()); }
  HFONT body() const noexcept { return static_cast<HFONT>(bodyFont_.get()); }
  HBRUSH background() const noexcept { return static_cast<HBRUSH>(backgroundBrush_.get()); }
  HBRUSH field() const noexcept { return static_cast<HBRUSH>(fieldBrush_.get()); }

 private:
  int dpi_ = 96;
  UniqueGdiObject titleFont_;
  UniqueGdiObject bodyFont_;
  UniqueGdiObject backgroundBrush_;
  UniqueGdiObject fieldBrush_;
};

}  // namespace connector
