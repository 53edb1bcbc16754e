#pragma once

// In-memory stand-ins for the bridge's platform interfaces, and a harness that
// wires them into one TBrowserExternalModule. Header-only, so that tests,
// fuzz targets and benchmarks can share them.

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/bridge/browser_external_module.h"
#include "core/errors.h"
#include "core/platform/app_environment.h"
#include "core/platform/dialog_service.h"
#include "core/platform/file_system.h"
#include "core/platform/style_service.h"
#include "core/platform/window_service.h"
#include "core/str_utils.h"
#include "core/themes.h"

namespace vtl::test {

class RecordingWebView : public WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override { posts.push_back(json); }
  void ExecuteScript(const std::string& script) override { scripts.push_back(script); }
  double ZoomFactor() const override { return zoom; }
  void SetZoomFactor(double factor) override { zoom = factor; }
  double zoom = 1.0;
  std::vector<std::string> posts;
  std::vector<std::string> scripts;
};

// Windows-style paths: "/" and "\" are one separator, runs of them count as
// one, and ASCII letter case is ignored. Drive roots always exist.
class MemoryFileSystem : public FileSystem {
 public:
  static std::string Key(std::string_view path) {
    std::string key;
    for (const char c : path) {
      const char s = c == '/' ? '\\' : c;
      if (s == '\\' && !key.empty() && key.back() == '\\') continue;
      key += s;
    }
    while (key.size() > 1 && key.back() == '\\') key.pop_back();
    return AsciiLower(key);
  }
  static std::string Parent(const std::string& key) {
    const size_t at = key.rfind('\\');
    return at == std::string::npos ? std::string() : key.substr(0, at);
  }
  bool IsDir(const std::string& key) const {
    return dirs.count(key) || (key.size() == 2 && key[1] == ':');
  }

  void AddFile(std::string_view path, std::string bytes) {
    const std::string key = Key(path);
    ForceDirectories(Parent(key));
    files[key] = std::move(bytes);
  }
  std::optional<std::string> Read(std::string_view path) const {
    const auto it = files.find(Key(path));
    return it == files.end() ? std::nullopt : std::optional(it->second);
  }

  bool FileExists(const std::string& path) override { return files.count(Key(path)) != 0; }
  bool DirectoryExists(const std::string& path) override { return IsDir(Key(path)); }
  bool RemoveFile(const std::string& path) override { return files.erase(Key(path)) != 0; }
  bool DeleteDirectory(const std::string& path) override {
    const std::string key = Key(path);
    if (files.erase(key)) return true;
    if (!dirs.count(key)) return false;
    const std::string prefix = key + "\\";
    std::erase_if(files, [&](const auto& f) { return f.first.starts_with(prefix); });
    std::erase_if(dirs, [&](const std::string& d) { return d == key || d.starts_with(prefix); });
    return true;
  }
  bool ForceDirectories(const std::string& path) override {
    std::string key = Key(path);
    if (readOnly) return false;
    for (; !key.empty() && !IsDir(key); key = Parent(key)) {
      if (files.count(key)) return false;
      dirs.insert(key);
    }
    return true;
  }

  class File : public OutputFile {
   public:
    File(MemoryFileSystem& fs, std::string key) : fs_(fs), key_(std::move(key)) {}
    void Write(std::span<const uint8_t> bytes) override {
      std::string& content = fs_.files[key_];
      if (content.size() + bytes.size() > fs_.diskSpace) throw EInOutError("There is not enough space on the disk");
      content.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

   private:
    MemoryFileSystem& fs_;
    std::string key_;
  };
  std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) override {
    const std::string key = Key(path);
    const std::string parent = Parent(key);
    if (readOnly || IsDir(key) || (!parent.empty() && !IsDir(parent)))
      throw EFCreateError("Cannot create file \"" + path + "\". The system cannot find the path specified");
    files[key].clear();
    return std::make_unique<File>(*this, key);
  }

  std::map<std::string, std::string> files;
  std::set<std::string> dirs;
  bool readOnly = false;                  // nothing can be created
  size_t diskSpace = size_t(1) << 40;     // a write beyond it fails
};

struct MemoryEnvironment : AppEnvironment {
  std::string ModuleFileName() override { return modulePath; }
  std::string CommandLine() override { return commandLine; }
  std::string ExecutableDir() override { return exeDir; }
  std::string TempDir() override { return temp; }
  std::string UserDocumentsDir() override { return documents; }
  std::string UserDesktopDir() override { return desktop; }
  std::string UserAppDataDir() override { return appData; }
  std::string DecimalSeparator() override { return decimalSeparator; }

  std::string modulePath = "C:\\App\\My App.exe";
  std::string commandLine = "\"C:\\App\\My App.exe\"";
  std::string exeDir = "C:\\App\\";
  std::string temp = "C:\\Users\\u\\AppData\\Local\\Temp\\";
  std::string documents = "C:\\Users\\u\\Documents\\";
  std::string desktop = "C:\\Users\\u\\Desktop\\";
  std::string appData = "C:\\Users\\u\\AppData\\Roaming\\";
  std::string decimalSeparator = ".";
};

// A window whose every change is also written to `calls`, in order.
struct MemoryWindow : WindowService {
  bool StaysOnTop() override { return onTop; }
  void SetStaysOnTop(bool value) override { onTop = value, calls.push_back(value ? "ontop" : "normal-style"); }
  WindowState State() override { return state; }
  void SetState(WindowState value) override {
    state = value;
    calls.push_back(value == WindowState::Normal ? "state normal"
                    : value == WindowState::Minimized ? "state minimized" : "state maximized");
  }
  std::string Caption() override { return caption; }
  void SetCaption(const std::string& value) override { caption = value; }
  WindowBounds Bounds() override { return bounds; }
  void SetBounds(const WindowBounds& value) override {
    bounds = value;
    bounds.width = std::max(bounds.width, minWidth);
    bounds.height = std::max(bounds.height, minHeight);
  }
  void SetBorderStyle(int32_t value) override { border = value, calls.push_back("border " + std::to_string(value)); }
  void ShowAndBringToFront() override { visible = true, calls.push_back("show"); }
  void Hide() override { visible = false, calls.push_back("hide"); }

  bool onTop = false;
  WindowState state = WindowState::Normal;
  std::string caption = "My App";
  WindowBounds bounds{100, 50, 800, 600};
  int32_t minWidth = 120, minHeight = 40;
  int32_t border = 2;
  bool visible = true;
  std::vector<std::string> calls;
};

// Answers with the queued paths in turn ("" once the queue is empty) and
// keeps what each dialog was asked. The answer comes at once, or, with
// `hold`, when the test calls Close: as a dialog that stays open.
struct MemoryDialogs : DialogService {
  void OpenFile(const FileDialogOptions& options, Done done) override { Answer("open", options, std::move(done)); }
  void SaveFile(const FileDialogOptions& options, Done done) override { Answer("save", options, std::move(done)); }
  void SelectFolder(const std::string& title, Done done) override {
    FileDialogOptions options;
    options.title = title;
    Answer("folder", options, std::move(done));
  }
  void Answer(const std::string& kind, const FileDialogOptions& options, Done done) {
    runs.emplace_back(kind, options);
    std::string answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.erase(answers.begin());
    }
    if (hold) {
      open.emplace_back(std::move(done), std::move(answer));
    } else {
      done(std::move(answer));
    }
  }
  // Closes the dialog opened first among those still open.
  void Close() {
    auto [done, answer] = std::move(open.front());
    open.erase(open.begin());
    done(std::move(answer));
  }
  std::vector<std::string> answers;
  std::vector<std::pair<std::string, FileDialogOptions>> runs;
  bool hold = false;
  std::vector<std::pair<Done, std::string>> open;
};

// The style catalogue without drawing; errors that would be shown are kept.
struct MemoryStyles : StyleService {
  std::string GetActiveTheme() override { return manager.ActiveStyle(); }
  std::vector<std::string> GetAvailables(bool Sorted) override {
    if (Sorted) return StyleManager::SortedNames();
    std::vector<std::string> names{std::string(kSystemStyle)};
    for (const StyleInfo& s : CarriedStyles()) names.emplace_back(s.name);
    return names;
  }
  void TrySetStyle(const std::string& ThemeName, bool ShowError) override {
    if (!manager.TrySetStyle(ThemeName) && ShowError) shown.push_back(StyleManager::NotFoundMessage(ThemeName));
  }
  StyleManager manager;
  std::vector<std::string> shown;
};

// A module wired to every double above.
struct BridgeHarness {
  RecordingWebView webView;
  MemoryEnvironment environment;
  MemoryFileSystem files;
  MemoryWindow window;
  MemoryDialogs dialogs;
  MemoryStyles styles;
  TBrowserExternalModule module{BridgeServices{.webView = &webView,
                                               .environment = &environment,
                                               .files = &files,
                                               .dialogs = &dialogs,
                                               .window = &window,
                                               .styles = &styles}};
  std::vector<std::string> errors;  // what left the handlers unanswered
  bool trayIconShown = false;

  BridgeHarness() {
    module.OnUnhandledError = [this](const std::string& message) { errors.push_back(message); };
    module.TrayIconShown = [this] { return trayIconShown; };
  }

  // Dispatches one message; the reply it got, if exactly one.
  std::optional<std::string> Send(std::string_view message) {
    const size_t before = webView.posts.size();
    module.EdgeBrowserWebMessageReceived(message);
    if (webView.posts.size() != before + 1) return std::nullopt;
    return webView.posts.back();
  }
  // Command `id` with `data` (JSON text) and the uuid "u".
  std::optional<std::string> Call(int id, std::string_view data = "{}") {
    return Send("{\"id\": " + std::to_string(id) + ", \"uuid\": \"u\", \"data\": " + std::string(data) + "}");
  }
  // The reply text for uuid "u".
  static std::string Reply(bool success, std::string_view result) {
    return "{\"uuid\": \"u\", \"success\": " + std::string(success ? "true" : "false") +
           ", \"result\": " + std::string(result) + "}";
  }
};

}  // namespace vtl::test
