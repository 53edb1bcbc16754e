#pragma once

// What the parts of the fake WebView2 loader share.

#include <optional>
#include <string>

namespace fake {

inline constexpr const char* kWebView2Variables[] = {
    "WEBVIEW2_USER_DATA_FOLDER",
    "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS",
    "WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",
    "WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
    "WEBVIEW2_CHANNEL_SEARCH_KIND",
    "WEBVIEW2_RELEASE_CHANNELS",
};

// A variable of this process's environment; nothing when it is not set.
std::optional<std::string> EnvironmentValue(const char* name);
std::string Pid();

// What this process is to the test: where its transcript goes, and the
// scenario file when this process owns it.
struct ProcessRole {
  std::optional<std::string> transcript;
  std::optional<std::string> scenario;
};
const ProcessRole& Role();

}  // namespace fake
