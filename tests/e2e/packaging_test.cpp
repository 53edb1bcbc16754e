// A program packed with its own icon and version information, as Windows
// shows them, and the same program signed with a certificate the test makes:
// it still starts, finds its archive and serves its pages.

#include "e2e_fixture.h"

#include <imagehlp.h>
#include <shellapi.h>
#include <winver.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>
#include "exe_info.h"
#include "packer.h"
#include "win32/text.h"

namespace vtl::e2e {
namespace {

constexpr char kName[] = "Packaged Demo";

// A square image in 8 × 8 blocks of colour with a transparent corner, as
// 32-bit rows top-down: blue, green, red, alpha.
std::string Pattern(int size) {
  std::string bgra(static_cast<size_t>(size) * size * 4, '\0');
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      char* p = &bgra[(static_cast<size_t>(y) * size + x) * 4];
      p[2] = static_cast<char>((x / 8) * 37 + size);
      p[1] = static_cast<char>((y / 8) * 53);
      p[0] = static_cast<char>(((x / 8) ^ (y / 8)) * 29);
      p[3] = static_cast<char>((x < size / 4 && y < size / 4) ? 0 : 255);
    }
  return bgra;
}

// An .ico file of 32-bit bitmaps of Pattern, one per size.
std::string Ico(const std::vector<int>& sizes) {
  std::string head, body;
  auto add16 = [](std::string& s, uint16_t v) { s += static_cast<char>(v), s += static_cast<char>(v >> 8); };
  auto add32 = [&](std::string& s, uint32_t v) { add16(s, static_cast<uint16_t>(v)), add16(s, static_cast<uint16_t>(v >> 16)); };
  add16(head, 0), add16(head, 1), add16(head, static_cast<uint16_t>(sizes.size()));
  uint32_t at = static_cast<uint32_t>(6 + 16 * sizes.size());
  for (int s : sizes) {
    std::string image;
    add32(image, 40), add32(image, static_cast<uint32_t>(s)), add32(image, static_cast<uint32_t>(2 * s));
    add16(image, 1), add16(image, 32);
    image.append(24, '\0');
    const std::string bgra = Pattern(s);
    for (int y = s - 1; y >= 0; --y) image.append(bgra, static_cast<size_t>(y) * s * 4, static_cast<size_t>(s) * 4);
    image.append(static_cast<size_t>((s + 31) / 32 * 4) * s, '\0');
    head += static_cast<char>(s), head += static_cast<char>(s), head.append(2, '\0');
    add16(head, 1), add16(head, 32), add32(head, static_cast<uint32_t>(image.size())), add32(head, at);
    at += static_cast<uint32_t>(image.size());
    body += image;
  }
  return head + body;
}

std::string Pixels(HICON icon, int& width, int& height) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  width = bitmap.bmWidth;
  height = bitmap.bmHeight;
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::string pixels(static_cast<size_t>(width) * height * 4, '\0');
  const HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(height), pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels;
}

std::string UnixPath(const fs::path& p) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  static const auto toUnix =
      reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  char* unix = toUnix(fs::absolute(p).c_str());
  if (!unix) return {};
  std::string out(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Wine's shell hands a tray icon to the window of class Shell_TrayWnd it
// finds first, as WM_COPYDATA: this header, then the mask's and the colour
// bitmap's bits (GetBitmapBits, rows top-down). A window of that class made
// here, after Wine's own, is found first and sees every icon a program adds.
struct WineTrayIcon {
  LONG window;
  UINT id, flags, callbackMessage;
  WCHAR tip[128];
  DWORD state, stateMask;
  WCHAR info[256];
  UINT timeoutOrVersion;
  WCHAR infoTitle[64];
  DWORD infoFlags;
  GUID item;
  UINT width, height, planes, bpp;
};

class TrayCapture {
 public:
  TrayCapture() {
    thread_ = std::thread([this] { Run(); });
    WaitUntil([this] { return ready_.load(); });
  }
  ~TrayCapture() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  // "WxH sha256" of each icon added or changed, or why it could not be read.
  std::vector<std::string> Icons() {
    std::lock_guard lock(mutex_);
    return icons_;
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<TrayCapture*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && self) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
      std::string seen = "unreadable: " + std::to_string(data->cbData) + " bytes";
      if (data->cbData >= sizeof(WineTrayIcon) && (data->dwData == NIM_ADD || data->dwData == NIM_MODIFY)) {
        const auto* icon = static_cast<const WineTrayIcon*>(data->lpData);
        const size_t mask = (size_t{icon->width} * icon->height + 15) / 16 * 2;
        const size_t colour = (size_t{icon->planes} * icon->width * icon->height * icon->bpp + 15) / 16 * 2;
        if (icon->bpp == 32 && data->cbData == sizeof(WineTrayIcon) + mask + colour)
          seen = std::to_string(icon->width) + "x" + std::to_string(icon->height) + " " +
                 fake::Sha256Hex(std::string_view(static_cast<const char*>(data->lpData) + sizeof(WineTrayIcon) + mask, colour));
      }
      std::lock_guard lock(self->mutex_);
      self->icons_.push_back(seen);
      return TRUE;
    }
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(window, message, w, l);
  }
  void Run() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ready_ = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }

  std::thread thread_;
  std::atomic<bool> ready_{false};
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::vector<std::string> icons_;
};

class Packaging : public EndToEnd {
 protected:
  // Runs `commands` in a Unix shell beside Wine (Wine starts Unix programs
  // it is handed), with the test's folder as the working folder. Returns the
  // exit status, or -1 when the shell did not finish; `output` gets
  // stdout and stderr.
  int RunUnix(const std::string& commands, std::string& output) {
    const std::string folder = UnixPath(dir_);
    if (folder.empty()) return -1;
    static int runs = 0;
    const std::string name = "unix-" + std::to_string(++runs);
    std::ofstream(dir_ / (name + ".sh"), std::ios::binary)
        << "export PATH=/usr/local/bin:/usr/bin:/bin\ncd " << ShellQuote(folder) << "\n{\n"
        << commands << "\n} > " << name << ".out 2>&1\necho $? > " << name << ".tmp && mv " << name << ".tmp " << name
        << ".rc\n";
    std::wstring commandLine = win32::Widen("/bin/sh " + folder + "/" + name + ".sh");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const fs::path shell = fs::path(L"Z:\\bin\\sh");
    if (!CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(), &startup,
                        &info))
      return -1;
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
    const fs::path rc = dir_ / (name + ".rc");
    if (!WaitUntil([&] { return fs::exists(rc); })) return -1;
    output = ReadFile(dir_ / (name + ".out"));
    return std::stoi(ReadFile(rc));
  }

  fs::path PackWithInfo(const std::string& id) {
    const fs::path project = dir_ / "project";
    fs::create_directories(project / "app");
    std::ofstream(project / "vtl.ini", std::ios::binary) << Settings(id, kName);
    std::ofstream(project / "app/index.html", std::ios::binary) << kPage;
    std::ofstream(dir_ / "icon.ico", std::ios::binary) << Ico({16, 32, 48});
    pack::PackOptions options;
    options.projectDir = project;
    options.output = dir_ / "demo.exe";
    options.runtime = RuntimeExe();
    options.loader = FakeLoaderDll();
    options.package = {{"Icon", Utf8(dir_ / "icon.ico")}, {"FileVersion", "2.1.0.65535"}, {"ProductVersion", "2.1.0.0"},
                       {"CompanyName", "ACME Corp"},      {"FileDescription", "The demo"}, {"ProductName", "Demo Suite"},
                       {"LegalCopyright", "(c) ACME"},    {"LegalTrademarks", "Demo(tm)"}, {"Comments", "Größe – ok"},
                       {"InternalName", "demo-internal"}, {"OriginalFilename", "demo-setup.exe"}};
    pack::Pack(options);
    return options.output;
  }

  static constexpr char kPage[] = "<!doctype html><title>signed</title><p>served</p>\n";
};

TEST_F(Packaging, IconAndVersionInformationAsWindowsShowsThem) {
  const fs::path exe = PackWithInfo(NewAppId("info"));

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, (2u << 16) | 1u);
  EXPECT_EQ(fixed->dwFileVersionLS, 65535u);
  EXPECT_EQ(fixed->dwProductVersionMS, (2u << 16) | 1u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const std::vector<std::pair<const char*, std::string>> strings = {
      {"CompanyName", "ACME Corp"},       {"FileDescription", "The demo"},        {"FileVersion", "2.1.0.65535"},
      {"InternalName", "demo-internal"},  {"LegalCopyright", "(c) ACME"},         {"LegalTrademarks", "Demo(tm)"},
      {"OriginalFilename", "demo-setup.exe"}, {"ProgramID", ""},                  {"ProductName", "Demo Suite"},
      {"ProductVersion", "2.1.0.0"},      {"Comments", "Größe – ok"}};
  for (const auto& [key, expected] : strings) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring path = L"\\StringFileInfo\\040904E4\\" + win32::Widen(key);
    ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars)) << key;
    EXPECT_EQ(win32::Narrow(value), expected) << key;
  }

  // The checksum as the system computes it.
  DWORD headerSum = 0, computedSum = 0;
  ASSERT_EQ(MapFileAndCheckSumW(exe.c_str(), &headerSum, &computedSum), static_cast<DWORD>(CHECKSUM_SUCCESS));
  EXPECT_NE(headerSum, 0u);
  EXPECT_EQ(headerSum, computedSum);

  // Explorer's icon: one group, whose 32 × 32 image is the given one.
  EXPECT_EQ(ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0), 1u);
  HICON large = nullptr, small = nullptr;
  ASSERT_GT(ExtractIconExW(exe.c_str(), 0, &large, &small, 1), 0u);
  ASSERT_NE(large, nullptr);
  int width = 0, height = 0;
  const std::string pixels = Pixels(large, width, height);
  DestroyIcon(large);
  DestroyIcon(small);
  ASSERT_EQ(width, 32);
  ASSERT_EQ(height, 32);
  const std::string expected = Pattern(32);
  size_t differing = 0;
  for (size_t i = 0; i < expected.size(); i += 4)
    differing += expected.compare(i, 4, pixels, i, 4) != 0;
  EXPECT_EQ(differing, 0u) << "pixels unlike the given image";

  // The running program: its window captioned with the name, its window
  // class's icon the given one, and so its tray icon.
  TrayCapture tray;
  const auto scenario =
      Scenario("icons", {"icons", R"(message {"id":14001,"uuid":"t-show","data":{}})", "wait 300"});
  const Process p = Start(exe, scenario.env);
  ASSERT_TRUE(WaitForMainWindow(p, kName));
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  const auto icons = scenario.Read().Of("icon");
  ASSERT_FALSE(icons.empty());
  EXPECT_EQ(icons[0].at(1), "class");
  ASSERT_GE(icons[0].size(), 4u) << "the window class has no icon";
  EXPECT_EQ(icons[0].at(2), "32x32");
  EXPECT_EQ(icons[0].at(3), fake::Sha256Hex(expected));
  ASSERT_TRUE(WaitUntil([&] { return !tray.Icons().empty(); })) << "no tray icon arrived";
  EXPECT_EQ(tray.Icons().front(), "16x16 " + fake::Sha256Hex(Pattern(16)));

  // icoutils, a reader of its own, finds the given images and strings.
  if (UnixPath(dir_).empty()) GTEST_SKIP() << "not under Wine: no Unix programs to run";
  std::string out;
  ASSERT_EQ(RunUnix("wrestool -x -t14 -n MAINICON demo.exe > group.ico && wrestool -x --raw -t16 demo.exe > version.bin",
                    out),
            0)
      << out;
  const std::string ico = Ico({16, 32, 48});
  const auto given = pack::LoadIconBytes(std::vector<uint8_t>(ico.begin(), ico.end()), "given");
  const std::string group = ReadFile(dir_ / "group.ico");
  const auto found = pack::LoadIconBytes(std::vector<uint8_t>(group.begin(), group.end()), "group.ico");
  ASSERT_EQ(found.size(), given.size());
  for (size_t i = 0; i < given.size(); ++i) EXPECT_TRUE(found[i].data == given[i].data) << "image " << i;
  const std::string version = ReadFile(dir_ / "version.bin");
  const std::wstring company = L"ACME Corp";
  EXPECT_NE(version.find(std::string(reinterpret_cast<const char*>(company.data()), company.size() * 2)), std::string::npos);
}

TEST_F(Packaging, SignedProgramVerifiesStartsAndServesItsPages) {
  if (UnixPath(dir_).empty()) GTEST_SKIP() << "not under Wine: osslsigncode runs beside Wine";
  PackWithInfo(NewAppId("signed"));
  std::string out;
  const int status = RunUnix(
      "set -e\n"
      "test -x " + ShellQuote(VTL_E2E_HOST_VTLPACK) + " || { echo 'build the host preset first: no " VTL_E2E_HOST_VTLPACK "'; exit 3; }\n"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Vantrel-Test -keyout key.pem -out cert.pem\n"
      "osslsigncode sign -certs cert.pem -key key.pem -n Demo -in demo.exe -out signed.exe\n"
      "osslsigncode verify -CAfile cert.pem -in signed.exe\n"
      + ShellQuote(VTL_E2E_HOST_VTLPACK) + " info --json signed.exe > info.json\n"
      + ShellQuote(VTL_E2E_HOST_VTLPACK) + " cat signed.exe app/index.html > index.html\n",
      out);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Signature verification: ok"), std::string::npos) << out;
  EXPECT_NE(ReadFile(dir_ / "info.json").find("\"signed\": true"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "index.html"), kPage);

  const auto scenario = Scenario("signed", {"request file:///index.html"});
  const Process p = Start(dir_ / "signed.exe", scenario.env);
  ASSERT_TRUE(WaitForMainWindow(p, kName));
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  const auto responses = scenario.Read().Of("response");
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].at(2), "200");
  EXPECT_EQ(responses[0].at(6), fake::Sha256Hex(kPage));
}

}  // namespace
}  // namespace vtl::e2e
