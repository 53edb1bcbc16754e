#pragma once

// The environment the runtime was started with, for the programs a page
// starts. Start-up sets the WebView2 variables for the runtime's own web view
// (its user data folder, its browser arguments, no other browser or channel);
// a program started through shell.execute or shell.command must not inherit
// them, or another WebView2 program started that way would run in this one's
// profile with its arguments. New windows of the runtime itself keep them.

#include <optional>
#include <string>
#include <vector>

namespace vtl::win32 {

// Every WebView2 variable start-up sets or clears.
inline constexpr const wchar_t* kStartupWebView2Variables[] = {
    L"WEBVIEW2_USER_DATA_FOLDER",           L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS",
    L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",  L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
    L"WEBVIEW2_CHANNEL_SEARCH_KIND",        L"WEBVIEW2_RELEASE_CHANNELS",
};

// Takes note of those variables as they are now: call it first thing, before
// start-up changes them.
void RememberStartEnvironment();

// This process's environment with those variables as they were noted, as an
// environment block for CreateProcessW (CREATE_UNICODE_ENVIRONMENT).
std::wstring StartEnvironmentBlock();

// For as long as it lives, this process's own variables are those noted;
// then they are what they were. For calls that take no environment block
// (ShellExecute), on the user-interface thread.
class StartEnvironmentScope {
 public:
  StartEnvironmentScope();
  ~StartEnvironmentScope();
  StartEnvironmentScope(const StartEnvironmentScope&) = delete;
  StartEnvironmentScope& operator=(const StartEnvironmentScope&) = delete;

 private:
  std::vector<std::optional<std::wstring>> saved_;
};

}  // namespace vtl::win32
