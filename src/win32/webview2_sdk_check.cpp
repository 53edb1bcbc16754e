// Compiles the WebView2 SDK's own headers with this toolchain and its warnings,
// so that the web view code is always written against the real interfaces.

#include <windows.h>

#include <WebView2.h>

namespace {

[[maybe_unused]] const IID* const kInterfaces[] = {
    &IID_ICoreWebView2Environment,
    &IID_ICoreWebView2Controller,
    &IID_ICoreWebView2,
    &IID_ICoreWebView2Settings,
};

}  // namespace
