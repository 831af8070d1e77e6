#include "app/window_paint_win32.hpp"

#include <string>

#include "app/window_controls_win32.hpp"

namespace connector {

namespace {

// Selects a GDI object into a device context and puts the previous one back on every path.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelection() { SelectObject(dc_, previous_); }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace

void drawButton(const DRAWITEMSTRUCT& item, const WindowLook& look) {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  // The corners outside the rounded face would otherwise keep the system's light button colour.
  FillRect(dc, &area, look.background());
  {
    const Rgb face = (item.itemState & ODS_SELECTED) ? palette::kPressedFace : palette::kField;
    UniqueGdiObject faceBrush(CreateSolidBrush(colourRef(face)));
    UniqueGdiObject outline(CreatePen(PS_SOLID, look.scale(1), colourRef(palette::kOutline)));
    ScopedSelection pen(dc, outline.get());
    ScopedSelection brush(dc, faceBrush.get());
    RoundRect(dc, area.left, area.top, area.right, area.bottom, look.scale(7), look.scale(7));
  }  // the previous pen and brush go back before the temporary ones are deleted

  std::wstring text = windowText(item.hwndItem);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colourRef(palette::kText));
  {
    ScopedSelection font(dc, look.body());
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  if (item.itemState & ODS_FOCUS) {
    const int inset = look.scale(4);
    InflateRect(&area, -inset, -inset);
    DrawFocusRect(dc, &area);
  }
}

HBRUSH colourStatic(HDC dc, int controlId, Rgb statusColour, const WindowLook& look) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colourRef(controlId == kStatusLabel        ? statusColour
                             : controlId == kExplanationLabel ? palette::kMuted
                                                              : palette::kText));
  return look.background();
}

HBRUSH colourEdit(HDC dc, const WindowLook& look) {
  SetBkColor(dc, colourRef(palette::kField));
  SetTextColor(dc, colourRef(palette::kText));
  return look.field();
}

void eraseBackground(HWND window, HDC dc, const WindowLook& look) {
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, look.background());
}

}  // namespace connector
