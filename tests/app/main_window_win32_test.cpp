// The real main window, created in this process and driven with real messages.
#include "platform/win32.hpp"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "api/service.hpp"
#include "api/service_instance.hpp"
#include "app/display_win32.hpp"
#include "app/main_window_win32.hpp"
#include "app/service_status.hpp"
#include "app/status_line.hpp"
#include "config/config.hpp"
#include "http/server.hpp"
#include "http/status_reason.hpp"
#include "http/test_client.hpp"
#include "platform/text.hpp"
#include "support/child_process.hpp"
#include "support/spine_stub.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::readWholeFile;
using test::writeWholeFile;

constexpr COLORREF kGreen = RGB(48, 209, 88);
constexpr COLORREF kOrange = RGB(255, 159, 10);
constexpr COLORREF kRed = RGB(255, 69, 58);
constexpr COLORREF kGrey = RGB(166, 164, 162);
constexpr COLORREF kLight = RGB(238, 238, 238);
constexpr COLORREF kField = RGB(56, 55, 54);
constexpr COLORREF kPressed = RGB(70, 69, 68);
constexpr COLORREF kOutline = RGB(76, 75, 74);
constexpr COLORREF kBackground = RGB(38, 37, 36);

constexpr int kPathGroup[] = {kPathLabel, kPathEdit, kChooseFileButton, kRestoreDetectionButton,
                              kSavePathButton};

struct ShownMessage {
  std::wstring title, text;
  UINT icon;
};

// A listener of this process on 127.0.0.1:27843, standing in for another program on the port.
class LoopbackListener {
 public:
  LoopbackListener() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    // As the service does: lingering TIME_WAIT connections of earlier tests must not block us.
    const BOOL reuse = TRUE;
    setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kConnectorPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket_.get(), 4) != 0) {
      socket_.reset();
    }
  }
  ~LoopbackListener() {
    socket_.reset();
    if (started_) WSACleanup();
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  bool listening() const { return static_cast<bool>(socket_); }
  void close() { socket_.reset(); }

 private:
  bool started_ = false;
  UniqueSocket socket_;
};

// A memory device context with a 24-bit bitmap, for reading back what a handler painted.
class Canvas {
 public:
  Canvas(int width, int height)
      : dc_(CreateCompatibleDC(nullptr)), bitmap_(CreateBitmap32(width, height)) {
    previous_ = SelectObject(dc_, bitmap_.get());
    RECT all{0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    bitmap_.reset();
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  HDC dc() const { return dc_; }
  COLORREF pixel(int x, int y) const { return GetPixel(dc_, x, y); }

 private:
  static HBITMAP CreateBitmap32(int width, int height) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    return bitmap;
  }
  HDC dc_;
  UniqueGdiObject bitmap_;
  HGDIOBJ previous_ = nullptr;
};

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    // A private settings file, and a locator that finds nothing until a test puts Spine somewhere.
    env_.set("SPINE_CONNECTOR_CONFIG", pathToUtf8(configFile()));
    env_.set("SPINE_EXECUTABLE", std::nullopt);
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA", "PATH"}) {
      fs::create_directories(dir_ / name);
      env_.set(name, pathToUtf8(dir_ / name));
    }
    statusReason().clear();
    ASSERT_NE(MainWindow::registerClass(instance()), 0);
  }

  void TearDown() override {
    if (window_ && window_->handle() != nullptr) DestroyWindow(window_->handle());
    pumpMessages();
    drainMessages();
    window_.reset();
    connectorService().stop();
    statusReason().clear();
    UnregisterClassW(kMainWindowClass, instance());
  }

  static HINSTANCE instance() { return GetModuleHandleW(nullptr); }
  fs::path configFile() const { return dir_ / "config.json"; }

  // Puts a launcher where the locator looks first among the installation directories.
  fs::path installSpine() {
    const fs::path launcher = dir_ / "ProgramFiles" / "Spine" / "Spine.com";
    fs::create_directories(launcher.parent_path());
    writeWholeFile(launcher, "launcher");
    return launcher;
  }

  HWND open(PortTakeover takeover = PortTakeover(), DpiQueries dpi = systemDpiQueries()) {
    WindowDialogs dialogs;
    dialogs.showMessage = [this](HWND owner, const std::wstring& title, const std::wstring& text,
                                 UINT icon) {
      EXPECT_EQ(owner, window_->handle());
      messages_.push_back({title, text, icon});
    };
    dialogs.chooseSpineFile = [this](HWND owner) {
      EXPECT_EQ(owner, window_->handle());
      return nextChoice_;
    };
    window_ = std::make_unique<MainWindow>(std::move(dialogs), std::move(takeover), std::move(dpi));
    HWND window = window_->create(instance());
    EXPECT_NE(window, nullptr);
    return window;
  }

  HWND control(int id) const { return GetDlgItem(window_->handle(), id); }
  // Fonts, every control's rectangle and font, and the edit's margins as designed, scaled to dpi.
  void expectLaidOutAt(int dpi) const;
  // A control's rectangle in the window's client coordinates.
  RECT placement(int id) const {
    RECT r;
    GetWindowRect(control(id), &r);
    MapWindowPoints(nullptr, window_->handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  void changeDpi(int dpi, RECT suggested) {
    SendMessageW(window_->handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
  }
  std::wstring text(int id) const {
    wchar_t buffer[512] = {};
    GetWindowTextW(control(id), buffer, 512);
    return buffer;
  }
  bool shown(int id) const { return (GetWindowLongW(control(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  // Every control of the path group has the same visibility; a mix fails the test.
  bool pathGroupShown() const {
    int visible = 0;
    for (int id : kPathGroup) visible += shown(id) ? 1 : 0;
    EXPECT_TRUE(visible == 0 || visible == 5) << visible << " of the path group visible";
    return visible == 5;
  }
  void click(int id) {
    SendMessageW(window_->handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control(id)));
  }
  void setPathField(const std::wstring& value) {
    SetWindowTextW(control(kPathEdit), value.c_str());
  }

  // What the window answers to a static control's colour request.
  struct StaticColours {
    COLORREF text;
    int backgroundMode;
    HBRUSH brush;
  };
  StaticColours staticColours(int id) const {
    Canvas canvas(1, 1);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(window_->handle(), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(canvas.dc()),
                                                       reinterpret_cast<LPARAM>(control(id))));
    return {GetTextColor(canvas.dc()), GetBkMode(canvas.dc()), brush};
  }
  COLORREF statusColour() const { return staticColours(kStatusLabel).text; }

  static void drainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // Delivers what is queued for a shown window (painting validates it, so this ends).
  static void pumpMessages() {
    MSG message;
    for (int i = 0; i < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  test::TempDirectory dir_;
  test::ScopedEnvironment env_;
  std::unique_ptr<MainWindow> window_;
  std::vector<ShownMessage> messages_;
  std::optional<std::wstring> nextChoice_;
};

TEST_F(MainWindowTest, BuildsTheFixedLayoutFromItsTable) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  const WindowLook& look = window_->look();

  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Glimmer连接器");
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, look.scale(620));
  EXPECT_EQ(client.bottom, look.scale(326));
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

  struct Expected {
    int id;
    const wchar_t* text;
    int x, y, width, height;
    HFONT font;
    bool button;
  };
  const Expected controls[] = {
      {kTitleLabel, L"Glimmer连接器", 28, 24, 560, 34, look.title(), false},
      {kExplanationLabel, L"应用打开且连接已启动时，网页可调用本机 Spine 生成工程文件。", 29, 65,
       560, 24, look.body(), false},
      {kStatusLabel, L"● 连接器运行中 · 未找到 Spine", 29, 95, 560, 46, look.body(), false},
      {kPathLabel, L"Spine.com 路径", 29, 146, 160, 24, look.body(), false},
      {kPathEdit, L"", 29, 172, 390, 32, look.body(), false},
      {kChooseFileButton, L"选择 Spine.com", 430, 170, 160, 36, look.body(), true},
      {kRestoreDetectionButton, L"恢复自动检测", 29, 216, 130, 36, look.body(), true},
      {kSavePathButton, L"保存路径", 460, 216, 130, 36, look.body(), true},
      {kToggleButton, L"停止连接", 460, 265, 130, 36, look.body(), true},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.id);
    ASSERT_NE(control(c.id), nullptr);
    EXPECT_EQ(text(c.id), c.text);
    const RECT r = placement(c.id);
    EXPECT_EQ(r.left, look.scale(c.x));
    EXPECT_EQ(r.top, look.scale(c.y));
    EXPECT_EQ(r.right - r.left, look.scale(c.width));
    EXPECT_EQ(r.bottom - r.top, look.scale(c.height));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control(c.id), WM_GETFONT, 0, 0)), c.font);
    EXPECT_EQ((GetWindowLongW(control(c.id), GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW, c.button);
  }
  const auto margins = static_cast<DWORD>(SendMessageW(control(kPathEdit), EM_GETMARGINS, 0, 0));
  EXPECT_EQ(LOWORD(margins), look.scale(8));
  EXPECT_EQ(HIWORD(margins), look.scale(8));

  // Colours of the statics and the edit.
  EXPECT_EQ(staticColours(kTitleLabel).text, kLight);
  EXPECT_EQ(staticColours(kExplanationLabel).text, kGrey);
  EXPECT_EQ(staticColours(kPathLabel).text, kLight);
  EXPECT_EQ(staticColours(kStatusLabel).backgroundMode, TRANSPARENT);
  EXPECT_EQ(staticColours(kStatusLabel).brush, look.background());
  Canvas canvas(1, 1);
  const auto editBrush = reinterpret_cast<HBRUSH>(
      SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(canvas.dc()),
                   reinterpret_cast<LPARAM>(control(kPathEdit))));
  EXPECT_EQ(editBrush, look.field());
  EXPECT_EQ(GetBkColor(canvas.dc()), kField);
  EXPECT_EQ(GetTextColor(canvas.dc()), kLight);
}

TEST_F(MainWindowTest, ShowsSpineReadyAndHidesThePathGroupWhenSpineIsInstalled) {
  installSpine();
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · Spine 已就绪");
  EXPECT_EQ(statusColour(), kGreen);
  EXPECT_EQ(text(kToggleButton), L"停止连接");
  EXPECT_FALSE(pathGroupShown());
  EXPECT_EQ(text(kPathEdit), L"");  // the saved choice, not the located path
}

TEST_F(MainWindowTest, ShowsSpineNotFoundWithThePathGroup) {
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");
  EXPECT_EQ(statusColour(), kOrange);
  EXPECT_EQ(text(kToggleButton), L"停止连接");
  EXPECT_TRUE(pathGroupShown());
  EXPECT_EQ(text(kPathEdit), L"");
}

TEST_F(MainWindowTest, SavesOnlyAPathThatNamesAnExistingFile) {
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  const std::wstring directory = (dir_ / "ProgramFiles").wstring();
  setPathField(directory);
  click(kSavePathButton);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, L"Spine 路径无效");
  EXPECT_EQ(messages_[0].text, L"请选择实际存在的 Spine.com 文件。");
  EXPECT_EQ(messages_[0].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
  EXPECT_FALSE(fs::exists(configFile()));
  EXPECT_EQ(text(kPathEdit), directory);  // left in place for correcting

  // Any regular file is accepted, whatever its name.
  const fs::path tool = dir_ / "工具" / "tool.exe";
  fs::create_directories(tool.parent_path());
  writeWholeFile(tool, "x");
  setPathField(tool.wstring());
  click(kSavePathButton);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(loadConfig().spineExecutable, pathToUtf8(tool));
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · Spine 已就绪");
  EXPECT_EQ(statusColour(), kGreen);
  EXPECT_FALSE(pathGroupShown());
}

TEST_F(MainWindowTest, ChoosingAFileFillsTheFieldButSavesNothing) {
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  nextChoice_ = L"C:\\Spine\\Spine.com";
  click(kChooseFileButton);
  EXPECT_EQ(text(kPathEdit), L"C:\\Spine\\Spine.com");
  EXPECT_FALSE(fs::exists(configFile()));
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");

  nextChoice_.reset();  // cancelled
  click(kChooseFileButton);
  EXPECT_EQ(text(kPathEdit), L"C:\\Spine\\Spine.com");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, RestoringAutomaticDetectionSavesAnEmptyPath) {
  ConnectorConfig saved;
  saved.allowedOrigins = {"http://localhost:5173"};
  saved.spineExecutable = pathToUtf8(dir_ / "moved-away" / "Spine.com");
  saveConfig(saved);
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  EXPECT_EQ(text(kPathEdit), toWide(saved.spineExecutable));
  EXPECT_TRUE(pathGroupShown());

  installSpine();  // Spine appears where automatic detection looks
  click(kRestoreDetectionButton);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(text(kPathEdit), L"");
  const ConnectorConfig after = loadConfig();
  EXPECT_EQ(after.spineExecutable, "");
  EXPECT_EQ(after.allowedOrigins, saved.allowedOrigins);  // the rest of the settings survive
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · Spine 已就绪");
  EXPECT_FALSE(pathGroupShown());
}

TEST_F(MainWindowTest, ShowsAFailedSaveInAnErrorBoxAndKeepsTheSettings) {
  const std::string before = "{\n  \"allowedOrigins\": [],\n  \"spineExecutable\": \"\"\n}\n";
  writeWholeFile(configFile(), before);
  // The temporary file beside the settings cannot be created when a folder takes its name.
  fs::create_directory(dir_ / "config.json.tmp");
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  const fs::path launcher = installSpine();
  setPathField(launcher.wstring());
  click(kSavePathButton);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, L"保存失败");
  EXPECT_EQ(messages_[0].text, L"无法写入连接器配置");
  EXPECT_EQ(messages_[0].icon, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(readWholeFile(configFile()), before);
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");  // no refresh after a failure
}

TEST_F(MainWindowTest, RefusesToSaveOverSettingsThatCannotBeRead) {
  // Older Notepad saves with a byte-order mark, which does not parse: the paired origins in it
  // must not be replaced by a file holding the path alone.
  const std::string before =
      "\xEF\xBB\xBF{\"allowedOrigins\":[\"https://a.example\"],\"spineExecutable\":\"\"}";
  writeWholeFile(configFile(), before);
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  const fs::path launcher = installSpine();
  setPathField(launcher.wstring());
  click(kSavePathButton);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, L"保存失败");
  EXPECT_EQ(messages_[0].text,
            toWide("连接器配置文件无法读取，未保存：" + pathToUtf8(configFile())));
  EXPECT_EQ(messages_[0].icon, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(readWholeFile(configFile()), before);
}

TEST_F(MainWindowTest, ToggleStopsAndStartsTheService) {
  ASSERT_TRUE(startServiceAtLaunch());
  open();
  click(kToggleButton);
  EXPECT_FALSE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), L"● 连接器已断开");
  EXPECT_EQ(statusColour(), kGrey);
  EXPECT_EQ(text(kToggleButton), L"启动连接");

  click(kToggleButton);
  EXPECT_TRUE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");
  EXPECT_EQ(statusColour(), kOrange);
  EXPECT_EQ(text(kToggleButton), L"停止连接");
}

TEST_F(MainWindowTest, AForeignListenerKeepsTheServiceFromStarting) {
  LoopbackListener foreign;
  ASSERT_TRUE(foreign.listening());
  EXPECT_FALSE(startServiceAtLaunch());
  EXPECT_EQ(statusReason(), "端口 27843 已被占用，可能已有连接器正在运行");
  open();
  // Windows reports this listener with our own process id, Wine 8 with owner id 0; takeover
  // ignores id 0, so under Wine the port counts as free and the start failure itself is shown.
  // (The port-held state is covered below with system calls that report a holder.)
  const bool holderReported = PortTakeover().isPortInUse();
  if (holderReported) {
    EXPECT_EQ(text(kStatusLabel), L"● 端口 27843 正在运行 · 可停止连接");
    EXPECT_EQ(statusColour(), kGreen);
    EXPECT_EQ(text(kToggleButton), L"停止连接");
    return;  // pressing the toggle would only meet our own process id
  }
  const std::wstring refused = L"● 连接器未启动 · 端口 27843 已被占用，可能已有连接器正在运行";
  EXPECT_EQ(text(kStatusLabel), refused);
  EXPECT_EQ(statusColour(), kRed);
  EXPECT_EQ(text(kToggleButton), L"启动连接");

  click(kToggleButton);  // the port looks free, so the toggle tries to start and fails again
  EXPECT_FALSE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), refused);

  foreign.close();
  click(kToggleButton);
  EXPECT_TRUE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");
  EXPECT_EQ(statusReason(), "");
}

// The port-held state and the takeover from the toggle, with a holder the system calls report.
class FakeHolder {
 public:
  PortTakeover takeover() {
    PortSystem calls;
    calls.listeners = [this] {
      return listening_ ? std::set<ProcessId>{4242} : std::set<ProcessId>{};
    };
    calls.currentProcessId = [] { return ProcessId{1}; };
    calls.terminateAndWait = [this](ProcessId id) {
      terminated_.push_back(id);
      if (refuse_) return PortSystem::Stop::OpenRefused;
      listening_ = false;
      return PortSystem::Stop::Stopped;
    };
    calls.sleep = [](std::chrono::milliseconds) {};
    calls.now = [] { return std::chrono::steady_clock::now(); };
    return PortTakeover(std::move(calls));
  }
  bool listening_ = true;
  bool refuse_ = false;
  std::vector<ProcessId> terminated_;
};

TEST_F(MainWindowTest, TakesThePortOverFromAnotherProcessThenStartsOnTheNextPress) {
  FakeHolder holder;
  open(holder.takeover());
  EXPECT_EQ(text(kStatusLabel), L"● 端口 27843 正在运行 · 可停止连接");
  EXPECT_EQ(statusColour(), kGreen);
  EXPECT_EQ(text(kToggleButton), L"停止连接");

  click(kToggleButton);
  EXPECT_EQ(holder.terminated_, std::vector<ProcessId>{4242});
  EXPECT_FALSE(connectorService().plainServer().isRunning());  // takeover never starts it
  EXPECT_EQ(text(kStatusLabel), L"● 连接器已断开");
  EXPECT_EQ(text(kToggleButton), L"启动连接");

  click(kToggleButton);
  EXPECT_TRUE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), L"● 连接器运行中 · 未找到 Spine");
}

TEST_F(MainWindowTest, AFailedTakeoverShowsOnlyOnceThePortIsFree) {
  FakeHolder holder;
  holder.refuse_ = true;
  open(holder.takeover());
  click(kToggleButton);
  EXPECT_EQ(statusReason(), "无法停止占用端口 27843 的进程，请以管理员身份运行后重试");
  EXPECT_EQ(text(kStatusLabel), L"● 端口 27843 正在运行 · 可停止连接");

  holder.listening_ = false;  // the holder exits by itself
  window_->refreshStatus();
  EXPECT_EQ(text(kStatusLabel),
            L"● 连接器未启动 · 无法停止占用端口 27843 的进程，请以管理员身份运行后重试");
  EXPECT_EQ(statusColour(), kRed);
  EXPECT_EQ(text(kToggleButton), L"启动连接");
}

TEST_F(MainWindowTest, DrawsOwnerDrawnButtonsAndTheBackground) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  const WindowLook& look = window_->look();
  const int width = look.scale(130), height = look.scale(36);

  struct Case {
    UINT state;
    COLORREF face;
    bool focus;
  };
  for (const Case& c : {Case{0, kField, false}, Case{ODS_SELECTED | ODS_FOCUS, kPressed, true}}) {
    SCOPED_TRACE(c.state);
    Canvas canvas(width, height);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = kToggleButton;
    item.hwndItem = control(kToggleButton);
    item.hDC = canvas.dc();
    item.rcItem = {0, 0, width, height};
    item.itemState = c.state;
    EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, kToggleButton, reinterpret_cast<LPARAM>(&item)),
              TRUE);
    EXPECT_EQ(canvas.pixel(0, 0), kBackground);  // outside the rounded corner
    EXPECT_EQ(canvas.pixel(0, height / 2), kOutline);
    EXPECT_EQ(canvas.pixel(look.scale(2), height / 2), c.face);
    // The focus rectangle is a dotted line 4 units inside the edge.
    int focusDots = 0;
    const int inset = look.scale(4);
    for (int y = inset + 1; y < height - inset - 1; ++y) {
      focusDots += canvas.pixel(inset, y) != c.face ? 1 : 0;
    }
    EXPECT_EQ(focusDots > 0, c.focus);
    int lightPixels = 0;  // the centred text "停止连接"
    for (int x = 0; x < width; ++x) {
      const COLORREF p = canvas.pixel(x, height / 2);
      lightPixels += GetRValue(p) > 200 && GetGValue(p) > 200 && GetBValue(p) > 200 ? 1 : 0;
    }
    EXPECT_GT(lightPixels, 0);
  }

  // Other owner-drawn kinds are left to default processing.
  Canvas untouched(8, 8);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_STATIC;
  item.hDC = untouched.dc();
  item.rcItem = {0, 0, 8, 8};
  EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item)), FALSE);
  EXPECT_EQ(untouched.pixel(4, 4), RGB(0, 0, 0));

  Canvas background(16, 16);
  EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(background.dc()), 0), 1);
  EXPECT_EQ(background.pixel(8, 8), kBackground);
}

TEST_F(MainWindowTest, ClosingStopsTheServiceAndEndsTheMessageLoop) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(window_->handle(), nullptr);
  EXPECT_FALSE(connectorService().plainServer().isRunning());
  EXPECT_EQ(window_->look().title(), nullptr);
  EXPECT_EQ(window_->look().body(), nullptr);
  EXPECT_EQ(window_->look().background(), nullptr);
  EXPECT_EQ(window_->look().field(), nullptr);
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
}

// The ids of the test launchers this process started that still run.
std::vector<std::string> runningLaunchers() {
  std::vector<std::string> found;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    const std::string id = std::to_string(entry.th32ProcessID);
    if (entry.th32ParentProcessID == GetCurrentProcessId() &&
        lstrcmpiW(entry.szExeFile, L"spine-stub.exe") == 0 && test::processRunning(id)) {
      found.push_back(id);
    }
  }
  return found;
}

// Signing out, shutting down or an installer's restart during a conversion: Windows may end the
// process at any moment after the window has answered WM_ENDSESSION, so by then the conversion
// has ended Spine's tree and removed the workspace with the user's files. An end that is called
// off changes nothing.
TEST_F(MainWindowTest, TheEndOfTheSessionLeavesNoWorkspaceAndNoSpineBehind) {
  const fs::path temp = dir_ / "temp";
  fs::create_directories(temp);
  env_.set("TMP", pathToUtf8(temp));
  env_.set("TEMP", pathToUtf8(temp));
  env_.set("SPINE_EXECUTABLE", test::spineStubPath());
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  // A conversion whose launcher hangs, as a Spine waiting on a dialog would.
  const std::string body =
      R"({"schemaVersion":1,"skeletonJson":"{\"skeleton\":{\"spine\":\"4.2.11\"}}",)"
      R"("spineVersion":"4.2","projectName":"stub-hang","images":[]})";
  auto reply = std::async(std::launch::async, [&body] {
    return test::exchange("POST /v1/convert HTTP/1.1\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body,
                          test::AfterSending::keepOpen, kConnectorPort, std::chrono::seconds(60));
  });
  std::vector<std::string> launchers;
  for (int i = 0; i < 1200 && (launchers.empty() || fs::is_empty(temp)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    launchers = runningLaunchers();
  }
  ASSERT_EQ(launchers.size(), 1u) << "the launcher did not start";
  ASSERT_FALSE(fs::is_empty(temp));

  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_EQ(SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF), 0);
  EXPECT_TRUE(test::processRunning(launchers[0]));
  EXPECT_FALSE(fs::is_empty(temp));

  EXPECT_EQ(SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF), 0);
  EXPECT_TRUE(fs::is_empty(temp)) << "the workspace outlived the session";
  EXPECT_FALSE(test::processRunning(launchers[0])) << "the launcher outlived the session";
  EXPECT_EQ(text(kStatusLabel), L"● 连接器已断开");
  EXPECT_EQ(reply.wait_for(std::chrono::seconds(60)), std::future_status::ready);
}

// Moving to a monitor of another scale: the system offers the outer size scaled linearly, frame
// and caption with it; the window asks for the size whose client area is exactly 620 x 326 at the
// new DPI, inside the frame the system draws there.
TEST_F(MainWindowTest, AsksForTheSizeThatKeepsTheClientAreaExactAtANewDpi) {
  struct Case {
    int from, to;
  };
  const Case cases[] = {{96, 144}, {96, 120}, {144, 96}, {120, 192}, {192, 168}, {96, 96}};
  bool linearWasOff = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " DPI to " << c.to << " DPI");
    DpiQueries dpi;
    dpi.systemDpi = [&c] { return c.from; };
    dpi.windowDpi = [&c](HWND) { return c.from; };
    HWND window = open(PortTakeover(), dpi);
    RECT outer;
    GetWindowRect(window, &outer);
    const SIZE linear{MulDiv(outer.right - outer.left, c.to, c.from),
                      MulDiv(outer.bottom - outer.top, c.to, c.from)};
    SIZE size = linear;
    EXPECT_EQ(SendMessageW(window, WM_GETDPISCALEDSIZE, c.to, reinterpret_cast<LPARAM>(&size)),
              TRUE);
    RECT expected{0, 0, MulDiv(620, c.to, 96), MulDiv(326, c.to, 96)};
    AdjustWindowRectExForDpi(&expected, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0, c.to);
    EXPECT_EQ(size.cx, expected.right - expected.left);
    EXPECT_EQ(size.cy, expected.bottom - expected.top);
    linearWasOff = linearWasOff || size.cx != linear.cx || size.cy != linear.cy;
    DestroyWindow(window);
  }
  // The frame of this system does not scale linearly, so the cases tell the two sizes apart.
  EXPECT_TRUE(linearWasOff);
}

// The designed layout, for the DPI and text-fitting tests.
struct Placed {
  int id;
  int x, y, width, height;
  bool title;
};
constexpr Placed kLayout[] = {
    {kTitleLabel, 28, 24, 560, 34, true},
    {kExplanationLabel, 29, 65, 560, 24, false},
    {kStatusLabel, 29, 95, 560, 46, false},
    {kPathLabel, 29, 146, 160, 24, false},
    {kPathEdit, 29, 172, 390, 32, false},
    {kChooseFileButton, 430, 170, 160, 36, false},
    {kRestoreDetectionButton, 29, 216, 130, 36, false},
    {kSavePathButton, 460, 216, 130, 36, false},
    {kToggleButton, 460, 265, 130, 36, false},
};

LONG fontHeight(HFONT font) {
  LOGFONTW description{};
  GetObjectW(font, sizeof description, &description);
  return description.lfHeight;
}

void MainWindowTest::expectLaidOutAt(int dpi) const {
  const WindowLook& look = window_->look();
  EXPECT_EQ(look.dpi(), dpi);
  EXPECT_EQ(fontHeight(look.title()), -MulDiv(20, dpi, 72));
  EXPECT_EQ(fontHeight(look.body()), -MulDiv(13, dpi, 72));
  for (const Placed& c : kLayout) {
    SCOPED_TRACE(c.id);
    const RECT r = placement(c.id);
    EXPECT_EQ(r.left, MulDiv(c.x, dpi, 96));
    EXPECT_EQ(r.top, MulDiv(c.y, dpi, 96));
    EXPECT_EQ(r.right - r.left, MulDiv(c.width, dpi, 96));
    EXPECT_EQ(r.bottom - r.top, MulDiv(c.height, dpi, 96));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control(c.id), WM_GETFONT, 0, 0));
    EXPECT_EQ(font, c.title ? look.title() : look.body());
  }
  const auto margins = static_cast<DWORD>(SendMessageW(control(kPathEdit), EM_GETMARGINS, 0, 0));
  EXPECT_EQ(LOWORD(margins), MulDiv(8, dpi, 96));
}

// A window created on a monitor whose DPI is not the system's hears of no change: it has to ask.
TEST_F(MainWindowTest, LaysItselfOutAtTheDpiOfTheMonitorItIsCreatedOn) {
  struct Case {
    int system, monitor;  // monitor 0: the system cannot tell the window's own DPI
    int expected;
  };
  const Case cases[] = {{96, 144, 144}, {144, 96, 96}, {120, 120, 120}, {144, 0, 144}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.system << " DPI system, " << c.monitor << " DPI monitor");
    DpiQueries dpi;
    dpi.systemDpi = [&c] { return c.system; };
    dpi.windowDpi = [&c](HWND) { return c.monitor; };
    HWND window = open(PortTakeover(), dpi);
    expectLaidOutAt(c.expected);
    // The client area of 620 x 326 at that DPI, with the frame and caption the system draws there.
    RECT expected{0, 0, MulDiv(620, c.expected, 96), MulDiv(326, c.expected, 96)};
    AdjustWindowRectExForDpi(&expected, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0,
                             c.expected);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, expected.right - expected.left);
    EXPECT_EQ(outer.bottom - outer.top, expected.bottom - expected.top);
    DestroyWindow(window);
  }
}

TEST_F(MainWindowTest, FollowsADpiChangeWithNewFontsAndTheSameLayout) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  for (int dpi : {144, 192, 96}) {
    SCOPED_TRACE(dpi);
    const RECT suggested{40 + dpi, 30 + dpi, 40 + dpi + MulDiv(640, dpi, 96),
                         30 + dpi + MulDiv(370, dpi, 96)};
    changeDpi(dpi, suggested);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, suggested.left);
    EXPECT_EQ(outer.top, suggested.top);
    EXPECT_EQ(outer.right, suggested.right);
    EXPECT_EQ(outer.bottom, suggested.bottom);

    expectLaidOutAt(dpi);
    // Buttons are drawn with the new font too.
    Canvas canvas(MulDiv(130, dpi, 96), MulDiv(36, dpi, 96));
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = kToggleButton;
    item.hwndItem = control(kToggleButton);
    item.hDC = canvas.dc();
    item.rcItem = {0, 0, MulDiv(130, dpi, 96), MulDiv(36, dpi, 96)};
    SendMessageW(window, WM_DRAWITEM, kToggleButton, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_FONT), GetStockObject(SYSTEM_FONT));  // put back
  }
}

// Every text the status line can show, measured as the static control lays it out (left aligned,
// wrapped at the control's width) with the real body font: it must fit the control's height.
TEST_F(MainWindowTest, EveryStatusTextFitsTheStatusLineAtEveryScale) {
  const char* reasons[] = {"",
                           "无法初始化网络服务",
                           "无法创建本地服务",
                           "端口 27843 已被占用，可能已有连接器正在运行",
                           "连接器启动失败",
                           "无法从外部停止当前连接器进程",
                           "无法停止占用端口 27843 的进程，请以管理员身份运行后重试",
                           "停止占用端口 27843 的进程失败",
                           "进程已停止，但端口 27843 仍未释放",
                           "端口 27843 已被系统保留，可用 netsh int ipv4 show excludedportrange "
                           "protocol=tcp 查看保留的端口范围",
                           "端口 27843 被系统 HTTP 服务（HTTP.sys）占用，无法停止"};
  std::vector<std::wstring> texts;
  for (const char* reason : reasons)
    texts.push_back(toWide(chooseStatusLine(false, false, false, reason).text));
  for (bool spine : {false, true})
    texts.push_back(toWide(chooseStatusLine(true, false, spine, "").text));
  texts.push_back(toWide(chooseStatusLine(false, true, false, "").text));

  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  for (int dpi : {96, 144, 192}) {
    RECT suggested;
    GetWindowRect(window, &suggested);
    changeDpi(dpi, suggested);
    RECT line;
    GetClientRect(control(kStatusLabel), &line);
    HDC dc = GetDC(control(kStatusLabel));
    HGDIOBJ previous = SelectObject(dc, window_->look().body());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    for (const std::wstring& text : texts) {
      RECT needed{0, 0, line.right, 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
                DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_CALCRECT);
      EXPECT_LE(needed.bottom, line.bottom)
          << "at " << dpi << " DPI, " << needed.bottom / metrics.tmHeight
          << " lines do not fit: " << toUtf8(text);
      EXPECT_LE(needed.right, line.right) << toUtf8(text);
    }
    SelectObject(dc, previous);
    ReleaseDC(control(kStatusLabel), dc);
  }
}

TEST_F(MainWindowTest, ADoubleClickOnAButtonActsOnce) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  ShowWindow(window, SW_SHOW);
  HWND toggle = control(kToggleButton);
  const LPARAM inside = MAKELPARAM(10, 10);
  // What a double-click delivers to the button: down, up, double-click, up.
  SendMessageW(toggle, WM_LBUTTONDOWN, MK_LBUTTON, inside);
  SendMessageW(toggle, WM_LBUTTONUP, 0, inside);
  SendMessageW(toggle, WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
  SendMessageW(toggle, WM_LBUTTONUP, 0, inside);
  pumpMessages();
  EXPECT_FALSE(connectorService().plainServer().isRunning());
  EXPECT_EQ(text(kStatusLabel), L"● 连接器已断开");

  // A double-click notification alone does nothing.
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(kToggleButton, BN_DOUBLECLICKED),
               reinterpret_cast<LPARAM>(toggle));
  EXPECT_FALSE(connectorService().plainServer().isRunning());
}

TEST_F(MainWindowTest, KeyboardFocusStartsOnTheToggleAndLeavesAHiddenPathGroup) {
  ASSERT_TRUE(startServiceAtLaunch());
  HWND window = open();
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  pumpMessages();
  EXPECT_EQ(GetFocus(), control(kToggleButton));
  // Space on the focused toggle presses it.
  SendMessageW(control(kToggleButton), WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(control(kToggleButton), WM_KEYUP, VK_SPACE, 0);
  EXPECT_FALSE(connectorService().plainServer().isRunning());
  click(kToggleButton);

  // The focus is on the restore button when Spine turns up and the path group hides.
  SetFocus(control(kRestoreDetectionButton));
  ASSERT_EQ(GetFocus(), control(kRestoreDetectionButton));
  installSpine();
  click(kRestoreDetectionButton);
  ASSERT_FALSE(pathGroupShown());
  EXPECT_EQ(GetFocus(), control(kToggleButton));

  // The window gives the focus back to the toggle, not to a hidden control, when reactivated.
  SetFocus(nullptr);
  SetFocus(window);
  EXPECT_EQ(GetFocus(), control(kToggleButton));
}

// The real open-file dialog, answered by a timer inside its modal loop as a user would: go into
// the folder, then pick the file. The file comes back and the working directory stays put.
std::vector<std::wstring> gDialogAnswers;
int gDialogTicks = 0;

void CALLBACK answerOpenDialog(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = FindWindowW(L"#32770", nullptr);
  if (dialog == nullptr) return;
  constexpr int kFileNameCombo = 0x047c, kFileNameEdit = 0x0480;  // cmb13, edt1
  if (++gDialogTicks > 25) {  // something is wrong: close it rather than hang the test
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  if (gDialogAnswers.empty()) return;
  const std::wstring answer = gDialogAnswers.front();
  if (!SetDlgItemTextW(dialog, kFileNameCombo, answer.c_str()) &&
      !SetDlgItemTextW(dialog, kFileNameEdit, answer.c_str())) {
    return;
  }
  gDialogAnswers.erase(gDialogAnswers.begin());
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

TEST(SpineFileDialog, ReturnsTheChosenFileAndKeepsTheWorkingDirectory) {
  test::TempDirectory dir;
  const fs::path launcher = dir.path() / "Spine" / "Spine.com";
  fs::create_directories(launcher.parent_path());
  writeWholeFile(launcher, "launcher");
  const fs::path before = fs::current_path();
  ASSERT_NE(before, launcher.parent_path());

  gDialogAnswers = {launcher.parent_path().wstring(), L"Spine.com"};
  gDialogTicks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, &answerOpenDialog);
  const std::optional<std::wstring> chosen = systemDialogs().chooseSpineFile(nullptr);
  KillTimer(nullptr, timer);
  ASSERT_TRUE(chosen.has_value()) << "the dialog was cancelled after " << gDialogTicks << " ticks";
  EXPECT_EQ(fs::path(*chosen), launcher);
  EXPECT_EQ(fs::current_path(), before);
}

}  // namespace
}  // namespace connector
