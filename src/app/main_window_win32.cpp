#include "app/main_window_win32.hpp"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "api/router.hpp"
#include "app/app_shell_win32.hpp"
#include "app/service_status.hpp"
#include "config/config.hpp"
#include "api/service.hpp"
#include "http/status_reason.hpp"
#include "convert/spine_locator.hpp"
#include "platform/text.hpp"

namespace connector {

namespace {

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kClientWidth = 620;
constexpr int kClientHeight = 326;

constexpr COLORREF kTextColour = RGB(238, 238, 238);
constexpr COLORREF kExplanationColour = RGB(166, 164, 162);
constexpr COLORREF kFieldColour = RGB(56, 55, 54);
constexpr COLORREF kPressedFaceColour = RGB(70, 69, 68);
constexpr COLORREF kOutlineColour = RGB(76, 75, 74);

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
     L"应用打开且连接已启动时，网页可调用本机 Spine 生成工程文件。", 29, 65, 560, 24, FontRole::Body},
    {kStatusLabel, ControlKind::Static, L"", 29, 95, 560, 46, FontRole::Body},
    {kPathLabel, ControlKind::Static, L"Spine.com 路径", 29, 146, 160, 24, FontRole::Body},
    {kPathEdit, ControlKind::Edit, L"", 29, 172, 390, 32, FontRole::Body},
    {kChooseFileButton, ControlKind::Button, L"选择 Spine.com", 430, 170, 160, 36, FontRole::Body},
    {kRestoreDetectionButton, ControlKind::Button, L"恢复自动检测", 29, 216, 130, 36, FontRole::Body},
    {kSavePathButton, ControlKind::Button, L"保存路径", 460, 216, 130, 36, FontRole::Body},
    {kToggleButton, ControlKind::Button, L"断开连接", 460, 265, 130, 36, FontRole::Body},
};

constexpr int kPathGroup[] = {kPathLabel, kPathEdit, kChooseFileButton, kRestoreDetectionButton,
                              kSavePathButton};

HFONT fontFor(const ControlLayout& layout) {
  const AppShell& shell = appShell();
  return layout.font == FontRole::Title ? shell.title() : shell.body();
}

HWND createControl(HWND parent, const ControlLayout& layout) {
  const AppShell& shell = appShell();
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
      0, className, layout.text, style, shell.scale(layout.x), shell.scale(layout.y),
      shell.scale(layout.width), shell.scale(layout.height), parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(layout)), FALSE);
  return control;
}

void setEditMargins(HWND edit) {
  const int margin = appShell().scale(8);
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

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Selects a GDI object into a device context and puts the previous one back on every path.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelection() { SelectObject(dc_, previous_); }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

void drawButton(const DRAWITEMSTRUCT& item) {
  const AppShell& shell = appShell();
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  // The corners outside the rounded face would otherwise keep the system's light button colour.
  FillRect(dc, &area, shell.background());
  {
    UniqueGdiObject face(
        CreateSolidBrush((item.itemState & ODS_SELECTED) ? kPressedFaceColour : kFieldColour));
    UniqueGdiObject outline(CreatePen(PS_SOLID, shell.scale(1), kOutlineColour));
    ScopedSelection pen(dc, outline.get());
    ScopedSelection brush(dc, face.get());
    RoundRect(dc, area.left, area.top, area.right, area.bottom, shell.scale(7), shell.scale(7));
  }  // the previous pen and brush go back before the temporary ones are deleted

  std::wstring text = windowText(item.hwndItem);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTextColour);
  {
    ScopedSelection font(dc, shell.body());
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  if (item.itemState & ODS_FOCUS) {
    const int inset = shell.scale(4);
    InflateRect(&area, -inset, -inset);
    DrawFocusRect(dc, &area);
  }
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

MainWindow::MainWindow(WindowDialogs dialogs, PortTakeover takeover)
    : dialogs_(std::move(dialogs)), takeover_(std::move(takeover)) {}

ATOM MainWindow::registerClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = &MainWindow::windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW, in its wide form
  windowClass.hbrBackground = appShell().background();
  windowClass.lpszClassName = kMainWindowClass;
  return RegisterClassExW(&windowClass);
}

HWND MainWindow::create(HINSTANCE instance) {
  const AppShell& shell = appShell();
  RECT outer{0, 0, shell.scale(kClientWidth), shell.scale(kClientHeight)};
  AdjustWindowRect(&outer, kWindowStyle, FALSE);
  return CreateWindowExW(0, kMainWindowClass, L"Glimmer连接器", kWindowStyle, CW_USEDEFAULT,
                         CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                         nullptr, instance, this);
}

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
  AppShell& shell = appShell();
  switch (message) {
    case WM_CREATE:
      createControls();
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlType != ODT_BUTTON) break;
      drawButton(*item);
      return TRUE;
    }
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window_, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, shell.background());
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, id == kStatusLabel        ? shell.statusColour
                       : id == kExplanationLabel ? kExplanationColour
                                                 : kTextColour);
      return reinterpret_cast<LRESULT>(shell.background());
    }
    case WM_CTLCOLOREDIT: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, kFieldColour);
      SetTextColor(dc, kTextColour);
      return reinterpret_cast<LRESULT>(shell.field());
    }
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
    case WM_CLOSE:
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      connectorService().stop();
      shell.titleFont.reset();
      shell.bodyFont.reset();
      shell.backgroundBrush.reset();
      shell.fieldBrush.reset();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::createControls() {
  for (const ControlLayout& layout : kControls) {
    if (layout.kind == ControlKind::Button) continue;
    createControl(window_, layout);
  }
  setEditMargins(control(kPathEdit));
  // The saved choice, not the located path: empty when nothing was saved.
  SetWindowTextW(control(kPathEdit), toWide(loadConfig().spineExecutable).c_str());
  for (const ControlLayout& layout : kControls) {
    if (layout.kind == ControlKind::Button) createControl(window_, layout);
  }
  refreshStatus();
}

void MainWindow::refreshStatus() {
  const StatusLine line = currentStatusLine(takeover_);
  appShell().statusColour = RGB(line.colour.red, line.colour.green, line.colour.blue);
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

void MainWindow::applyDpi(int dpi, const RECT& suggested) {
  AppShell& shell = appShell();
  shell.dpi = dpi;
  // The old fonts stay alive until every control has been given the new ones.
  UniqueGdiObject oldTitle = std::move(shell.titleFont);
  UniqueGdiObject oldBody = std::move(shell.bodyFont);
  createFonts(shell);
  for (const ControlLayout& layout : kControls) {
    HWND item = control(layout.id);
    if (item == nullptr) continue;
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(layout)), FALSE);
    SetWindowPos(item, nullptr, shell.scale(layout.x), shell.scale(layout.y), shell.scale(layout.width),
                 shell.scale(layout.height), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (HWND edit = control(kPathEdit)) setEditMargins(edit);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, TRUE);
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
