// The web view control before any web view exists, the handler objects given
// to WebView2, and the stream that carries response bodies.

#include "win32/edge_browser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "win32/body_stream.h"

namespace vtl::win32 {
namespace {

TEST(EdgeBrowser, WithoutAWebViewOperationsDoNothingAndSettingsRaise) {
  TEdgeBrowser edge;
  EXPECT_EQ(edge.BrowserControlState(), TBrowserControlState::None);
  EXPECT_FALSE(edge.WebViewCreated());
  EXPECT_EQ(edge.ZoomFactor(), 0.0);
  edge.SetZoomFactor(2.0);
  EXPECT_EQ(edge.ZoomFactor(), 0.0);
  EXPECT_EQ(edge.DocumentTitle(), "");
  EXPECT_EQ(edge.LocationURL(), "");
  EXPECT_EQ(edge.BrowserProcessID(), 0u);
  EXPECT_FALSE(edge.CanGoBack());
  EXPECT_FALSE(edge.ContainsFullScreenElement());

  bool executed = false;
  edge.OnExecuteScript = [&](TCustomEdgeBrowser&, HRESULT, const std::string&) { executed = true; };
  edge.ExecuteScript("1");
  EXPECT_FALSE(executed);
  edge.CloseBrowserProcess();  // only closes what is not there

  // An address given early is kept for when the web view exists; a blank one is not.
  edge.Navigate("file:///index.html");
  edge.Navigate(" \t\r\n");
  EXPECT_EQ(edge.LastURL(), "file:///index.html");

  struct Setting {
    const char* name;
    bool (TCustomEdgeBrowser::*get)();
    void (TCustomEdgeBrowser::*set)(bool);
  };
  const Setting settings[] = {
      {"ScriptEnabled", &TCustomEdgeBrowser::ScriptEnabled, &TCustomEdgeBrowser::SetScriptEnabled},
      {"WebMessageEnabled", &TCustomEdgeBrowser::WebMessageEnabled, &TCustomEdgeBrowser::SetWebMessageEnabled},
      {"DevToolsEnabled", &TCustomEdgeBrowser::DevToolsEnabled, &TCustomEdgeBrowser::SetDevToolsEnabled},
      {"BuiltInErrorPageEnabled", &TCustomEdgeBrowser::BuiltInErrorPageEnabled,
       &TCustomEdgeBrowser::SetBuiltInErrorPageEnabled},
  };
  for (const auto& s : settings) {
    for (int write = 0; write < 2; ++write) {
      try {
        if (write) {
          (edge.*s.set)(true);
        } else {
          (void)(edge.*s.get)();
        }
        ADD_FAILURE() << s.name << " did not raise";
      } catch (const EEdgeError& e) {
        EXPECT_STREQ(e.what(), "WebView2 not instantiated") << s.name;
        EXPECT_EQ(e.ErrorCode, E_FAIL) << s.name;
      }
    }
  }
}

TEST(EdgeBrowser, WithoutTheLoaderLibraryTheVersionIsEmptyAndTheFailureRecorded) {
  WebView2LoaderDllPath = L"C:\\no\\such\\folder\\WebView2LoaderWin64.dll";
  TEdgeBrowser edge;
  EXPECT_EQ(edge.BrowserVersionInfo(), "");
  EXPECT_EQ(edge.LastErrorCode(), E_FAIL);
  EXPECT_EQ(CreateCoreWebView2EnvironmentThroughLoader(nullptr), E_FAIL);
  UnloadWebView2Loader();
  EXPECT_TRUE(WebView2LoaderDllPath.empty());
}

TEST(ComHandler, AnswersItsOwnInterfaceAndIUnknownOnly) {
  int calls = 0;
  const auto handler = ComHandler<ICoreWebView2ExecuteScriptCompletedHandler>::Create(
      IID_ICoreWebView2ExecuteScriptCompletedHandler, [&](HRESULT, LPCWSTR) {
        ++calls;
        return S_OK;
      });
  struct Case {
    const char* name;
    const IID& iid;
    HRESULT result;
  };
  const Case cases[] = {
      {"IUnknown", IID_IUnknown, S_OK},
      {"own", IID_ICoreWebView2ExecuteScriptCompletedHandler, S_OK},
      {"other handler", IID_ICoreWebView2CapturePreviewCompletedHandler, E_NOINTERFACE},
      {"IStream", IID_IStream, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(handler->QueryInterface(c.iid, &object), c.result) << c.name;
    if (c.result == S_OK) {
      EXPECT_EQ(object, static_cast<void*>(handler.get())) << c.name;
      static_cast<IUnknown*>(object)->Release();
    } else {
      EXPECT_EQ(object, nullptr) << c.name;
    }
  }
  EXPECT_EQ(handler->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  handler->Invoke(S_OK, L"null");
  EXPECT_EQ(calls, 1);
}

TEST(BodyStream, ReadsSeeksAndReportsItsSize) {
  const std::string body = "0123456789";
  const auto stream = ComPtr<IStream>::Attach(CreateBodyStream(body));
  char buffer[16] = {};
  ULONG got = 0;
  EXPECT_EQ(stream->Read(buffer, 4, &got), S_OK);
  EXPECT_EQ(std::string(buffer, got), "0123");
  EXPECT_EQ(stream->Read(buffer, 16, &got), S_FALSE);  // short read at the end
  EXPECT_EQ(std::string(buffer, got), "456789");
  EXPECT_EQ(stream->Read(buffer, 4, &got), S_FALSE);
  EXPECT_EQ(got, 0u);

  ULARGE_INTEGER at{};
  LARGE_INTEGER move{};
  move.QuadPart = -3;
  EXPECT_EQ(stream->Seek(move, STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 7u);
  move.QuadPart = -8;
  EXPECT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &at), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Read(buffer, 3, &got), S_OK);
  EXPECT_EQ(std::string(buffer, got), "789");

  STATSTG stat{};
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, body.size());
  ULONG written = 1;
  EXPECT_TRUE(FAILED(stream->Write("x", 1, &written)));
  EXPECT_EQ(written, 0u);

  const auto empty = ComPtr<IStream>::Attach(CreateBodyStream(""));
  EXPECT_EQ(empty->Read(buffer, 1, &got), S_FALSE);
  EXPECT_EQ(got, 0u);
}

TEST(BodyStream, HandsItsBytesBackWhenTheLastReferenceGoes) {
  std::string returned = "nothing yet";
  IStream* stream = CreateBodyStream("body", [&](std::string&& bytes) { returned = std::move(bytes); });
  stream->AddRef();
  stream->Release();
  EXPECT_EQ(returned, "nothing yet");
  stream->Release();
  EXPECT_EQ(returned, "body");
}

// WebView2 reads a body on a thread of its own: the stream must reach another
// apartment as itself, with no proxy, and be read there; its bytes still go
// back once the last reference, wherever it is, goes.
TEST(BodyStream, IsAgile) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string returned;
  IStream* stream = CreateBodyStream("agile body", [&](std::string&& bytes) { returned = std::move(bytes); });
  IStream* carrier = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IStream, stream, &carrier), S_OK);
  IStream* seen = nullptr;
  std::string read;
  std::atomic<bool> done = false;
  std::thread reader([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(carrier, IID_IStream, reinterpret_cast<void**>(&seen)))) {
      char buffer[32] = {};
      ULONG got = 0;
      seen->Read(buffer, sizeof buffer, &got);
      read.assign(buffer, got);
      seen->Release();
    }
    CoUninitialize();
    done = true;
  });
  // A stream that is not agile reaches the reader as a proxy, whose calls
  // come back here: this apartment serves them meanwhile.
  while (!done) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(1);
  }
  reader.join();
  EXPECT_EQ(seen, stream);  // the object itself, not a proxy
  EXPECT_EQ(read, "agile body");
  EXPECT_EQ(returned, "");
  stream->Release();
  EXPECT_EQ(returned, "agile body");
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace
}  // namespace vtl::win32
