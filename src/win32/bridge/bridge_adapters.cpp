#include "win32/bridge/bridge_adapters.h"

#include <shobjidl.h>

#include <algorithm>
#include <climits>

#include "core/bridge/app_path.h"
#include "core/errors.h"
#include "win32/bridge/styles.h"
#include "win32/bridge/system_error_text.h"
#include "win32/forms/message_dialog.h"
#include "win32/sys_utils.h"
#include "win32/text.h"
#include "win32/ui_queue.h"

namespace vtl::win32 {
namespace {

struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The attributes of what the path names, through a symbolic link to its target.
bool TargetAttributes(const std::string& path, DWORD& attributes) {
  const std::wstring wide = Widen(path);
  attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  const HandleCloser file{CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  BY_HANDLE_FILE_INFORMATION info{};
  if (file.handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.handle, &info)) return false;
  attributes = info.dwFileAttributes;
  return true;
}

class Win32OutputFile : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE file) : file_(file) {}
  ~Win32OutputFile() override { CloseHandle(file_); }
  void Write(std::span<const uint8_t> bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, bytes.data(), chunk, &written, nullptr) || written == 0)
        throw EInOutError(SystemErrorText(GetLastError()));
      bytes = bytes.subspan(written);
    }
  }

 private:
  HANDLE file_;
};

template <typename Dialog>
struct ComPtr {
  Dialog* p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  Dialog* operator->() const { return p; }
};

// COM for the calling thread, for as long as a dialog runs; a thread that
// has it already keeps its own.
struct ComScope {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

std::string ResultPath(IFileDialog* dialog) {
  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(&item.p)) || item.p == nullptr) return "";
  wchar_t* path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || path == nullptr) return "";
  std::string result = Narrow(path);
  CoTaskMemFree(path);
  return result;
}

// Runs an open or save dialog with the options and the remembered type.
std::string RunFileDialog(const CLSID& kind, const FileDialogOptions& options, FILEOPENDIALOGOPTIONS flags,
                          UINT& typeIndex) {
  ComScope com;
  ComPtr<IFileDialog> dialog;
  if (FAILED(CoCreateInstance(kind, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                              reinterpret_cast<void**>(&dialog.p))))
    return "";
  dialog->SetOptions(flags);
  dialog->SetFileName(Widen(options.fileName).c_str());
  if (!options.title.empty()) dialog->SetTitle(Widen(options.title).c_str());
  std::vector<std::wstring> texts;
  texts.reserve(options.fileTypes.size() * 2);
  std::vector<COMDLG_FILTERSPEC> specs;
  for (const FileType& type : options.fileTypes) {
    texts.push_back(Widen(type.name));
    texts.push_back(Widen(type.mask));
  }
  for (size_t i = 0; i < texts.size(); i += 2) specs.push_back({texts[i].c_str(), texts[i + 1].c_str()});
  if (!specs.empty()) {
    dialog->SetFileTypes(static_cast<UINT>(specs.size()), specs.data());
    dialog->SetFileTypeIndex(std::min<UINT>(std::max<UINT>(typeIndex, 1), static_cast<UINT>(specs.size())));
  }
  const HRESULT shown = dialog->Show(GetActiveWindow());
  UINT selected = 0;
  if (!specs.empty() && SUCCEEDED(dialog->GetFileTypeIndex(&selected)) && selected > 0) typeIndex = selected;
  return SUCCEEDED(shown) ? ResultPath(dialog.p) : "";
}

// WindowBorder ordinals as frame styles: the style bits and extended bits.
void BorderStyles(int32_t border, LONG_PTR& style, LONG_PTR& exStyle) {
  constexpr LONG_PTR kFrame = WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_POPUP |
                              WS_BORDER | WS_DLGFRAME;
  constexpr LONG_PTR kExFrame = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE;
  style &= ~kFrame;
  exStyle &= ~kExFrame;
  switch (static_cast<BorderStyle>(border)) {
    case BorderStyle::None: style |= WS_POPUP; break;
    case BorderStyle::Single: style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX; break;
    case BorderStyle::Dialog:
      style |= WS_CAPTION | WS_SYSMENU;
      exStyle |= WS_EX_DLGMODALFRAME;
      break;
    case BorderStyle::ToolWindow:
      style |= WS_CAPTION | WS_SYSMENU;
      exStyle |= WS_EX_TOOLWINDOW;
      break;
    case BorderStyle::SizeToolWin:
      style |= WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
      exStyle |= WS_EX_TOOLWINDOW;
      break;
    default: style |= WS_OVERLAPPEDWINDOW; break;  // sizeable, and anything unknown
  }
}

// Shows the window in that state. Normal means the normal bounds, also for a
// window that was maximized before it was minimized.
void ApplyState(HWND window, WindowState state) {
  switch (state) {
    case WindowState::Minimized: ShowWindow(window, SW_MINIMIZE); break;
    case WindowState::Maximized: ShowWindow(window, SW_MAXIMIZE); break;
    default: {
      WINDOWPLACEMENT placement{};
      placement.length = sizeof placement;
      if (!GetWindowPlacement(window, &placement)) {
        ShowWindow(window, SW_SHOWNORMAL);
        break;
      }
      placement.flags &= ~static_cast<UINT>(WPF_RESTORETOMAXIMIZED);
      placement.showCmd = SW_SHOWNORMAL;
      SetWindowPlacement(window, &placement);
      // Systems that keep the flag restore to maximized first.
      if (IsZoomed(window)) ShowWindow(window, SW_RESTORE);
      break;
    }
  }
}

// The outer size limits the window gives the system (WM_GETMINMAXINFO): the
// smallest and largest tracking sizes, with no limit where it sets none.
SIZE ClampToSizeLimits(HWND window, SIZE size) {
  MINMAXINFO info{};
  info.ptMaxTrackSize = {LONG_MAX, LONG_MAX};
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  size.cx = std::max(std::min(size.cx, info.ptMaxTrackSize.x), info.ptMinTrackSize.x);
  size.cy = std::max(std::min(size.cy, info.ptMaxTrackSize.y), info.ptMinTrackSize.y);
  return size;
}

// A placement's normal rectangle is in workspace coordinates (the work area's
// corner is 0, 0) unless the window is a tool window; these give the offset
// from workspace to screen coordinates.
POINT WorkspaceOrigin(HWND window) {
  if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) return {0, 0};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return {0, 0};
  return {monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top};
}

}  // namespace


// Files and folders

bool Win32FileSystem::FileExists(const std::string& path) {
  DWORD attributes = 0;
  return TargetAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32FileSystem::DirectoryExists(const std::string& path) {
  DWORD attributes = 0;
  return TargetAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::RemoveFile(const std::string& path) { return DeleteFileW(Widen(path).c_str()) != 0; }

bool Win32FileSystem::DeleteDirectory(const std::string& path) { return TSysUtils::DeleteDirectory(path); }

bool Win32FileSystem::ForceDirectories(const std::string& path) {
  std::string folder = path;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.empty() || DirectoryExists(folder)) return !folder.empty();
  // A drive ("C:") or a share ("\\server\share") is there or it is not.
  const std::string parent = ExtractFilePath(folder);
  if (folder.size() <= 2 || parent.empty() || parent == folder + "\\") return DirectoryExists(folder + "\\");
  ForceDirectories(parent);
  return CreateDirectoryW(Widen(folder).c_str(), nullptr) != 0 || DirectoryExists(folder);
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateOutputFile(const std::string& path) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorText(GetLastError()));
  return std::make_unique<Win32OutputFile>(file);
}

// The process and the user

std::string Win32AppEnvironment::ModuleFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

std::string Win32AppEnvironment::CommandLine() { return Narrow(GetCommandLineW()); }

std::string Win32AppEnvironment::ExecutableDir() { return ExtractFilePath(ModuleFileName()); }

std::string Win32AppEnvironment::TempDir() { return TSysUtils::GetTempDirPath(); }
std::string Win32AppEnvironment::UserDocumentsDir() { return TSysUtils::GetUserDocumentsDirPath(); }
std::string Win32AppEnvironment::UserDesktopDir() { return TSysUtils::GetUserDesktopDirPath(); }
std::string Win32AppEnvironment::UserAppDataDir() { return TSysUtils::GetUserAppDataDirPath(); }

std::string Win32AppEnvironment::DecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) <= 1) return ".";
  return Narrow(separator);
}

// Dialogs

void Win32DialogService::Post(std::function<std::string()> dialog, Done done) {
  QueueOnUiThread([alive = std::weak_ptr<int>(alive_), dialog = std::move(dialog), done = std::move(done)] {
    if (alive.expired()) return;
    std::string answer = dialog();
    if (!alive.expired()) done(std::move(answer));
  });
}

void Win32DialogService::OpenFile(const FileDialogOptions& options, Done done) {
  Post([this, options] { return RunOpenFile(options); }, std::move(done));
}

void Win32DialogService::SaveFile(const FileDialogOptions& options, Done done) {
  Post([this, options] { return RunSaveFile(options); }, std::move(done));
}

void Win32DialogService::SelectFolder(const std::string& title, Done done) {
  Post([this, title] { return RunSelectFolder(title); }, std::move(done));
}

std::string Win32DialogService::RunOpenFile(const FileDialogOptions& options) {
  return RunFileDialog(CLSID_FileOpenDialog, options, 0, openTypeIndex_);
}

std::string Win32DialogService::RunSaveFile(const FileDialogOptions& options) {
  return RunFileDialog(CLSID_FileSaveDialog, options, options.overwritePrompt ? FILEOPENDIALOGOPTIONS{FOS_OVERWRITEPROMPT} : FILEOPENDIALOGOPTIONS{0},
                       saveTypeIndex_);
}

std::string Win32DialogService::RunSelectFolder(const std::string& title) {
  FileDialogOptions options;
  options.title = title;
  options.fileName = lastFolder_;
  UINT noTypes = 1;
  std::string folder = RunFileDialog(CLSID_FileOpenDialog, options,
                                     FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST, noTypes);
  if (!folder.empty()) lastFolder_ = folder;
  return folder;
}

// The window

bool Win32WindowService::StaysOnTop() { return (GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void Win32WindowService::SetStaysOnTop(bool onTop) {
  SetWindowPos(window_, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

WindowState Win32WindowService::State() {
  if (!IsWindowVisible(window_) && hiddenState_) return *hiddenState_;
  if (IsIconic(window_)) return WindowState::Minimized;
  if (IsZoomed(window_)) return WindowState::Maximized;
  return WindowState::Normal;
}

void Win32WindowService::SetState(WindowState state) {
  // A hidden window stays hidden; it takes the state when it is shown.
  if (!IsWindowVisible(window_)) {
    hiddenState_ = state;
    return;
  }
  hiddenState_.reset();
  ApplyState(window_, state);
}

std::string Win32WindowService::Caption() {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window_, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void Win32WindowService::SetCaption(const std::string& caption) { SetWindowTextW(window_, Widen(caption).c_str()); }

// A minimised window (hidden to the tray or not) stands in the system's
// placeholder place; its bounds are those it will be restored to.
WindowBounds Win32WindowService::Bounds() {
  RECT r{};
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (IsIconic(window_) && GetWindowPlacement(window_, &placement)) {
    const POINT origin = WorkspaceOrigin(window_);
    r = placement.rcNormalPosition;
    OffsetRect(&r, origin.x, origin.y);
  } else {
    GetWindowRect(window_, &r);
  }
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The size limits hold in every border style: the window's own
// WM_WINDOWPOSCHANGING applies them where the system does not. A minimised
// window keeps the change for its restore.
void Win32WindowService::SetBounds(const WindowBounds& b) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!IsIconic(window_) || !GetWindowPlacement(window_, &placement)) {
    SetWindowPos(window_, nullptr, b.left, b.top, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  const SIZE size = ClampToSizeLimits(window_, {b.width, b.height});
  const POINT origin = WorkspaceOrigin(window_);
  placement.rcNormalPosition = {b.left - origin.x, b.top - origin.y, b.left - origin.x + size.cx,
                                b.top - origin.y + size.cy};
  placement.flags = 0;
  // Stays minimised, and hidden when it was.
  placement.showCmd = IsWindowVisible(window_) ? SW_SHOWMINNOACTIVE : SW_HIDE;
  SetWindowPlacement(window_, &placement);
}

void Win32WindowService::SetBorderStyle(int32_t border) {
  LONG_PTR style = GetWindowLongPtrW(window_, GWL_STYLE);
  LONG_PTR exStyle = GetWindowLongPtrW(window_, GWL_EXSTYLE);
  BorderStyles(border, style, exStyle);
  SetWindowLongPtrW(window_, GWL_STYLE, style);
  SetWindowLongPtrW(window_, GWL_EXSTYLE, exStyle);
  SetWindowPos(window_, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A maximised window keeps its rectangle through a change of frame. Without
  // a frame (full screen) it covers its whole monitor, as a window maximised
  // without a frame does, and not the work area and the old frame.
  if (IsZoomed(window_) && (style & WS_CAPTION) != WS_CAPTION && (style & WS_THICKFRAME) == 0) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const RECT& m = monitor.rcMonitor;
      SetWindowPos(window_, nullptr, m.left, m.top, m.right - m.left, m.bottom - m.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

void Win32WindowService::ShowAndBringToFront() {
  const bool wasHidden = !IsWindowVisible(window_);
  const std::optional<WindowState> state = hiddenState_;
  hiddenState_.reset();
  if (wasHidden) {
    if (state) ApplyState(window_, *state);
    else ShowWindow(window_, SW_SHOW);
  }
  SetForegroundWindow(window_);
  BringWindowToTop(window_);
}

void Win32WindowService::Hide() {
  if (IsWindowVisible(window_)) hiddenState_ = State();
  ShowWindow(window_, SW_HIDE);
}

// Styles

Win32StyleService::Win32StyleService(StyleManager& manager) : manager_(manager) { SetProcessStyleManager(&manager); }

std::string Win32StyleService::GetActiveTheme() { return manager_.ActiveStyle(); }

std::vector<std::string> Win32StyleService::GetAvailables(bool Sorted) {
  if (Sorted) return StyleManager::SortedNames();
  std::vector<std::string> names{std::string(kSystemStyle)};
  for (const StyleInfo& style : CarriedStyles()) names.emplace_back(style.name);
  return names;
}

void Win32StyleService::TrySetStyle(const std::string& ThemeName, bool ShowError) {
  if (!manager_.TrySetStyle(ThemeName)) {
    if (ShowError) {
      constexpr DialogButton kOk[] = {DialogButton::OK};
      LocalizedMessageDlg(StyleManager::NotFoundMessage(ThemeName), DialogKind::Error, kOk, {}, "Error");
    }
    return;
  }
  SetProcessStyleManager(&manager_);
  ApplyStyleToProcessWindows();
}

void AttachBridgeAdapters(BridgeAdapters& adapters, BridgeServices& services) {
  services.files = &adapters.files;
  services.environment = &adapters.environment;
  services.dialogs = &adapters.dialogs;
  services.window = &adapters.window;
  services.styles = &adapters.styles;
}

}  // namespace vtl::win32
