#pragma once

// The Win32 side of the bridge's platform interfaces. Each adapter is thin and
// borrows what it acts on; the main window builds them once and hands their
// addresses to BridgeServices (see AttachBridgeAdapters).

#include "core/bridge/browser_external_module.h"
#include "core/platform/app_environment.h"
#include "core/platform/dialog_service.h"
#include "core/platform/file_system.h"
#include "core/platform/style_service.h"
#include "core/platform/window_service.h"
#include "core/themes.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vtl::win32 {

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool DeleteDirectory(const std::string& path) override;
  bool ForceDirectories(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) override;
};

// The running process and the current user.
class Win32AppEnvironment : public AppEnvironment {
 public:
  std::string ModuleFileName() override;
  std::string CommandLine() override;
  std::string ExecutableDir() override;
  std::string TempDir() override;
  std::string UserDocumentsDir() override;
  std::string UserDesktopDir() override;
  std::string UserAppDataDir() override;
  std::string DecimalSeparator() override;
};

// The common item dialogs, modal to the thread's active window. A dialog is
// posted to the user-interface thread's queue and runs from its message loop,
// after the request's handler has returned, never inside a web view event.
// Each keeps the file type selected when its last run ended; the folder
// dialog keeps the last folder chosen.
class Win32DialogService : public DialogService {
 public:
  void OpenFile(const FileDialogOptions& options, Done done) override;
  void SaveFile(const FileDialogOptions& options, Done done) override;
  void SelectFolder(const std::string& title, Done done) override;

 private:
  // The dialogs themselves, modal: they return when the dialog has closed.
  std::string RunOpenFile(const FileDialogOptions& options);
  std::string RunSaveFile(const FileDialogOptions& options);
  std::string RunSelectFolder(const std::string& title);
  // Runs `dialog` from the queue, then `done` with its answer, unless the
  // service is gone by then.
  void Post(std::function<std::string()> dialog, Done done);

  UINT openTypeIndex_ = 1;
  UINT saveTypeIndex_ = 1;
  std::string lastFolder_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// A top-level window. A state set while the window is hidden is kept and
// applied when the window is shown again.
class Win32WindowService : public WindowService {
 public:
  explicit Win32WindowService(HWND window) : window_(window) {}

  bool StaysOnTop() override;
  void SetStaysOnTop(bool onTop) override;
  WindowState State() override;
  void SetState(WindowState state) override;
  std::string Caption() override;
  void SetCaption(const std::string& caption) override;
  WindowBounds Bounds() override;
  void SetBounds(const WindowBounds& bounds) override;
  void SetBorderStyle(int32_t border) override;
  void ShowAndBringToFront() override;
  void Hide() override;

  HWND handle() const { return window_; }

 private:
  HWND window_;
  std::optional<WindowState> hiddenState_;
};

// The visual styles over the process's StyleManager (the one start-up applied
// the settings' theme with). Applying a style recolours every top-level
// window of the process; see styles.h for what a style changes.
class Win32StyleService : public StyleService {
 public:
  explicit Win32StyleService(StyleManager& manager);
  std::string GetActiveTheme() override;
  std::vector<std::string> GetAvailables(bool Sorted) override;
  void TrySetStyle(const std::string& ThemeName, bool ShowError) override;

 private:
  StyleManager& manager_;
};

// The adapters of one main window.
struct BridgeAdapters {
  BridgeAdapters(HWND mainWindow, StyleManager& styleManager) : window(mainWindow), styles(styleManager) {}
  Win32FileSystem files;
  Win32AppEnvironment environment;
  Win32DialogService dialogs;
  Win32WindowService window;
  Win32StyleService styles;
};

// Points the services' files, environment, dialogs, window and styles at the adapters.
void AttachBridgeAdapters(BridgeAdapters& adapters, BridgeServices& services);

}  // namespace vtl::win32
