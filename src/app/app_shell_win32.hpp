#pragma once
// The process-wide drawing state of the window (Windows only): DPI scale, fonts, brushes and
// the current status colour.
#include "platform/win32.hpp"

namespace connector {

struct AppShell {
  int dpi = 96;
  UniqueGdiObject titleFont;
  UniqueGdiObject bodyFont;
  UniqueGdiObject backgroundBrush;
  UniqueGdiObject fieldBrush;
  COLORREF statusColour = RGB(48, 209, 88);

  // Lengths are designed at 96 DPI.
  int scale(int length) const { return MulDiv(length, dpi, 96); }
  HFONT title() const { return static_cast<HFONT>(titleFont.get()); }
  HFONT body() const { return static_cast<HFONT>(bodyFont.get()); }
  HBRUSH background() const { return static_cast<HBRUSH>(backgroundBrush.get()); }
  HBRUSH field() const { return static_cast<HBRUSH>(fieldBrush.get()); }
};

AppShell& appShell();

// Declares per-monitor DPI awareness and reads the system DPI at start-up, through functions
// looked up at run time (older systems lack them; the scale then stays 96). Later changes reach
// the window as WM_DPICHANGED (MainWindow::applyDpi).
void adoptSystemDpi(AppShell& shell);
// Creates the title and body fonts and the background and field brushes for the shell's DPI.
void createFontsAndBrushes(AppShell& shell);
// Creates (again) the title and body fonts for the shell's DPI.
void createFonts(AppShell& shell);
// Asks the window manager for a dark title bar; ignored where it is not offered.
void useDarkTitleBar(HWND window);

}  // namespace connector
