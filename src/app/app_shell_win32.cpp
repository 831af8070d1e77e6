#include "app/app_shell_win32.hpp"

#include "app/system_library_win32.hpp"

namespace connector {

namespace {

HFONT makeFont(int points, int weight, int dpi) {
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

constexpr DWORD kImmersiveDarkMode = 20;
constexpr DWORD kImmersiveDarkModeBefore20H1 = 19;

}  // namespace

AppShell& appShell() {
  static AppShell shell;
  return shell;
}

void adoptSystemDpi(AppShell& shell) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using SetAwareness = BOOL(WINAPI*)(HANDLE);
  using GetSystemDpi = UINT(WINAPI*)();
  if (auto setAwareness = lookUp<SetAwareness>(user32, "SetProcessDpiAwarenessContext")) {
    setAwareness(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
  }
  if (auto getDpi = lookUp<GetSystemDpi>(user32, "GetDpiForSystem")) {
    shell.dpi = static_cast<int>(getDpi());
  }
}

void createFonts(AppShell& shell) {
  shell.titleFont.reset(makeFont(20, 600, shell.dpi));
  shell.bodyFont.reset(makeFont(13, 400, shell.dpi));
}

void createFontsAndBrushes(AppShell& shell) {
  createFonts(shell);
  shell.backgroundBrush.reset(CreateSolidBrush(RGB(38, 37, 36)));
  shell.fieldBrush.reset(CreateSolidBrush(RGB(56, 55, 54)));
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
