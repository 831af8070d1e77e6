// The windowed connector: service first, then DPI awareness, the window and its message loop.
#include "platform/win32.hpp"

#include "api/service.hpp"
#include "api/service_instance.hpp"
#include "app/display_win32.hpp"
#include "app/main_window_win32.hpp"
#include "app/service_status.hpp"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  using namespace connector;
  // Before anything else can load a DLL: System32 only, never the .exe's own folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A probe of an empty card reader or DVD drive in PATH fails quietly instead of stopping
  // everything behind the system's "no disk" box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The window's first status refresh shows the outcome of this start; a failure never ends
  // the program, its reason stays in statusReason().
  startServiceAtLaunch();

  // The window makes its own fonts and brushes, for its monitor's DPI, when it is created.
  declarePerMonitorDpiAwareness();
  MainWindow::registerClass(instance);  // a failure shows up as a failed creation below

  MainWindow mainWindow;
  HWND window = mainWindow.create(instance);
  if (window == nullptr) {
    connectorService().stop();
    return 1;
  }
  useDarkTitleBar(window);
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  connectorService().stop();  // already stopped by the window's destruction; harmless
  return static_cast<int>(message.wParam);
}
