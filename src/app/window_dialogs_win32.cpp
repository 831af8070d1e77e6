#include "app/window_dialogs_win32.hpp"

#include <commdlg.h>

#include "app/working_directory_win32.hpp"

namespace connector {

WindowDialogs systemDialogs() {
  WindowDialogs dialogs;
  dialogs.showMessage = [](HWND owner, const std::wstring& title, const std::wstring& text,
                           UINT icon) {
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | icon);
  };
  dialogs.chooseSpineFile = [](HWND owner) -> std::optional<std::wstring> {
    static constexpr wchar_t kFilter[] = L"Spine.com\0Spine.com\0所有文件\0*.*\0";
    wchar_t path[260] = {};
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = 260;
    request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    // The dialog leaves the working directory in the folder the user picked from (the flag
    // that would stop it does nothing for an open dialog), so the directory is put back.
    const ScopedWorkingDirectory keep;
    if (!GetOpenFileNameW(&request)) return std::nullopt;
    return std::wstring(path);
  };
  return dialogs;
}

}  // namespace connector
