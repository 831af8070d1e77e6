#pragma once
// What the window asks of the display system (Windows only), through functions looked up at run
// time: older systems lack them.
#include "platform/win32.hpp"

namespace connector {

// Declares the process aware of each monitor's DPI (per monitor, version 2), so that the window
// is never scaled as a bitmap and hears of DPI changes as WM_DPICHANGED.
void declarePerMonitorDpiAwareness();
// The system DPI, or 96 where the system cannot tell.
int systemDpi();
// Asks the window manager for a dark title bar; ignored where it is not offered.
void useDarkTitleBar(HWND window);

}  // namespace connector
