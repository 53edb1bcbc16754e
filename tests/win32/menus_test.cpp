// The page's menus on real Win32 menus: the main window's menu bar, the tray
// icon and its pop-up, item images decoded by WIC. They need a display (Xvfb
// under Wine).

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/bridge/browser_external_module.h"
#include "core/str_utils.h"
#include "win32/menus/browser_external_form.h"
#include "win32/module_image.h"
#include "win32/text.h"

namespace vtl::win32 {
namespace {

using Microsoft::WRL::ComPtr;

// ---------------------------------------------------------------------------
// Test pictures, encoded by WIC (ICO by hand: WIC has no icon encoder).

std::string Encode(const GUID& container, UINT width, UINT height) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
      FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(width, height))) {
    return {};
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(frame->SetPixelFormat(&format))) return {};
  const UINT bpp = format == GUID_WICPixelFormat24bppBGR ? 3 : format == GUID_WICPixelFormat32bppBGRA ? 4 : 0;
  if (bpp == 0 && format != GUID_WICPixelFormat8bppIndexed) return {};
  const UINT stride = (width * (bpp ? bpp : 1) + 3) / 4 * 4;
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < stride; ++x) pixels[y * stride + x] = static_cast<BYTE>(bpp ? (x % 3 == 2 ? 0xE0 : 0x20) : 1);
  }
  if (bpp == 0) {
    ComPtr<IWICPalette> palette;
    if (FAILED(factory->CreatePalette(&palette)) ||
        FAILED(palette->InitializePredefined(WICBitmapPaletteTypeFixedWebPalette, FALSE)) ||
        FAILED(frame->SetPalette(palette.Get()))) {
      return {};
    }
  }
  if (FAILED(frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()), pixels.data())) ||
      FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
    return {};
  }
  HGLOBAL memory = nullptr;
  GetHGlobalFromStream(stream.Get(), &memory);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  const void* data = GlobalLock(memory);
  std::string bytes(static_cast<const char*>(data), static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return bytes;
}

// An icon with one 32-bit 16x16 image.
std::string Icon16() {
  std::string bytes;
  auto put16 = [&](WORD v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
  auto put32 = [&](DWORD v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
  const DWORD imageSize = 40 + 16 * 16 * 4 + 16 * 4;
  put16(0), put16(1), put16(1);                                // ICONDIR
  bytes += '\x10', bytes += '\x10', bytes += '\0', bytes += '\0';  // 16x16, no palette
  put16(1), put16(32), put32(imageSize), put32(6 + 16);
  put32(40), put32(16), put32(32), put16(1), put16(32);         // BITMAPINFOHEADER, height doubled
  put32(BI_RGB), put32(0), put32(0), put32(0), put32(0), put32(0);
  for (int i = 0; i < 16 * 16; ++i) put32(0xFF2080E0);
  bytes.append(16 * 4, '\0');  // AND mask
  return bytes;
}

// ---------------------------------------------------------------------------

class RecordingWebView : public WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
  void ExecuteScript(const std::string& script) override { scripts.push_back(script); }
  double ZoomFactor() const override { return 1.0; }
  void SetZoomFactor(double) override {}
  std::vector<std::string> posts;
  std::vector<std::string> scripts;
};

// The main window's part: menu commands go to the form first.
TBrowserExternalForm* g_form = nullptr;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_form && g_form->HandleMenuCommand(message, wParam, lParam)) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateMainWindow() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VantrelMenusTestMain";
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  return CreateWindowExW(0, L"VantrelMenusTestMain", L"Menus test", WS_OVERLAPPEDWINDOW, 100, 100, 500, 300, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

void Pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

class Menus : public ::testing::Test {
 protected:
  Menus() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    main = CreateMainWindow();
    form = std::make_unique<TBrowserExternalForm>(main);
    g_form = form.get();
    module.services().mainMenu = &form->MainMenu();
    module.services().tray = &form->Tray();
    module.OnUnhandledError = [this](const std::string& message) { errors.push_back(message); };
    dir = std::filesystem::temp_directory_path() / ("vtl-menus-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
  }
  ~Menus() override {
    g_form = nullptr;
    form.reset();
    DestroyWindow(main);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    CoUninitialize();
  }

  // The reply's result, an error's text after "!", or "(none)".
  std::string Call(int id, const std::string& data) {
    const size_t before = webView.posts.size();
    module.EdgeBrowserWebMessageReceived("{\"id\": " + std::to_string(id) + ", \"uuid\": \"u\", \"data\": " + data + "}");
    if (webView.posts.size() == before) return "(none)";
    const std::string& reply = webView.posts.back();
    const size_t at = reply.find("\"result\": ");
    const std::string result = reply.substr(at + 10, reply.size() - at - 11);
    return reply.find("\"success\": true") != std::string::npos ? result : "!" + result;
  }
  std::string SetItems(int id, const std::string& list) {
    return Call(id, "{\"items\": " + TStrUtils::StringToJsonString(list) + "}");
  }
  std::string WriteImage(const std::string& name, const std::string& bytes) {
    const auto path = dir / name;
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return Narrow(path.wstring());
  }
  // "caption" for a string item, "-" for a separator; "!" marks a disabled item.
  static std::vector<std::string> Captions(HMENU menu) {
    std::vector<std::string> captions;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t text[256] = {};
      MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
      info.dwTypeData = text;
      info.cch = 255;
      GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
      std::string caption = (info.fType & MFT_SEPARATOR) ? "-" : Narrow(text);
      if (info.fState & MFS_DISABLED) caption += "!";
      captions.push_back(caption);
    }
    return captions;
  }
  static HBITMAP ItemBitmap(HMENU menu, UINT position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    return info.hbmpItem;
  }

  HWND main = nullptr;
  std::unique_ptr<TBrowserExternalForm> form;
  RecordingWebView webView;
  TBrowserExternalModule module{BridgeServices{.webView = &webView}};
  std::vector<std::string> errors;
  std::filesystem::path dir;
};

constexpr int kMainSetItems = 12001, kMainUpdateItem = 12002;
constexpr int kTrayShowIcon = 14001, kTrayHideIcon = 14002, kTraySetItems = 14003, kTrayUpdateItem = 14004;

TEST(MenuImageDecoding, FormatsTheDecoderReads) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"png", Encode(GUID_ContainerFormatPng, 16, 16)},  {"jpeg", Encode(GUID_ContainerFormatJpeg, 16, 16)},
      {"bmp", Encode(GUID_ContainerFormatBmp, 16, 16)},  {"gif", Encode(GUID_ContainerFormatGif, 16, 16)},
      {"ico", Icon16()},                                 {"large png", Encode(GUID_ContainerFormatPng, 300, 40)},
      {"tiny bmp", Encode(GUID_ContainerFormatBmp, 1, 1)},
  };
  MenuImageList images(16);
  for (const Case& c : cases) {
    ASSERT_FALSE(c.bytes.empty()) << c.name << ": the test picture was not encoded";
    EXPECT_NO_THROW(images.Add(c.name, c.bytes)) << c.name;
  }
  ASSERT_EQ(images.Count(), static_cast<int>(std::size(cases)));
  for (int i = 0; i < images.Count(); ++i) {
    for (const bool enabled : {true, false}) {
      DIBSECTION dib{};
      ASSERT_EQ(GetObjectW(images.Bitmap(i, enabled), sizeof dib, &dib), static_cast<int>(sizeof dib)) << i;
      EXPECT_EQ(dib.dsBm.bmWidth, 16);
      EXPECT_EQ(std::abs(dib.dsBm.bmHeight), 16);
      EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
      if (!enabled) {
        // Disabled items show grey.
        const auto* p = static_cast<const BYTE*>(dib.dsBm.bmBits) + (8 * 16 + 8) * 4;
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << images.Name(i);
      }
    }
  }
  EXPECT_EQ(images.Bitmap(images.Count(), true), nullptr);

  for (const std::string& bad : {std::string("not an image"), std::string("\x89PNG\r\n\x1a\n", 8),
                                Encode(GUID_ContainerFormatPng, 16, 16).substr(0, 60)}) {
    EXPECT_THROW(images.Add("bad", bad), EInvalidGraphic);
  }
  EXPECT_EQ(images.Count(), static_cast<int>(std::size(cases)));
  CoUninitialize();
}

TEST_F(Menus, SetItemsBuildsTheMenuBar) {
  EXPECT_EQ(GetMenu(main), nullptr) << "no menu bar before the first setItems";
  EXPECT_EQ(Call(kMainSetItems, "{}"), "!\"Missing menu items\"");
  EXPECT_EQ(GetMenu(main), nullptr);

  const std::string png = WriteImage("open.png", Encode(GUID_ContainerFormatPng, 16, 16));
  const std::string ico = WriteImage("quit.ico", Icon16());
  const std::string list = R"([{"id": 1, "caption": "&File", "items": [
        {"id": 2, "caption": "&Open", "image": )" + TStrUtils::StringToJsonString(png) + R"(},
        {"id": 3, "caption": "-"},
        {"id": 4, "caption": "Quit", "enabled": false, "image": )" + TStrUtils::StringToJsonString(ico) + R"(},
        {"id": 5, "caption": "Recent", "items": []}]},
      {"id": 42, "caption": "&Help"}])";
  ASSERT_EQ(SetItems(kMainSetItems, list), "true");
  const HMENU bar = GetMenu(main);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar, form->MainMenuHandle());
  EXPECT_EQ(Captions(bar), (std::vector<std::string>{"&File", "&Help"}));
  const HMENU file = GetSubMenu(bar, 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Captions(file), (std::vector<std::string>{"&Open", "-", "Quit!", "Recent"}));
  EXPECT_EQ(GetSubMenu(bar, 1), nullptr);
  ASSERT_NE(GetSubMenu(file, 3), nullptr);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(file, 3)), 0);

  // Images: the collection holds both, the disabled item shows the grey twin.
  const MenuImageList& images = form->MainMenuImages();
  ASSERT_EQ(images.Count(), 2);
  EXPECT_EQ(images.Name(0), "MainMenuImg0");
  EXPECT_EQ(images.Name(1), "MainMenuImg1");
  EXPECT_EQ(ItemBitmap(file, 0), images.Bitmap(0, true));
  EXPECT_EQ(ItemBitmap(file, 2), images.Bitmap(1, false));
  EXPECT_EQ(ItemBitmap(file, 1), nullptr);

  // Updates change items in place.
  EXPECT_EQ(Call(kMainUpdateItem, R"({"id": 4, "enabled": true, "caption": "E&xit"})"), "true");
  EXPECT_EQ(Captions(GetSubMenu(GetMenu(main), 0))[2], "E&xit");
  EXPECT_EQ(ItemBitmap(GetSubMenu(GetMenu(main), 0), 2), images.Bitmap(1, true));

  // An empty list keeps the (empty) menu bar.
  EXPECT_EQ(SetItems(kMainSetItems, "[]"), "true");
  EXPECT_EQ(GetMenu(main), form->MainMenuHandle());
  EXPECT_EQ(GetMenuItemCount(GetMenu(main)), 0);
  EXPECT_EQ(form->MainMenuImages().Count(), 0);
  EXPECT_EQ(GetMenuItemCount(form->TrayMenuHandle()), 0) << "the tray menu is not touched";
}

TEST_F(Menus, BadInputNeverBreaksTheMenu) {
  const std::string text = WriteImage("text.png", "this is no picture");
  EXPECT_EQ(SetItems(kMainSetItems, R"([{"id": 1, "caption": "A"}, {"id": 2, "caption": "B", "image": )" +
                                        TStrUtils::StringToJsonString(text) + "}]"),
            "(none)");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(Captions(GetMenu(main)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(form->MainMenuImages().Count(), 0);

  const std::string deep = std::string(10'000, '[') + std::string(10'000, ']');
  EXPECT_EQ(SetItems(kMainSetItems, deep), "!\"Wrong menu items JSON\"");
  EXPECT_EQ(GetMenuItemCount(GetMenu(main)), 0);
  EXPECT_EQ(SetItems(kMainSetItems, R"([{"id": 1, "caption": "A", "items": [{"caption": "no id"}]}])"),
            "!\"Wrong menu item JSON\"");
  EXPECT_EQ(GetMenuItemCount(GetMenu(main)), 0);
}

TEST_F(Menus, ChosenItemsRaiseTheirPageEvent) {
  ASSERT_EQ(SetItems(kMainSetItems, R"([{"id": 1, "caption": "&File", "items": [{"id": 7, "caption": "Seven"},
      {"id": 8, "caption": "Off", "enabled": false}]}, {"id": 42, "caption": "&Help"}])"),
            "true");
  const HMENU bar = GetMenu(main);
  const HMENU file = GetSubMenu(bar, 0);
  // The system reports a chosen item by its menu and position.
  SendMessageW(main, WM_MENUCOMMAND, 0, reinterpret_cast<LPARAM>(file));
  SendMessageW(main, WM_MENUCOMMAND, 1, reinterpret_cast<LPARAM>(file));
  SendMessageW(main, WM_MENUCOMMAND, 0, reinterpret_cast<LPARAM>(bar));
  SendMessageW(main, WM_MENUCOMMAND, 9, reinterpret_cast<LPARAM>(file));
  EXPECT_EQ(webView.scripts, (std::vector<std::string>{"vtl.events.onMainMenuItemClick(\"7\");"}));
  EXPECT_FALSE(form->HandleMenuCommand(WM_MENUCOMMAND, 0, reinterpret_cast<LPARAM>(form->TrayMenuHandle())));
  EXPECT_FALSE(form->HandleMenuCommand(WM_COMMAND, 1, 0));

  // Alt+H while the page has the focus: the web view offers the key, the
  // menu opens on it, and its leaf runs through the system's menu loop.
  webView.scripts.clear();
  ShowWindow(main, SW_SHOW);
  SetForegroundWindow(main);
  Pump(200);
  constexpr LPARAM kAlt = 1 << 29;
  EXPECT_FALSE(form->TranslateShortcut(WM_SYSKEYDOWN, 'X', kAlt)) << "no item has that access key";
  EXPECT_FALSE(form->TranslateShortcut(WM_KEYDOWN, 'H', 0)) << "H without Alt is the page's";
  ASSERT_TRUE(form->TranslateShortcut(WM_SYSKEYDOWN, 'H', kAlt));
  Pump(500);
  EXPECT_EQ(webView.scripts, (std::vector<std::string>{"vtl.events.onMainMenuItemClick(\"42\");"}));
}

TEST_F(Menus, ShortcutsNeedAMenuBar) {
  EXPECT_FALSE(form->TranslateShortcut(WM_SYSKEYDOWN, 'F', 1 << 29));
  ASSERT_EQ(SetItems(kTraySetItems, R"([{"id": 1, "caption": "&File"}])"), "true");
  EXPECT_FALSE(form->TranslateShortcut(WM_SYSKEYDOWN, 'F', 1 << 29)) << "the tray menu has no shortcuts";
}

TEST_F(Menus, TrayIconAndItsMenu) {
  EXPECT_EQ(form->TrayTooltip(), DefaultApplicationTitle(RunningModulePath().wstring()));
  EXPECT_FALSE(form->Tray().IconVisible());

  ASSERT_EQ(SetItems(kTraySetItems, R"([{"id": 1, "caption": "Show"}, {"id": 2, "caption": "-"},
      {"id": 3, "caption": "Quit", "enabled": "false"}])"),
            "true");
  EXPECT_EQ(Captions(form->TrayMenuHandle()), (std::vector<std::string>{"Show", "-", "Quit!"}));
  EXPECT_EQ(GetMenu(main), nullptr) << "the tray menu is no menu bar";
  EXPECT_EQ(Call(kTrayUpdateItem, R"({"id": 1, "caption": "Open"})"), "true");
  EXPECT_EQ(Captions(form->TrayMenuHandle())[0], "Open");
  EXPECT_EQ(Call(kMainUpdateItem, R"({"id": 1})"), "!\"No menu items\"");

  EXPECT_EQ(Call(kTrayShowIcon, "{}"), "true");
  EXPECT_EQ(Call(kTrayShowIcon, "{}"), "true");
  EXPECT_TRUE(form->Tray().IconVisible());
  // Wine's notification area takes the icon on this display.
  EXPECT_TRUE(form->TrayIconAdded());

  // Left click, then a double click: one event each.
  const HWND holder = form->Handle();
  for (const UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
    SendMessageW(holder, WM_APP + 1, 1, mouse);
  }
  // A chosen tray item.
  SendMessageW(holder, WM_MENUCOMMAND, 0, reinterpret_cast<LPARAM>(form->TrayMenuHandle()));
  SendMessageW(holder, WM_MENUCOMMAND, 2, reinterpret_cast<LPARAM>(form->TrayMenuHandle()));
  EXPECT_EQ(webView.scripts, (std::vector<std::string>{"vtl.events.onTrayIconClick();", "vtl.events.onTrayIconClick();",
                                                       "vtl.events.onTrayMenuItemClick(\"1\");"}));

  // The right button opens the pop-up; closing it raises nothing.
  webView.scripts.clear();
  bool popupSeen = false;
  static bool* seen = nullptr;
  seen = &popupSeen;
  const UINT_PTR timer = SetTimer(nullptr, 0, 150, [](HWND, UINT, UINT_PTR, DWORD) {
    if (HWND popup = FindWindowW(L"#32768", nullptr); popup && IsWindowVisible(popup)) *seen = true;
    EndMenu();
  });
  SendMessageW(holder, WM_APP + 1, 1, WM_RBUTTONUP);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(popupSeen);
  EXPECT_TRUE(webView.scripts.empty());

  // The shell restarts: the icon comes back.
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = holder;
  data.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  SendMessageW(holder, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data)) << "the icon was not added again";
  SendMessageW(holder, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);

  EXPECT_EQ(Call(kTrayHideIcon, "{}"), "true");
  EXPECT_FALSE(form->Tray().IconVisible());
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data)) << "the icon is still there";
  EXPECT_EQ(Call(kTrayHideIcon, "{}"), "true");
  // Hidden, the icon does not come back with the taskbar.
  SendMessageW(holder, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
}

TEST(DefaultApplicationTitle, FileNameUpToTheFirstDot) {
  struct Case {
    const wchar_t* path;
    const wchar_t* title;
  };
  const Case cases[] = {
      {L"C:\\Apps\\MYAPP.EXE", L"Myapp"},
      {L"C:\\Apps\\my.app.exe", L"my"},
      {L"D:/x/\u00C9T\u00C9.exe", L"\u00C9t\u00E9"},
      {L"C:\\dots.in\\Name", L"Name"},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(DefaultApplicationTitle(c.path), c.title) << Narrow(c.path);
}

}  // namespace
}  // namespace vtl::win32
