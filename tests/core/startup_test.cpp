#include "core/startup.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/errors.h"
#include "core/package_password.h"
#include "os/file_source.h"
#include "test_support.h"

namespace vtl {
namespace {

// An operating system in memory that records what start-up asks of it.
class FakePlatform : public StartupPlatform {
 public:
  std::filesystem::path modulePath;
  std::vector<uint8_t> headers;
  std::vector<std::string> arguments;
  std::string language = "en";
  std::vector<int> dialogAnswers;  // modal results to give, in order

  struct Dialog {
    std::string text;
    DialogKind kind;
    std::vector<DialogButton> buttons;
    std::vector<std::string> captions;
    std::string caption;
  };
  std::vector<Dialog> dialogs;
  std::vector<std::string> themes, dirsCreated, dirsDeleted, filesDeleted, launched, log;
  std::map<std::string, std::string> files;
  std::map<std::string, std::optional<std::string>> env;
  bool edgeInstalled = true, installerInstalls = false, passwordTyped = true, mutexExists = false;
  std::vector<std::string> passwordPrompts;
  std::vector<std::vector<int32_t>> busyWindows;
  std::vector<std::pair<std::string, std::string>> elevated;

  std::filesystem::path ModulePath() override { return modulePath; }
  std::span<const uint8_t> ModuleHeaders() override { return headers; }
  std::shared_ptr<const ByteSource> OpenModuleFile() override { return OpenFileSource(modulePath); }
  std::vector<std::string> Arguments() override { return arguments; }
  std::string AnsiToUtf8(std::string_view b) override { return std::string(b); }
  std::string UserLanguageCode() override { return language; }
  int MessageDialog(std::string_view text, DialogKind kind, std::span<const DialogButton> buttons,
                    std::span<const std::string_view> captions, std::string_view caption) override {
    dialogs.push_back({std::string(text), kind, {buttons.begin(), buttons.end()}, {captions.begin(), captions.end()},
                       std::string(caption)});
    log.push_back("dialog");
    if (dialogAnswers.empty()) return ModalResultOf(buttons.front());
    const int r = dialogAnswers.front();
    dialogAnswers.erase(dialogAnswers.begin());
    return r;
  }
  void ApplyTheme(std::string_view name) override { themes.emplace_back(name); }
  std::string LocalAppDataDirPath() override { return "C:\\Users\\u\\AppData\\Local\\"; }
  void ForceDirectories(const std::string& p) override { dirsCreated.push_back(p); }
  bool FileExists(const std::string& p) override { return files.count(p) != 0; }
  void WriteFileAtomically(const std::string& p, std::string_view bytes) override { files[p] = bytes; }
  void RemoveFile(const std::string& p) override {
    filesDeleted.push_back(p);
    files.erase(p);
  }
  bool DeleteDirectory(const std::string& p) override {
    dirsDeleted.push_back(p);
    return true;
  }
  void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) override {
    env[name] = value;
  }
  bool CheckEdgeIsInstalled(const std::string& p) override {
    log.push_back("check");
    return edgeInstalled && files.count(p);
  }
  void ShowInstallerBusyWindow(int32_t a, int32_t b, int32_t c) override { busyWindows.push_back({a, b, c}); }
  uint32_t ShellExecAsAdminAndWait(const std::string& path, const std::string& params) override {
    elevated.emplace_back(path, params);
    if (installerInstalls && files.count(path)) edgeInstalled = true;
    return 0;
  }
  bool ShellExec(const std::string& path, const std::string& args) override {
    launched.push_back(path + "|" + args);
    return true;
  }
  bool RequirePassword(const std::string& name, const std::string& password) override {
    passwordPrompts.push_back(name + "|" + password);
    return passwordTyped;
  }
  bool CreateInstanceMutexAlreadyExists(const std::string& name) override {
    log.push_back("mutex " + name);
    return mutexExists;
  }
};

constexpr const char* kData = "C:\\Users\\u\\AppData\\Local\\demo.app\\";
constexpr const char* kWebView = "C:\\Users\\u\\AppData\\Local\\demo.app\\Win64\\";
constexpr const char* kLoader = "C:\\Users\\u\\AppData\\Local\\demo.app\\Win64\\WebView2LoaderWin64.dll";
constexpr const char* kInstaller = "C:\\Users\\u\\AppData\\Local\\demo.app\\WebView2Installer.exe";

class Startup : public ::testing::Test {
 protected:
  // Writes a package (fake runtime image plus archive) and points the
  // platform at it.
  void Package(const std::string& ini, bool withLoader = true, bool withInstaller = true) {
    std::vector<test::ZipFile> entries = {{"vtl.ini", ini}, {"app/index.html", "<p>hi"}};
    if (withLoader) entries.push_back({"WebView2LoaderWin64.dll", "MZ loader"});
    if (withInstaller) entries.push_back({"WebView2Installer.exe", "MZ installer"});
    auto image = test::MakeRuntimeImage();
    platform_.headers = image;
    const auto zip = test::MakeZip(entries, kPackagePassword);
    image.insert(image.end(), zip.begin(), zip.end());
    platform_.modulePath = dir_ / "app.exe";
    test::WriteFile(platform_.modulePath, image);
  }
  std::optional<int> Load() { return LoadRuntime(platform_, rt_); }

  static constexpr const char* kIni = "[App]\nID=demo.app\nName=Demo\nDirName=app\n";
  test::TempDir dir_;
  FakePlatform platform_;
  Runtime rt_;
};

TEST_F(Startup, BareRuntimeShowsMessage5InTheUsersLanguage) {
  struct Case {
    const char* language;
    const char* text;
    const char* button;
  };
  for (const auto& c : {Case{"en", "This is not a valid Windows application.", "Accept"},
                        Case{"de", "Dies ist keine gültige Windows-Anwendung.", "Akzeptieren"}}) {
    FakePlatform p;
    p.language = c.language;
    p.headers = test::MakeRuntimeImage();
    p.modulePath = dir_ / "bare.exe";
    test::WriteFile(p.modulePath, p.headers);
    Runtime rt;
    EXPECT_EQ(LoadRuntime(p, rt), 0);
    ASSERT_EQ(p.dialogs.size(), 1u);
    EXPECT_EQ(p.dialogs[0].text, c.text);
    EXPECT_EQ(p.dialogs[0].kind, DialogKind::Error);
    EXPECT_EQ(p.dialogs[0].caption, "Error");
    EXPECT_EQ(p.dialogs[0].buttons, std::vector<DialogButton>{DialogButton::Yes});
    EXPECT_EQ(p.dialogs[0].captions, std::vector<std::string>{c.button});
  }
}

TEST_F(Startup, MissingIdentityEndsSilentlyBeforeAnyFolder) {
  for (const char* ini : {"[App]\nID=a\nName=b\n", "[App]\nID=a\nDirName=c\n", "[App]\nName=b\nDirName=c\n", ""}) {
    Package(ini);
    FakePlatform& p = platform_;
    p.dirsCreated.clear();
    Runtime rt;
    EXPECT_EQ(LoadRuntime(p, rt), 0) << ini;
    EXPECT_TRUE(p.dialogs.empty());
    EXPECT_TRUE(p.dirsCreated.empty());
  }
}

TEST_F(Startup, PreparesFoldersLoaderAndEnvironment) {
  Package(kIni);
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(rt_.RuntimeAppID, "demo.app");
  EXPECT_EQ(rt_.RuntimeIndexHtml, "index.html");
  EXPECT_EQ(rt_.RuntimeDataDirPath, kData);
  EXPECT_EQ(rt_.RuntimeWebViewDirPath, kWebView);
  EXPECT_EQ(rt_.WebView2LoaderDllPath, kLoader);
  EXPECT_EQ(platform_.dirsCreated, (std::vector<std::string>{kData, kWebView}));
  EXPECT_EQ(platform_.files[kLoader], "MZ loader");
  EXPECT_EQ(platform_.env["WEBVIEW2_USER_DATA_FOLDER"], std::optional<std::string>(kWebView));
  EXPECT_EQ(platform_.env["WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS"],
            std::optional<std::string>(std::string(kDefaultBrowserArguments) + " --allow-file-access-from-files"));
  EXPECT_EQ(kDefaultBrowserArguments.size(), 162u);
  EXPECT_EQ(platform_.env.at("WEBVIEW2_BROWSER_EXECUTABLE_FOLDER"), std::nullopt);
  EXPECT_EQ(platform_.env.at("WEBVIEW2_RELEASE_CHANNEL_PREFERENCE"), std::nullopt);
  EXPECT_EQ(platform_.env.at("WEBVIEW2_CHANNEL_SEARCH_KIND"), std::nullopt);
  EXPECT_EQ(platform_.env.at("WEBVIEW2_RELEASE_CHANNELS"), std::nullopt);
  EXPECT_TRUE(platform_.themes.empty());
  EXPECT_TRUE(platform_.dialogs.empty());
}

TEST_F(Startup, ExistingLoaderIsKeptAndBrowserArgumentsFollowTheSettings) {
  struct Case {
    const char* value;
    std::string expected;
  };
  // The settings parser drops blanks around values, so only a blank value
  // falls back to the default list.
  for (const auto& c : {Case{" \t ", std::string(kDefaultBrowserArguments) + " --allow-file-access-from-files"},
                        Case{"  --lang=de", "--lang=de --allow-file-access-from-files"}}) {
    Package(std::string(kIni) + "WebviewArguments=" + c.value + "\n");
    platform_.files[kLoader] = "kept";
    Runtime rt;
    EXPECT_EQ(LoadRuntime(platform_, rt), std::nullopt);
    EXPECT_EQ(platform_.files[kLoader], "kept");
    EXPECT_EQ(platform_.env["WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS"], std::optional<std::string>(c.expected));
  }
}

// A package's own arguments keep every byte as written; the runtime only adds
// the switch file: pages need for fetch(), workers and WebAssembly, and only
// when the text does not name it as a whole argument already.
TEST(BrowserArguments, AddsWhatFilePagesNeedOnce) {
  const std::string kAllow = "--allow-file-access-from-files";
  const std::pair<std::string, std::string> cases[] = {
      {"", std::string(kDefaultBrowserArguments) + " " + kAllow},
      {"--lang=de  ", "--lang=de   " + kAllow},
      {kAllow, kAllow},
      {"--lang=de " + kAllow + " --mute-audio", "--lang=de " + kAllow + " --mute-audio"},
      {"--lang=de\t" + kAllow + "=1", "--lang=de\t" + kAllow + "=1"},
      {"--x" + kAllow, "--x" + kAllow + " " + kAllow},
      {kAllow + "-please", kAllow + "-please " + kAllow},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(BrowserArguments(value), expected) << value;
}

TEST_F(Startup, ThemeOtherThanWindowsGoesToTheStyleManager) {
  for (const auto& [value, applied] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"", {}}, {"Theme=Windows\n", {}}, {"Theme=windows\n", {"windows"}}, {"Theme=Nope\n", {"Nope"}}}) {
    Package(std::string(kIni) + value);
    platform_.themes.clear();
    Runtime rt;
    EXPECT_EQ(LoadRuntime(platform_, rt), std::nullopt);
    EXPECT_EQ(platform_.themes, applied) << value;
  }
}

TEST_F(Startup, PackageWithoutLoaderCreatesNoFileAndTheCheckFails) {
  Package(std::string(kIni) + "EdgeInstaller=0\n", false);
  EXPECT_EQ(Load(), 0);
  EXPECT_FALSE(platform_.files.count(kLoader));
  ASSERT_EQ(platform_.dialogs.size(), 1u);
  EXPECT_EQ(platform_.dialogs[0].text.substr(0, 38), "The Microsoft WebView2 runtime is requ");
}

TEST_F(Startup, RuntimeMissingWithoutInstallerOfferShowsMessage6AndKeepsTheFolder) {
  Package(std::string(kIni) + "EdgeInstaller=0\n");
  platform_.edgeInstalled = false;
  EXPECT_EQ(Load(), 0);
  ASSERT_EQ(platform_.dialogs.size(), 1u);
  EXPECT_EQ(platform_.dialogs[0].kind, DialogKind::Error);
  EXPECT_EQ(platform_.dialogs[0].text,
            "The Microsoft WebView2 runtime is required to run this application. This application cannot continue and "
            "will be closed now.");
  EXPECT_TRUE(platform_.dirsDeleted.empty());
  EXPECT_TRUE(platform_.elevated.empty());
}

TEST_F(Startup, DecliningTheInstallationDeletesTheFolderAndShowsMessage8) {
  Package(kIni);
  platform_.edgeInstalled = false;
  platform_.dialogAnswers = {mrCancel};
  EXPECT_EQ(Load(), 0);
  ASSERT_EQ(platform_.dialogs.size(), 2u);
  const auto& q = platform_.dialogs[0];
  EXPECT_EQ(q.kind, DialogKind::Confirmation);
  EXPECT_EQ(q.caption, "Confirm");
  EXPECT_EQ(q.buttons, (std::vector<DialogButton>{DialogButton::Yes, DialogButton::Cancel}));
  EXPECT_EQ(q.captions, (std::vector<std::string>{"Accept", "Cancel"}));
  EXPECT_EQ(platform_.dialogs[1].text, "This application cannot continue and will be closed now.");
  EXPECT_EQ(platform_.dirsDeleted, std::vector<std::string>{kData});
  EXPECT_TRUE(platform_.elevated.empty());
}

TEST_F(Startup, SuccessfulInstallationRelaunchesOnceWithoutArguments) {
  Package(std::string(kIni) + "Password=secret\nInstallFormColor=$00FF00\nInstallIndicatorType=2\n");
  platform_.arguments = {"ignored", "args"};
  platform_.edgeInstalled = false;
  platform_.installerInstalls = true;
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(platform_.elevated, (std::vector<std::pair<std::string, std::string>>{{kInstaller, "/silent /install"}}));
  EXPECT_EQ(platform_.busyWindows, (std::vector<std::vector<int32_t>>{{0x00FF00, 1, 2}}));
  EXPECT_EQ(platform_.filesDeleted, std::vector<std::string>{kInstaller});
  const auto self = platform_.modulePath.u8string();
  EXPECT_EQ(platform_.launched, std::vector<std::string>{std::string(self.begin(), self.end()) + "|"});
  EXPECT_TRUE(platform_.passwordPrompts.empty());
  EXPECT_EQ(platform_.dialogs.size(), 1u);  // the question only
}

TEST_F(Startup, FailedInstallationDeletesTheFolderAndShowsMessage9) {
  enum class Entry { Present, Missing, Damaged };
  for (const Entry entry : {Entry::Present, Entry::Missing, Entry::Damaged}) {
    SCOPED_TRACE(static_cast<int>(entry));
    Package(kIni, true, entry != Entry::Missing);
    if (entry == Entry::Damaged) {
      auto bytes = test::ReadFile(platform_.modulePath);
      const auto at = bytes.find("WebView2Installer.exe");  // the local header's name
      ASSERT_NE(at, std::string::npos);
      bytes[at + 21 + 14] ^= 0x5A;  // inside the encrypted data that follows
      test::WriteFile(platform_.modulePath, bytes);
    }
    FakePlatform p;
    p.modulePath = platform_.modulePath;
    p.headers = platform_.headers;
    p.edgeInstalled = false;
    Runtime rt;
    EXPECT_EQ(LoadRuntime(p, rt), 0);
    // No empty or broken installer file.
    EXPECT_EQ(p.files.count(kInstaller), entry == Entry::Present ? 1u : 0u);
    EXPECT_EQ(p.dirsDeleted, std::vector<std::string>{kData});
    ASSERT_EQ(p.dialogs.size(), 2u);
    EXPECT_EQ(p.dialogs[1].text.substr(0, 31), "You cancel the installation of ");
    EXPECT_TRUE(p.launched.empty());
  }
}

TEST_F(Startup, LeftoverInstallerIsUsedWithoutExtractingAgain) {
  Package(kIni);
  platform_.edgeInstalled = false;
  platform_.installerInstalls = true;
  platform_.files[kInstaller] = "leftover";
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(platform_.elevated.size(), 1u);
  EXPECT_EQ(platform_.launched.size(), 1u);
}

TEST_F(Startup, PasswordPromptUnlessEmptyOrARelaunch) {
  struct Case {
    std::string ini;
    std::vector<std::string> args;
    bool typed;
    std::optional<int> result;
    size_t prompts;
  };
  const std::string withPassword = std::string(kIni) + "Password=S3cret\n";
  const std::vector<Case> cases = {
      {kIni, {}, true, std::nullopt, 0},
      {withPassword, {}, true, std::nullopt, 1},
      {withPassword, {}, false, 0, 1},
      {withPassword, {"demo.app"}, false, std::nullopt, 0},
      {withPassword, {"DEMO.APP"}, false, 0, 1},  // the ID compares exactly
      {withPassword, {"other", "demo.app"}, true, std::nullopt, 1},
      {std::string(kIni) + "Password\n", {}, false, std::nullopt, 0},  // no "=": absent
  };
  for (const auto& c : cases) {
    Package(c.ini);
    FakePlatform p;
    p.modulePath = platform_.modulePath;
    p.headers = platform_.headers;
    p.arguments = c.args;
    p.passwordTyped = c.typed;
    Runtime rt;
    EXPECT_EQ(LoadRuntime(p, rt), c.result) << c.ini;
    ASSERT_EQ(p.passwordPrompts.size(), c.prompts) << c.ini;
    if (c.prompts) {
      EXPECT_EQ(p.passwordPrompts[0], "Demo|S3cret");
    }
  }
}

TEST_F(Startup, UnreadableArchiveOrDamagedLoaderRaise) {
  auto image = test::MakeRuntimeImage();
  platform_.headers = image;
  const std::string junk = "this is no archive at all";
  image.insert(image.end(), junk.begin(), junk.end());
  platform_.modulePath = dir_ / "junk.exe";
  test::WriteFile(platform_.modulePath, image);
  EXPECT_THROW(Load(), EZipError);

  // A loader entry that does not decode leaves no file behind.
  Package(kIni);
  auto bytes = test::ReadFile(platform_.modulePath);
  const auto at = bytes.find("WebView2LoaderWin64.dll");  // the local header's name
  ASSERT_NE(at, std::string::npos);
  bytes[at + 23 + 14] ^= 0x5A;  // inside the encrypted data that follows
  test::WriteFile(platform_.modulePath, bytes);
  Runtime rt;
  EXPECT_THROW(LoadRuntime(platform_, rt), EZipError);
  EXPECT_FALSE(platform_.files.count(kLoader));
}

TEST_F(Startup, SingleInstanceRule) {
  struct Case {
    std::string extra;
    bool mutexExists;
    std::vector<std::string> args;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"", false, {}, true},
      {"", true, {}, false},
      {"", true, {"demo.app"}, false},
      {"", true, {"demo.app", "file:///C:/x/app/page.html"}, true},
      {"", true, {"Demo.App", "file:///C:/x/app/page.html"}, false},
      {"", true, {"demo.app", "a", "b"}, false},
      {"AllowInstances=1\n", true, {}, true},
  };
  for (const auto& c : cases) {
    Package(std::string(kIni) + c.extra);
    FakePlatform p;
    p.modulePath = platform_.modulePath;
    p.headers = platform_.headers;
    p.arguments = c.args;
    p.mutexExists = c.mutexExists;
    Runtime rt;
    ASSERT_EQ(LoadRuntime(p, rt), std::nullopt);
    EXPECT_EQ(PassesSingleInstanceCheck(p, rt), c.passes) << c.extra << c.args.size();
  }
}

}  // namespace
}  // namespace vtl
