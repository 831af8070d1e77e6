#pragma once
// The connector's only window (Windows only): title, explanation, status line, the Spine path
// group and the start/stop toggle.
#include "platform/win32.hpp"

#include <functional>
#include <optional>
#include <string>

#include "app/display_win32.hpp"
#include "app/palette.hpp"
#include "app/port_takeover.hpp"
#include "app/window_controls_win32.hpp"
#include "app/window_dialogs_win32.hpp"
#include "app/window_look_win32.hpp"

namespace connector {

inline constexpr wchar_t kMainWindowClass[] = L"GlimmerConnectorWindow";

class MainWindow {
 public:
  explicit MainWindow(WindowDialogs dialogs = systemDialogs(),
                      PortTakeover takeover = PortTakeover(), DpiQueries dpi = systemDpiQueries());
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers "GlimmerConnectorWindow" with windowProc and a background brush of its own.
  static ATOM registerClass(HINSTANCE instance);
  // Creates the fixed-size window with its client area of 620 x 326 in 96-DPI units, its fonts
  // and brushes: at the system DPI, then at the window's own where its monitor's differs;
  // nullptr on failure.
  HWND create(HINSTANCE instance);
  HWND handle() const noexcept { return window_; }
  // The fonts and brushes at the window's DPI; empty before creation and after destruction.
  const WindowLook& look() const noexcept { return look_; }

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void refreshStatus();
  void savePath(HWND owner);
  // WM_GETDPISCALEDSIZE: the outer size whose client area is 620 x 326 scaled to dpi, with the
  // frame and caption the system draws at that DPI (which do not scale linearly), so that the
  // rectangle WM_DPICHANGED suggests keeps the client area exact.
  SIZE sizeAtDpi(int dpi) const;
  // WM_DPICHANGED: fonts and brushes for the new DPI, every control placed from the layout table
  // again, and the window moved to the rectangle the system suggests.
  void applyDpi(int dpi, const RECT& suggested);
  // WM_ENDSESSION of a session that really ends: the service stops as at the window's
  // destruction, and only once the running conversion has left nothing behind does this return.
  // WM_QUERYENDSESSION never holds the end up.
  void endSession();

 private:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  // Fonts and brushes for dpi, and every control placed from the layout table again.
  void layOut(int dpi);
  // The client area at the current DPI.
  RECT clientRect() const;
  void chooseFile();
  void restoreAutomaticDetection();
  void toggleConnection();
  HWND control(int id) const { return GetDlgItem(window_, id); }

  WindowDialogs dialogs_;
  PortTakeover takeover_;
  DpiQueries dpi_;
  WindowLook look_;
  Rgb statusColour_ = palette::kGreen;  // set by each status refresh
  HWND window_ = nullptr;
  HWND focus_ = nullptr;  // the control that gets the focus when the window does
};

}  // namespace connector
