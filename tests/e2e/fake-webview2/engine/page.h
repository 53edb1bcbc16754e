#pragma once

// One web view of the fake's browser mode: a page of a real headless
// Chromium, driven over the DevTools protocol, and painted into a child
// window at the controller's bounds, where mouse and keys reach the page.
// The fake's web view forwards the WebView2 calls here, and this raises
// WebView2's events through the Host, on the thread that made the web view.

#include <windows.h>

#include <WebView2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/browser.h"
#include "engine/cdp.h"
#include "engine/disk_server.h"
#include "win32/com_ptr.h"

namespace fake::engine {

using vtl::win32::ComPtr;

struct ResponseData {
  int status = 200;
  std::string reason, headers, body;
};

// What the page needs of the fake's web view: its event lists, and how to
// read a response made by the fake's environment. Each Raise runs the host's
// handlers of that event, then `after` (once they have all returned).
class Host {
 public:
  virtual ~Host() = default;
  virtual void NavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) = 0;
  virtual void ContentLoading(ICoreWebView2ContentLoadingEventArgs* args) = 0;
  virtual void SourceChanged(ICoreWebView2SourceChangedEventArgs* args) = 0;
  virtual void HistoryChanged() = 0;
  virtual void NavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) = 0;
  virtual void WebResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args, std::function<void()> after) = 0;
  virtual bool ReadResponse(ICoreWebView2WebResourceResponse* response, ResponseData& out) = 0;
  virtual void WebMessageReceived(ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
  virtual void DocumentTitleChanged() = 0;
  virtual void NewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args, std::function<void()> after) = 0;
  virtual void WindowCloseRequested() = 0;
  virtual void ContainsFullScreenElementChanged() = 0;
  virtual void ProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) = 0;
  // An iframe of the top document (its protocol frame id): a new document in
  // it, its document's message, its document gone.
  virtual void FrameCreated(const std::string& id, const std::string& name, const std::string& url) = 0;
  virtual void FrameMessage(const std::string& id, const std::string& json) = 0;
  virtual void FrameDestroyed(const std::string& id) = 0;
};

// A line of the fake's transcript.
void Log(std::initializer_list<std::string_view> fields);

// The whole screen as a PNG file (Windows path). Works without a browser.
bool SaveScreenshot(const std::string& path, std::string& error);

class Page {
 public:
  using Ready = std::function<void(HRESULT, std::unique_ptr<Page>)>;
  // Starts the browser on a worker thread and sets up its page; `ready` runs
  // later on this thread.
  static void Create(HWND parent, Ready ready);
  ~Page();

  void SetHost(Host* host) { host_ = host; }

  // ICoreWebView2
  HRESULT Navigate(const std::string& uri);
  HRESULT NavigateToString(const std::string& html);
  HRESULT Reload();
  HRESULT Stop();
  HRESULT GoBack();
  HRESULT GoForward();
  bool CanGoBack() const { return historyIndex_ > 0; }
  bool CanGoForward() const { return historyIndex_ + 1 < historyCount_; }
  const std::string& Source() const { return source_; }
  const std::string& Title() const { return title_; }
  bool ContainsFullScreenElement() const { return fullScreen_; }
  unsigned long BrowserPid() const { return browser_.pid(); }
  HRESULT AddScript(const std::string& script,
                    ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> handler);
  HRESULT RemoveScript(const std::string& id);
  HRESULT ExecuteScript(const std::string& script, ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> handler);
  HRESULT PostJson(const std::string& json);
  HRESULT PostString(const std::string& text);
  // A message to the iframe of that protocol frame id, delivered in its document.
  void PostToFrame(const std::string& frameId, const std::string& text, bool isString);
  HRESULT CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT format, IStream* stream,
                         ComPtr<ICoreWebView2CapturePreviewCompletedHandler> handler);
  void AddFilter(const std::string& uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context);
  void RemoveFilter(const std::string& uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context);
  void Setting(const std::string& name, bool value);

  // ICoreWebView2Controller
  void SetBounds(const RECT& bounds);
  void SetVisible(bool visible);
  void SetZoom(double factor);
  void Focus();
  void Close();

  // Scenario commands of the browser mode: eval, wait-for, click, crash.
  // True when the command is one of them; `done` runs once it has finished.
  bool RunStep(const std::string& command, const std::string& rest, std::function<void()> done);

 private:
  Page() = default;
  struct Filter {
    std::string uri;
    COREWEBVIEW2_WEB_RESOURCE_CONTEXT context;
  };
  struct Frame;

  void SetUp(std::function<void(HRESULT)> done);
  void OnEvent(const std::string& method, const Json& params, const std::string& session);
  void OnRequestPaused(const Json& params);
  void RaiseResourceRequest(const std::string& url, const std::string& method, const Json& headers,
                            COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, const char* continued,
                            std::function<void(std::optional<ResponseData>)> done);
  void ServeRequest(const Json& params);
  // A file the browser opens itself (see disk_server.h).
  void ServeDiskRead(const std::string& path, DiskServer::Reply reply);
  void OnBinding(const Json& params);
  void OnFrame(const Json& params);
  void OnCrashed();
  void DropFrames();
  void RefreshHistory();
  void CompleteNavigation(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status);
  void SendNavigation(Json params, const std::string& method = "Page.navigate");
  void FlushNavigations();
  void ApplyMetrics();
  void Evaluate(const std::string& expression, std::function<void(const Json& result, bool failed)> reply,
                bool awaitPromise = false);
  bool Covered(const std::string& url, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) const;
  void MatchPopups();

  static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT ViewMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Mouse(const char* type, LPARAM lParam, const char* button, int clicks, std::function<void()> acked = {});

  Host* host_ = nullptr;
  Browser browser_;
  Cdp cdp_;
  DiskServer disk_;
  std::string target_, session_, mainFrame_;
  HWND parent_ = nullptr, view_ = nullptr;
  HBITMAP frame_ = nullptr;
  SIZE frameSize_{};
  RECT bounds_{};
  bool visible_ = true;
  double zoom_ = 1.0;

  std::string source_, title_;
  bool fullScreen_ = false;
  bool webMessages_ = true;
  bool crashed_ = false;
  int historyIndex_ = 0, historyCount_ = 0;
  std::vector<int> historyIds_;
  uint64_t navigationId_ = 0;
  bool navigating_ = false;
  std::map<int64_t, std::string> contexts_;  // default execution context -> frame
  std::vector<std::string> childFrames_;     // iframes of the top document the host knows
  std::vector<Filter> filters_;
  int pendingScripts_ = 0;
  std::vector<std::pair<std::string, Json>> heldNavigations_;
  std::vector<std::pair<std::string, bool>> openRequests_;  // window.open: url, handled
  std::vector<std::string> popups_;                         // sessions of popups waiting to start
  std::function<void()> crashDone_;
  std::function<void()> pendingClick_;
};

}  // namespace fake::engine
