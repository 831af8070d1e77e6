#include "app/window_look_win32.hpp"

namespace connector {

namespace {

HFONT makeFont(int points, int weight, int dpi) {
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

}  // namespace

WindowLook::WindowLook(int dpi)
    : dpi_(dpi),
      titleFont_(makeFont(20, 600, dpi)),
      bodyFont_(makeFont(13, 400, dpi)),
      backgroundBrush_(CreateSolidBrush(colourRef(palette::kBackground))),
      fieldBrush_(CreateSolidBrush(colourRef(palette::kField))) {}

}  // namespace connector
