#include "app/main_window_win32.hpp"

#include <filesystem>
#include <system_error>
#include <utility>

#include "api/service.hpp"
#include "api/service_instance.hpp"
#include "app/display_win32.hpp"
#include "app/service_status.hpp"
#include "app/window_paint_win32.hpp"
#include "config/config.hpp"
#include "convert/spine_locator.hpp"
#include "http/status_reason.hpp"
#include "platform/text.hpp"

namespace connector {

namespace {

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kClientWidth = 620;
constexpr int kClientHeight = 326;

enum class ControlKind { Static, Edit, Button };
enum class FontRole { Title, Body };

struct ControlLayout {
  int id;
  ControlKind kind;
  const wchar_t* text;
  int x, y, width, height;  // 96-DPI units
  FontRole font;
};

// Creation order: the statics and the edit, then (after the saved path is in the edit) the buttons.
// Every position also serves a DPI change. The status line has room for two lines: the longest
// reasons after "● 连接器未启动 · " are wider than one line of the body font.
constexpr ControlLayout kControls[] = {
    {kTitleLabel, ControlKind::Static, L"Glimmer连接器", 28, 24, 560, 34, FontRole::Title},
    {kExplanationLabel, ControlKind::Static,
     L"应用打开且连接已启动时，网页可调用本机 Spine 生成工程文件。", 29, 65, 560, 24,
     FontRole::Body},
    {kStatusLabel, ControlKind::Static, L"", 29, 95, 560, 46, FontRole::Body},
    {kPathLabel, ControlKind::Static, L"Spine.com 路径", 29, 146, 160, 24, FontRole::Body},
    {kPathEdit, ControlKind::Edit, L"", 29, 172, 390, 32, FontRole::Body},
    {kChooseFileButton, ControlKind::Button, L"选择 Spine.com", 430, 170, 160, 36, FontRole::Body},
    {kRestoreDetectionButton, ControlKind::Button, L"恢复自动检测", 29, 216, 130, 36,
     FontRole::Body},
    {kSavePathButton, ControlKind::Button, L"保存路径", 460, 216, 130, 36, FontRole::Body},
    {kToggleButton, ControlKind::Button, L"断开连接", 460, 265, 130, 36, FontRole::Body},
};

constexpr int kPathGroup[] = {kPathLabel, kPathEdit, kChooseFileButton, kRestoreDetectionButton,
                              kSavePathButton};

HFONT fontFor(const ControlLayout& layout, const WindowLook& look) {
  return layout.font == FontRole::Title ? look.title() : look.body();
}

HWND createControl(HWND parent, const ControlLayout& layout, const WindowLook& look) {
  const wchar_t* className = L"STATIC";
  DWORD style = WS_CHILD | WS_VISIBLE;
  switch (layout.kind) {
    case ControlKind::Static:
      style |= SS_LEFT;
      break;
    case ControlKind::Edit:
      className = L"EDIT";
      style |= WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
      break;
    case ControlKind::Button:
      className = L"BUTTON";
      style |= WS_TABSTOP | BS_PUSHBUTTON | BS_OWNERDRAW;
      break;
  }
  HWND control = CreateWindowExW(
      0, className, layout.text, style, look.scale(layout.x), look.scale(layout.y),
      look.scale(layout.width), look.scale(layout.height), parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(layout, look)), FALSE);
  }
  return control;
}

void setEditMargins(HWND edit, const WindowLook& look) {
  const int margin = look.scale(8);
  SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
}

bool isPathGroupControl(HWND parent, HWND window) {
  if (window == nullptr) return false;
  for (int id : kPathGroup) {
    HWND member = GetDlgItem(parent, id);
    if (member != nullptr && (window == member || IsChild(member, window))) return true;
  }
  return false;
}

// The client area of 620 x 326 designed at 96 DPI, at dpi.
RECT clientRectAt(int dpi) {
  return RECT{0, 0, MulDiv(kClientWidth, dpi, 96), MulDiv(kClientHeight, dpi, 96)};
}

bool isExistingRegularFile(const std::string& utf8Path) {
  try {
    std::error_code error;
    const auto status = std::filesystem::status(pathFromUtf8(utf8Path), error);  // follows links
    return !error && std::filesystem::is_regular_file(status);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

MainWindow::MainWindow(WindowDialogs dialogs, PortTakeover takeover, DpiQueries dpi)
    : dialogs_(std::move(dialogs)), takeover_(std::move(takeover)), dpi_(std::move(dpi)) {}

ATOM MainWindow::registerClass(HINSTANCE instance) {
  // A brush of the class's own, not a window's: the system deletes it with the class.
  UniqueGdiObject background(CreateSolidBrush(colourRef(palette::kBackground)));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = &MainWindow::windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor =
      LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW, in its wide form
  windowClass.hbrBackground = static_cast<HBRUSH>(background.get());
  windowClass.lpszClassName = kMainWindowClass;
  const ATOM atom = RegisterClassExW(&windowClass);
  if (atom != 0) background.release();
  return atom;
}

HWND MainWindow::create(HINSTANCE instance) {
  look_ = WindowLook(dpi_.systemDpi());
  const RECT outer = outerRect(clientRect(), kWindowStyle, look_.dpi());
  HWND window = CreateWindowExW(0, kMainWindowClass, L"Glimmer连接器", kWindowStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                                nullptr, nullptr, instance, this);
  if (window == nullptr) return nullptr;
  // A per-monitor aware window created on a monitor whose DPI is not the system's hears no
  // WM_DPICHANGED for it: it lays itself out at its own DPI here, where it stands.
  const int own = dpi_.windowDpi(window);
  if (own > 0 && own != look_.dpi()) {
    layOut(own);
    const RECT resized = outerRect(clientRect(), kWindowStyle, own);
    SetWindowPos(window, nullptr, 0, 0, resized.right - resized.left, resized.bottom - resized.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return window;
}

RECT MainWindow::clientRect() const { return clientRectAt(look_.dpi()); }

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) self->window_ = window;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY && self != nullptr) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self = nullptr;
  }
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->handleMessage(message, wParam, lParam);
  } catch (...) {
    // Whatever failed, the message still gets its default processing; no box, no crash.
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      createControls();
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlType != ODT_BUTTON) break;
      drawButton(*item, look_);
      return TRUE;
    }
    case WM_ERASEBKGND:
      eraseBackground(window_, reinterpret_cast<HDC>(wParam), look_);
      return 1;
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      return reinterpret_cast<LRESULT>(
          colourStatic(reinterpret_cast<HDC>(wParam), id, statusColour_, look_));
    }
    case WM_CTLCOLOREDIT:
      return reinterpret_cast<LRESULT>(colourEdit(reinterpret_cast<HDC>(wParam), look_));
    case WM_COMMAND:
      // Owner-drawn buttons also report double-clicks; only the click itself acts, so a
      // double-click on "停止连接" does not stop and start again.
      if (HIWORD(wParam) != BN_CLICKED) break;
      switch (LOWORD(wParam)) {
        case kChooseFileButton:
          chooseFile();
          return 0;
        case kRestoreDetectionButton:
          restoreAutomaticDetection();
          return 0;
        case kSavePathButton:
          savePath(window_);
          return 0;
        case kToggleButton:
          toggleConnection();
          return 0;
      }
      break;
    case WM_GETDPISCALEDSIZE:
      *reinterpret_cast<SIZE*>(lParam) = sizeAtDpi(static_cast<int>(wParam));
      return TRUE;
    case WM_DPICHANGED:
      applyDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      // Keep the keyboard focus where the user left it while another window was active.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) focus_ = focus;
      }
      break;
    case WM_SETFOCUS:
      // The window itself takes no keys: the focus goes on to a control, the toggle at first.
      if (focus_ == nullptr || !IsWindow(focus_) || !IsWindowVisible(focus_)) {
        focus_ = control(kToggleButton);
      }
      if (focus_ != nullptr) SetFocus(focus_);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;  // never holds up a sign-out, a shutdown or an installer's restart
    case WM_ENDSESSION:
      if (wParam) endSession();
      return 0;
    case WM_CLOSE:
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      connectorService().stop();
      look_ = WindowLook();  // the fonts and brushes go with the window
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::createControls() {
  for (const ControlLayout& layout : kControls) {
    if (layout.kind == ControlKind::Button) continue;
    createControl(window_, layout, look_);
  }
  setEditMargins(control(kPathEdit), look_);
  // The saved choice, not the located path: empty when nothing was saved.
  SetWindowTextW(control(kPathEdit), toWide(loadConfig().spineExecutable).c_str());
  for (const ControlLayout& layout : kControls) {
    if (layout.kind == ControlKind::Button) createControl(window_, layout, look_);
  }
  refreshStatus();
}

void MainWindow::refreshStatus() {
  const StatusLine line = currentStatusLine(takeover_);
  statusColour_ = line.colour;
  HWND status = control(kStatusLabel);
  SetWindowTextW(status, toWide(line.text).c_str());
  InvalidateRect(status, nullptr, TRUE);
  SetWindowTextW(control(kToggleButton), line.active ? L"停止连接" : L"启动连接");

  // A search of its own: while Spine is found the path cannot be changed here.
  const bool spineFound = !SpineLocator::locate().empty();
  // The keyboard focus never stays on a control that is about to disappear.
  if (spineFound && isPathGroupControl(window_, GetFocus())) SetFocus(control(kToggleButton));
  if (spineFound && isPathGroupControl(window_, focus_)) focus_ = control(kToggleButton);
  for (int id : kPathGroup) ShowWindow(control(id), spineFound ? SW_HIDE : SW_SHOW);
}

SIZE MainWindow::sizeAtDpi(int dpi) const {
  const RECT outer = outerRect(clientRectAt(dpi), kWindowStyle, dpi);
  return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

void MainWindow::endSession() {
  // The process may be ended at any moment after this returns, and nothing removes a workspace
  // left behind; the stop returns once the conversion under way has ended its Spine and removed
  // its workspace.
  connectorService().stop();
  statusReason().clear();
  refreshStatus();  // should the session go on after all, the window says what is true
}

void MainWindow::applyDpi(int dpi, const RECT& suggested) {
  layOut(dpi);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, TRUE);
}

void MainWindow::layOut(int dpi) {
  // The old fonts stay alive until every control has been given the new ones.
  const WindowLook previous = std::exchange(look_, WindowLook(dpi));
  for (const ControlLayout& layout : kControls) {
    HWND item = control(layout.id);
    if (item == nullptr) continue;
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(layout, look_)), FALSE);
    SetWindowPos(item, nullptr, look_.scale(layout.x), look_.scale(layout.y),
                 look_.scale(layout.width), look_.scale(layout.height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (HWND edit = control(kPathEdit)) setEditMargins(edit, look_);
}

void MainWindow::chooseFile() {
  if (std::optional<std::wstring> chosen = dialogs_.chooseSpineFile(window_)) {
    SetWindowTextW(control(kPathEdit), chosen->c_str());  // saved only by "保存路径"
  }
}

void MainWindow::restoreAutomaticDetection() {
  SetWindowTextW(control(kPathEdit), L"");
  savePath(window_);
}

void MainWindow::savePath(HWND owner) {
  const std::string path = toUtf8(windowText(control(kPathEdit)));
  if (!path.empty() && !isExistingRegularFile(path)) {
    dialogs_.showMessage(owner, L"Spine 路径无效", L"请选择实际存在的 Spine.com 文件。",
                         MB_ICONEXCLAMATION);
    return;
  }
  try {
    // One whole load-modify-save, so a pairing saved meanwhile is neither lost nor interleaved,
    // and settings that could not be read are not replaced.
    updateConfig([&path](ConnectorConfig& config) {
      config.spineExecutable = path;
      return true;
    });
  } catch (const std::exception& error) {
    dialogs_.showMessage(owner, L"保存失败", toWide(error.what()), MB_ICONERROR);
    return;
  }
  refreshStatus();
}

void MainWindow::toggleConnection() {
  ConnectorService& service = connectorService();
  if (service.plainServer().isRunning()) {
    service.stop();
    statusReason().clear();
  } else if (!takeover_.isPortInUse()) {
    statusReason().clear();
    service.start();  // a failed start leaves its reason in statusReason()
  } else {
    statusReason().clear();
    takeover_.stopPortHolders();  // never starts the service: a second press does
  }
  refreshStatus();
}

}  // namespace connector
