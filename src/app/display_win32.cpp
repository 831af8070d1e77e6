#include "app/display_win32.hpp"

#include "platform/system_library_win32.hpp"

namespace connector {

namespace {

constexpr DWORD kImmersiveDarkMode = 20;
constexpr DWORD kImmersiveDarkModeBefore20H1 = 19;

HMODULE user32() { return GetModuleHandleW(L"user32.dll"); }

}  // namespace

void declarePerMonitorDpiAwareness() {
  using SetAwareness = BOOL(WINAPI*)(HANDLE);
  if (auto setAwareness = lookUp<SetAwareness>(user32(), "SetProcessDpiAwarenessContext")) {
    setAwareness(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
  }
}

DpiQueries systemDpiQueries() {
  DpiQueries queries;
  queries.systemDpi = [] {
    using GetSystemDpi = UINT(WINAPI*)();
    if (auto getDpi = lookUp<GetSystemDpi>(user32(), "GetDpiForSystem")) {
      return static_cast<int>(getDpi());
    }
    return 96;
  };
  queries.windowDpi = [](HWND window) {
    using GetWindowDpi = UINT(WINAPI*)(HWND);
    if (auto getDpi = lookUp<GetWindowDpi>(user32(), "GetDpiForWindow")) {
      return static_cast<int>(getDpi(window));
    }
    return 0;
  };
  return queries;
}

RECT outerRect(RECT client, DWORD style, int dpi) {
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  auto adjust = lookUp<AdjustForDpi>(user32(), "AdjustWindowRectExForDpi");
  if (adjust == nullptr || !adjust(&client, style, FALSE, 0, static_cast<UINT>(dpi))) {
    AdjustWindowRect(&client, style, FALSE);
  }
  return client;
}

void useDarkTitleBar(HWND window) {
  UniqueModule dwmapi = loadSystemLibrary(L"dwmapi.dll");
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  auto setAttribute = lookUp<SetAttribute>(dwmapi.get(), "DwmSetWindowAttribute");
  if (!setAttribute) return;
  const BOOL dark = TRUE;
  if (FAILED(setAttribute(window, kImmersiveDarkMode, &dark, sizeof dark))) {
    setAttribute(window, kImmersiveDarkModeBefore20H1, &dark, sizeof dark);
  }
}

}  // namespace connector
