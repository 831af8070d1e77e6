#pragma once
// The main window's message boxes and file dialog (Windows only).
#include "platform/win32.hpp"

#include <functional>
#include <optional>
#include <string>

namespace connector {

// The modal parts of the window, replaceable so that tests never wait on a modal loop.
struct WindowDialogs {
  // icon: MB_ICONEXCLAMATION or MB_ICONERROR
  std::function<void(HWND owner, const std::wstring& title, const std::wstring& text, UINT icon)>
      showMessage;
  // The chosen path, or nothing when the user cancels.
  std::function<std::optional<std::wstring>(HWND owner)> chooseSpineFile;
};

// MessageBoxW and the system's open-file dialog.
WindowDialogs systemDialogs();

}  // namespace connector
