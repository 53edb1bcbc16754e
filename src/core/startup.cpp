#include "core/startup.h"

#include "core/errors.h"
#include "core/exe_utils.h"
#include "core/localized_messages.h"
#include "core/package_password.h"

namespace vtl {
namespace {

constexpr DialogButton kErrorButtons[] = {DialogButton::Yes};
constexpr DialogButton kQuestionButtons[] = {DialogButton::Yes, DialogButton::Cancel};

class Messages {
 public:
  explicit Messages(StartupPlatform& p) : platform_(p), language_(p.UserLanguageCode()) {}

  std::string_view Text(int index) const { return GetLocalizedMessage(index, language_); }

  // The error form: message N, caption 1, one button labelled with message 3.
  void ShowError(int index) {
    const std::string_view captions[] = {Text(kMsgAccept)};
    platform_.MessageDialog(Text(index), DialogKind::Error, kErrorButtons, captions, Text(kMsgErrorCaption));
  }

  // The question form: Yes and Cancel labelled with messages 3 and 4.
  int Ask(int index) {
    const std::string_view captions[] = {Text(kMsgAccept), Text(kMsgCancel)};
    return platform_.MessageDialog(Text(index), DialogKind::Confirmation, kQuestionButtons, captions,
                                   Text(kMsgConfirmCaption));
  }

 private:
  StartupPlatform& platform_;
  std::string language_;
};

std::string WithBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

bool IsBlankText(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > 0x20) return false;
  return true;
}

// Writes an archive entry to a file in one piece. A package without the entry
// gets no file at all, and a damaged entry raises instead of leaving a
// broken file that later starts would trust.
void ExtractEntryToFile(StartupPlatform& platform, const Runtime& rt, std::string_view entry, const std::string& path) {
  const int64_t index = rt.RuntimeZip.FindEntry(entry);
  if (index < 0) return;
  std::string bytes, error;
  if (!rt.RuntimeZip.ExtractEntry(index, bytes, &error))
    throw EZipError("Cannot extract \"" + std::string(entry) + "\" from the package: " + error);
  platform.WriteFileAtomically(path, bytes);
}

// The WebView2 runtime is missing: refuse, or offer the installation. Every
// way through ends the process.
int InstallWebView2(StartupPlatform& platform, Runtime& rt, Messages& messages) {
  const auto& ini = rt.RuntimeINI;
  if (!ini.ReadBool(kAppSection, "EdgeInstaller", true)) {
    messages.ShowError(kMsgRuntimeRequired);
    return 0;
  }
  if (messages.Ask(kMsgInstallQuestion) == mrCancel) {
    platform.DeleteDirectory(rt.RuntimeDataDirPath);
    messages.ShowError(kMsgDeclined);
    return 0;
  }
  const std::string installer = rt.RuntimeDataDirPath + std::string(kInstallerEntry);
  if (!platform.FileExists(installer)) {
    // A damaged entry gives no installer file, so the installer fails to
    // start and the failed path below reports it (message 9) and deletes the
    // data folder: no error of its own, and no broken file left.
    try {
      ExtractEntryToFile(platform, rt, kInstallerEntry, installer);
    } catch (const EZipError&) {
    }
  }

  platform.ShowInstallerBusyWindow(ini.ReadInteger(kAppSection, "InstallFormColor", static_cast<int32_t>(0xFF00001A)),
                                   ini.ReadInteger(kAppSection, "InstallIndicatorColor", 1),
                                   ini.ReadInteger(kAppSection, "InstallIndicatorType", 0));
  platform.ShellExecAsAdminAndWait(installer, "/silent /install");

  if (platform.CheckEdgeIsInstalled(rt.WebView2LoaderDllPath)) {
    if (platform.FileExists(installer)) platform.RemoveFile(installer);
    const auto self = platform.ModulePath().u8string();
    platform.ShellExec(std::string(self.begin(), self.end()), "");
    return 0;
  }
  platform.DeleteDirectory(rt.RuntimeDataDirPath);
  messages.ShowError(kMsgInstallFailed);
  return 0;
}

// Whether the argument text holds the switch as a whole argument, with or
// without a value.
bool NamesSwitch(std::string_view arguments, std::string_view name) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (size_t at = arguments.find(name); at != std::string_view::npos; at = arguments.find(name, at + 1)) {
    const size_t end = at + name.size();
    if ((at == 0 || blank(arguments[at - 1])) &&
        (end == arguments.size() || blank(arguments[end]) || arguments[end] == '='))
      return true;
  }
  return false;
}

}  // namespace

int ModalResultOf(DialogButton b) {
  switch (b) {
    case DialogButton::Yes: return mrYes;
    case DialogButton::No: return mrNo;
    case DialogButton::OK: return mrOk;
    case DialogButton::Cancel: return mrCancel;
    case DialogButton::Abort: return mrAbort;
    case DialogButton::Retry: return mrRetry;
    case DialogButton::Ignore: return mrIgnore;
    case DialogButton::All: return mrAll;
    case DialogButton::NoToAll: return mrNoToAll;
    case DialogButton::YesToAll: return mrYesToAll;
    case DialogButton::Help: return mrHelp;
    case DialogButton::Close: return mrClose;
  }
  return mrNone;
}

bool IsRelaunch(const Runtime& rt) { return !rt.arguments.empty() && rt.arguments[0] == rt.RuntimeAppID; }

std::optional<std::string> RelaunchStartUrl(const Runtime& rt) {
  if (rt.arguments.size() == 2 && IsRelaunch(rt)) return rt.arguments[1];
  return std::nullopt;
}

std::optional<int> LoadRuntime(StartupPlatform& platform, Runtime& rt) {
  rt.arguments = platform.Arguments();

  TExeUtils exe(platform.ModulePath(), platform.ModuleHeaders());
  if (!exe.ExeHasAttachedStub()) {
    Messages(platform).ShowError(kMsgNotAnApplication);
    return 0;
  }
  rt.RuntimeZip.SetPassword(kPackagePassword);
  // Only the end records and the central directory are read here; every
  // entry is read from the file when it is asked for.
  rt.RuntimeZip.Open(exe.AttachedArchive(platform.OpenModuleFile()));

  LoadRuntimeINI(rt.RuntimeZip, rt.RuntimeINI, [&](std::string_view b) { return platform.AnsiToUtf8(b); });
  const auto& ini = rt.RuntimeINI;
  rt.RuntimeAppID = ini.ReadString(kAppSection, "ID", "");
  rt.RuntimeAppName = ini.ReadString(kAppSection, "Name", "");
  rt.RuntimeAppDirName = ini.ReadString(kAppSection, "DirName", "");
  rt.RuntimeIndexHtml = ini.ReadString(kAppSection, "IndexHtml", "index.html");
  if (rt.RuntimeAppID.empty() || rt.RuntimeAppName.empty() || rt.RuntimeAppDirName.empty()) return 0;

  const std::string theme = ini.ReadString(kAppSection, "Theme", "Windows");
  if (theme != "Windows") platform.ApplyTheme(theme);

  rt.RuntimeDataDirPath = WithBackslash(platform.LocalAppDataDirPath() + rt.RuntimeAppID);
  rt.RuntimeWebViewDirPath = rt.RuntimeDataDirPath + "Win64\\";
  rt.WebView2LoaderDllPath = rt.RuntimeWebViewDirPath + std::string(kLoaderEntry);
  platform.ForceDirectories(rt.RuntimeDataDirPath);
  platform.ForceDirectories(rt.RuntimeWebViewDirPath);
  if (!platform.FileExists(rt.WebView2LoaderDllPath))
    ExtractEntryToFile(platform, rt, kLoaderEntry, rt.WebView2LoaderDllPath);

  platform.SetEnvironmentValue("WEBVIEW2_USER_DATA_FOLDER", rt.RuntimeWebViewDirPath);
  const std::string arguments = ini.ReadString(kAppSection, "WebviewArguments", "");
  platform.SetEnvironmentValue("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", BrowserArguments(arguments));
  platform.SetEnvironmentValue("WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", std::nullopt);
  platform.SetEnvironmentValue("WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", std::nullopt);
  // Newer loaders read these too: a preview channel the user chose for other
  // programs must not reach this one.
  platform.SetEnvironmentValue("WEBVIEW2_CHANNEL_SEARCH_KIND", std::nullopt);
  platform.SetEnvironmentValue("WEBVIEW2_RELEASE_CHANNELS", std::nullopt);

  if (!platform.CheckEdgeIsInstalled(rt.WebView2LoaderDllPath)) {
    Messages messages(platform);
    return InstallWebView2(platform, rt, messages);
  }

  if (IsRelaunch(rt)) return std::nullopt;
  const std::string password = ini.ReadString(kAppSection, "Password", "");
  if (!password.empty() && !platform.RequirePassword(rt.RuntimeAppName, password)) return 0;
  return std::nullopt;
}

std::string BrowserArguments(std::string_view webviewArguments) {
  std::string arguments(IsBlankText(webviewArguments) ? kDefaultBrowserArguments : webviewArguments);
  for (const std::string_view required : kRequiredBrowserArguments) {
    if (!NamesSwitch(arguments, required)) arguments.append(" ").append(required);
  }
  return arguments;
}

bool PassesSingleInstanceCheck(StartupPlatform& platform, const Runtime& rt) {
  if (rt.RuntimeINI.ReadBool(kAppSection, "AllowInstances", false)) return true;
  if (!platform.CreateInstanceMutexAlreadyExists(rt.RuntimeAppID)) return true;
  return RelaunchStartUrl(rt).has_value();
}

}  // namespace vtl
