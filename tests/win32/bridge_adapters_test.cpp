// The bridge's Win32 adapters against the real API: files and folders, the
// user's folders, a plain top-level window's state and frame, and the styles.

#include "win32/bridge/bridge_adapters.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>

#include "core/errors.h"
#include "core/str_utils.h"
#include "win32/bridge/styles.h"
#include "win32/bridge/system_error_text.h"
#include "win32/sys_utils.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& p) { return Narrow(p.wstring()); }

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class BridgeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(Widen(TSysUtils::GetTempDirPath())) /
            (L"vtl-bridge-\u00e9-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(root_, ignored_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_, ignored_); }
  std::string At(const std::wstring& name) const { return Utf8(root_ / name); }

  fs::path root_;
  std::error_code ignored_;
  Win32FileSystem files_;
};

TEST_F(BridgeFiles, ExistsAndDelete) {
  fs::create_directories(root_ / L"sub");
  std::ofstream(root_ / L"f.txt") << "x";
  EXPECT_TRUE(files_.FileExists(At(L"f.txt")));
  EXPECT_FALSE(files_.FileExists(At(L"sub")));
  EXPECT_TRUE(files_.DirectoryExists(At(L"sub")));
  EXPECT_FALSE(files_.DirectoryExists(At(L"f.txt")));
  EXPECT_FALSE(files_.FileExists(At(L"missing")));
  EXPECT_FALSE(files_.FileExists(""));
  // Forward slashes in a path with a drive part are the system's business.
  std::string forward = At(L"f.txt");
  std::replace(forward.begin(), forward.end(), '\\', '/');
  EXPECT_TRUE(files_.FileExists(forward));

  EXPECT_TRUE(files_.RemoveFile(At(L"f.txt")));
  EXPECT_FALSE(files_.RemoveFile(At(L"f.txt")));

  fs::create_directories(root_ / L"tree" / L"deep");
  std::ofstream(root_ / L"tree" / L"deep" / L"a.txt") << "a";
  std::ofstream(root_ / L"lone.txt") << "b";
  EXPECT_TRUE(files_.DeleteDirectory(At(L"tree")));
  EXPECT_FALSE(fs::exists(root_ / L"tree"));
  EXPECT_TRUE(files_.DeleteDirectory(At(L"lone.txt")));  // a file path deletes the file
  EXPECT_FALSE(fs::exists(root_ / L"lone.txt"));
}

TEST_F(BridgeFiles, CreateWriteAndForceDirectories) {
  EXPECT_TRUE(files_.ForceDirectories(At(L"a\\b\\c\\")));
  EXPECT_TRUE(fs::is_directory(root_ / L"a" / L"b" / L"c"));
  EXPECT_TRUE(files_.ForceDirectories(At(L"a")));

  std::ofstream(root_ / L"a" / L"out.bin") << "older and longer";
  {
    auto out = files_.CreateOutputFile(At(L"a\\out.bin"));
    const uint8_t bytes[] = {0, 1, 2, 0xFF};
    out->Write(bytes);
    // Exclusive while open.
    EXPECT_THROW(files_.CreateOutputFile(At(L"a\\out.bin")), EFCreateError);
  }
  EXPECT_EQ(ReadBytes(root_ / L"a" / L"out.bin"), std::string("\0\1\2\xFF", 4));

  try {
    files_.CreateOutputFile(At(L"no\\such\\f.txt"));
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + At(L"no\\such\\f.txt") + "\". ", 0), 0u)
        << error.what();
  }
  // The system's text without its full stop or line break.
  const std::string message = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(std::string(".\r\n ").find(message.back()), std::string::npos) << message;
}

// The module with the real adapters: what a page's writeTextFile leaves on disk.
TEST_F(BridgeFiles, CommandsThroughTheModule) {
  struct Posts : WebViewPort {
    void PostWebMessageAsJson(const std::string& json) override { replies.push_back(json); }
    void ExecuteScript(const std::string&) override {}
    double ZoomFactor() const override { return 1; }
    void SetZoomFactor(double) override {}
    std::vector<std::string> replies;
  } webView;
  Win32AppEnvironment environment;
  TBrowserExternalModule module(BridgeServices{.webView = &webView, .environment = &environment, .files = &files_});
  const std::string path = TStrUtils::StringToJsonString(At(L"logs\\today.txt"));
  module.EdgeBrowserWebMessageReceived(R"({"id": 30003, "uuid": "u", "data": {"filePath": )" + path +
                                       R"(, "contents": "a\nb"}})");
  module.EdgeBrowserWebMessageReceived(R"({"id": 90001, "uuid": "v", "data": {"filePath": )" +
                                       TStrUtils::StringToJsonString(At(L"bin\\hi.dat")) +
                                       R"(, "contents": "SGk="}})");
  module.EdgeBrowserWebMessageReceived(R"({"id": 40001, "uuid": "w", "data": {"dirPath": )" +
                                       TStrUtils::StringToJsonString(At(L"logs")) + "}}");
  ASSERT_EQ(webView.replies.size(), 3u);
  EXPECT_EQ(webView.replies[0], R"({"uuid": "u", "success": true, "result": true})");
  EXPECT_EQ(webView.replies[1], R"({"uuid": "v", "success": true, "result": true})");
  EXPECT_EQ(webView.replies[2], R"({"uuid": "w", "success": true, "result": true})");
  EXPECT_EQ(ReadBytes(root_ / L"logs" / L"today.txt"), "\xEF\xBB\xBF" "a\r\nb\r\n");
  EXPECT_EQ(ReadBytes(root_ / L"bin" / L"hi.dat"), "Hi");
}

TEST(BridgeEnvironment, ProgramAndUserFolders) {
  Win32AppEnvironment environment;
  const std::string module = environment.ModuleFileName();
  const std::string dir = environment.ExecutableDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(module.rfind(dir, 0), 0u);
  EXPECT_NE(module.find(".exe"), std::string::npos);
  for (const std::string& folder : {environment.TempDir(), environment.UserDocumentsDir(),
                                    environment.UserDesktopDir(), environment.UserAppDataDir()}) {
    ASSERT_GT(folder.size(), 3u) << folder;
    EXPECT_EQ(folder.back(), '\\') << folder;
    EXPECT_TRUE(fs::is_directory(fs::path(Widen(folder)))) << folder;
  }
  EXPECT_FALSE(environment.CommandLine().empty());
  const std::string separator = environment.DecimalSeparator();
  EXPECT_TRUE(separator == "." || separator == ",") << separator;
}

// A plain top-level window, as the main window is to the adapter.
class BridgeWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VtlBridgeTestWindow";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"Start", WS_OVERLAPPEDWINDOW, 100, 80, 640, 480, nullptr, nullptr,
                            wc.hInstance, nullptr);
    ASSERT_NE(hwnd_, nullptr);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    Pump();
  }
  void TearDown() override { DestroyWindow(hwnd_); }
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  LONG_PTR Style() const { return GetWindowLongPtrW(hwnd_, GWL_STYLE); }
  LONG_PTR ExStyle() const { return GetWindowLongPtrW(hwnd_, GWL_EXSTYLE); }

  HWND hwnd_ = nullptr;
};

TEST_F(BridgeWindow, StyleCaptionAndBounds) {
  Win32WindowService window(hwnd_);
  EXPECT_FALSE(window.StaysOnTop());
  window.SetStaysOnTop(true);
  EXPECT_TRUE(window.StaysOnTop());
  window.SetStaysOnTop(false);
  EXPECT_FALSE(window.StaysOnTop());

  window.SetCaption("Caf\xC3\xA9 \"quoted\" \\ \xF0\x9F\x98\x80");
  EXPECT_EQ(window.Caption(), "Caf\xC3\xA9 \"quoted\" \\ \xF0\x9F\x98\x80");
  window.SetCaption("");
  EXPECT_EQ(window.Caption(), "");

  window.SetBounds({120, 90, 500, 400});
  EXPECT_EQ(window.Bounds(), (WindowBounds{120, 90, 500, 400}));
}

TEST_F(BridgeWindow, StatesShownAndHidden) {
  Win32WindowService window(hwnd_);
  EXPECT_EQ(window.State(), WindowState::Normal);
  const struct {
    WindowState state;
    bool iconic, zoomed;
  } steps[] = {{WindowState::Maximized, false, true},
               {WindowState::Minimized, true, false},
               {WindowState::Normal, false, false}};
  for (const auto& s : steps) {
    window.SetState(s.state);
    Pump();
    EXPECT_EQ(window.State(), s.state);
    EXPECT_EQ(IsIconic(hwnd_) != 0, s.iconic);
    EXPECT_EQ(IsZoomed(hwnd_) != 0, s.zoomed);
  }

  // Minimized and hidden (tray mode); a state set meanwhile waits for the show.
  window.SetState(WindowState::Minimized);
  window.Hide();
  Pump();
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  EXPECT_EQ(window.State(), WindowState::Minimized);
  window.SetState(WindowState::Maximized);
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  EXPECT_EQ(window.State(), WindowState::Maximized);
  window.ShowAndBringToFront();
  Pump();
  EXPECT_TRUE(IsWindowVisible(hwnd_));
  EXPECT_TRUE(IsZoomed(hwnd_));
}

TEST_F(BridgeWindow, BorderStylesAndFullScreen) {
  Win32WindowService window(hwnd_);
  const struct {
    int32_t border;
    LONG_PTR has, lacks, exHas;
  } borders[] = {
      {0, WS_POPUP, WS_CAPTION | WS_THICKFRAME, 0},
      {1, WS_CAPTION | WS_SYSMENU, WS_THICKFRAME | WS_POPUP, 0},
      {2, WS_CAPTION | WS_THICKFRAME, WS_POPUP, 0},
      {3, WS_CAPTION, WS_THICKFRAME, WS_EX_DLGMODALFRAME},
      {4, WS_CAPTION, WS_THICKFRAME, WS_EX_TOOLWINDOW},
      {5, WS_CAPTION | WS_THICKFRAME, 0, WS_EX_TOOLWINDOW},
  };
  for (const auto& b : borders) {
    window.SetBorderStyle(b.border);
    EXPECT_EQ(Style() & b.has, b.has) << b.border;
    EXPECT_EQ(Style() & b.lacks, 0) << b.border;
    EXPECT_EQ(ExStyle() & b.exHas, b.exHas) << b.border;
    EXPECT_TRUE(IsWindowVisible(hwnd_)) << b.border;
  }

  // The application's full-screen commands over this window.
  struct NoWebView : WebViewPort {
    void PostWebMessageAsJson(const std::string&) override {}
    void ExecuteScript(const std::string&) override {}
    double ZoomFactor() const override { return 1; }
    void SetZoomFactor(double) override {}
  } webView;
  TBrowserExternalModule module(BridgeServices{.webView = &webView, .window = &window});
  module.EdgeBrowserWebMessageReceived(R"({"id": 50003, "uuid": "u", "data": {}})");
  Pump();
  EXPECT_TRUE(IsZoomed(hwnd_));
  EXPECT_EQ(Style() & WS_CAPTION, 0);
  module.EdgeBrowserWebMessageReceived(R"({"id": 50004, "uuid": "u", "data": {}})");
  Pump();
  EXPECT_FALSE(IsZoomed(hwnd_));
  EXPECT_EQ(Style() & (WS_CAPTION | WS_THICKFRAME), WS_CAPTION | WS_THICKFRAME);  // no settings: sizeable
}

TEST(BridgeStyles, CatalogueAndColours) {
  for (const StyleInfo& style : CarriedStyles()) EXPECT_NE(FindStylePalette(style.name), nullptr) << style.name;
  EXPECT_EQ(FindStylePalette("Windows"), nullptr);

  StyleManager manager;
  Win32StyleService styles(manager);
  EXPECT_EQ(styles.GetActiveTheme(), "Windows");
  EXPECT_EQ(styles.GetAvailables(true).size(), 40u);
  EXPECT_EQ(styles.GetAvailables(false).front(), "Windows");
  EXPECT_EQ(FormColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOW));

  styles.TrySetStyle("carbon", false);
  EXPECT_EQ(styles.GetActiveTheme(), "Carbon");
  EXPECT_EQ(FormColor(COLOR_WINDOW), FindStylePalette("Carbon")->background);
  EXPECT_EQ(FormColor(COLOR_WINDOWTEXT), FindStylePalette("Carbon")->text);
  EXPECT_EQ(FormColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHT));
  HBRUSH brush = FormBrush(COLOR_3DFACE);
  EXPECT_EQ(brush, FormBrush(COLOR_3DFACE));  // kept, not made anew
  LOGBRUSH info{};
  GetObjectW(brush, sizeof info, &info);
  EXPECT_EQ(info.lbColor, FindStylePalette("Carbon")->face);

  styles.TrySetStyle("No Such Style", false);  // no message, nothing changes
  EXPECT_EQ(styles.GetActiveTheme(), "Carbon");
  styles.TrySetStyle("Windows", false);
  EXPECT_EQ(FormColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOW));
  SetProcessStyleManager(nullptr);
}

}  // namespace
}  // namespace vtl::win32
