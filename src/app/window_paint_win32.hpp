#pragma once
// How the main window paints (Windows only): its owner-drawn buttons, the colours it gives its
// statics and its edit, and its background.
#include "platform/win32.hpp"

#include "app/palette.hpp"
#include "app/window_look_win32.hpp"

namespace connector {

// A rounded face (pressed or not) with an outline, the button's text centred in the body font,
// and the focus rectangle inside the edge while it has the focus.
void drawButton(const DRAWITEMSTRUCT& item, const WindowLook& look);

// WM_CTLCOLORSTATIC: transparent text in the colour of the control's role (the status line in
// statusColour); the brush to return.
HBRUSH colourStatic(HDC dc, int controlId, Rgb statusColour, const WindowLook& look);
// WM_CTLCOLOREDIT: light text on the field colour; the brush to return.
HBRUSH colourEdit(HDC dc, const WindowLook& look);
// WM_ERASEBKGND: the whole client area in the background colour.
void eraseBackground(HWND window, HDC dc, const WindowLook& look);

}  // namespace connector
