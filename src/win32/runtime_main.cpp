// Program entry of the runtime: the start-up loader, the single-instance
// rule, then the main window.

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "core/startup.h"
#include "core/themes.h"
#include "win32/bridge/styles.h"
#include "win32/edge_browser.h"
#include "win32/main_form.h"
#include "win32/start_environment.h"
#include "win32/startup_platform.h"
#include "win32/text.h"

namespace {

// The standard report for an error that escapes start-up.
int ReportUnhandledError(const char* message) {
  MessageBoxW(nullptr, vtl::win32::Widen(message).c_str(), L"Application Error",
              MB_OK | MB_ICONERROR | MB_TASKMODAL);
  return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before start-up sets the WebView2 variables: the programs a page starts
  // get them as they were.
  vtl::win32::RememberStartEnvironment();
  vtl::win32::MaskFloatingPointExceptions();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  // Process-wide for the life of the process: the main window, the web view
  // and the bridge read the package through them.
  static vtl::Runtime runtime;
  static vtl::StyleManager styles;
  // Every window of the process follows this manager from the first on: the
  // theme of the settings reaches the start-up questions, errors and password
  // prompt too.
  vtl::win32::SetProcessStyleManager(&styles);
  try {
    vtl::win32::Win32StartupPlatform platform(styles);
    if (const auto exitCode = vtl::LoadRuntime(platform, runtime)) return *exitCode;
    if (!vtl::PassesSingleInstanceCheck(platform, runtime)) return 0;
  } catch (const std::exception& e) {
    return ReportUnhandledError(e.what());
  }
  return vtl::win32::RunMainForm(runtime, styles);
}
