#pragma once
// What the window asks of the display system (Windows only), through functions looked up at run
// time: older systems lack them.
#include "platform/win32.hpp"

#include <functional>

namespace connector {

// Declares the process aware of each monitor's DPI (per monitor, version 2), so that the window
// is never scaled as a bitmap and hears of DPI changes as WM_DPICHANGED.
void declarePerMonitorDpiAwareness();

// The DPI questions the window asks, replaceable so that tests can create a window on a monitor
// whose DPI is not the system's.
struct DpiQueries {
  std::function<int()> systemDpi;      // 96 where the system cannot tell
  std::function<int(HWND)> windowDpi;  // the DPI of the window's monitor; 0 where it cannot tell
};
// GetDpiForSystem and GetDpiForWindow.
DpiQueries systemDpiQueries();

// The outer rectangle of a window with this style around the client rectangle, with the frame
// and caption at dpi (at the system DPI where the system cannot size them for another).
RECT outerRect(RECT client, DWORD style, int dpi);

// Asks the window manager for a dark title bar; ignored where it is not offered.
void useDarkTitleBar(HWND window);

}  // namespace connector
