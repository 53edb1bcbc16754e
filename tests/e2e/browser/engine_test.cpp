// The real engine behind the runtime: a packaged page served, scripted,
// painted into the window and clicked through it; the bridge script in a
// real document; the window's title, new windows, the close negotiation and
// a renderer crash as the user meets them, and an iframe's bridge calls.

#include <algorithm>
#include <fstream>

#include "browser_fixture.h"

namespace vtl::e2e {
namespace {

class Engine : public RealEngine {};

// A scenario command is one line.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

constexpr char kHelloPage[] = R"(<!doctype html><html><head><title>Hello</title>
<link rel="stylesheet" href="style.css"></head><body>
<button id="press" style="position:absolute;left:40px;top:40px;width:200px;height:60px">Press</button>
<p id="out" style="position:absolute;left:40px;top:120px">not pressed</p>
<script src="app.js"></script></body></html>
)";

TEST_F(Engine, ServesScriptsPaintsAndTakesClicksThroughTheWindow) {
  const std::string id = NewAppId("hello");
  const fs::path exe = Pack(Project("hello", Settings(id, "Engine Hello"),
                                    {{"app/index.html", kHelloPage},
                                     {"app/style.css", "body { background: rgb(32, 160, 96); margin: 0 }"},
                                     {"app/app.js", "document.getElementById('press').onclick = () => "
                                                    "{ document.getElementById('out').textContent = 'pressed'; };"}}),
                            "hello.exe");
  const auto run = StartWithScenario(exe, "hello",
                                     {kWaitForPage, "eval getComputedStyle(document.body).backgroundColor",
                                      "eval typeof vtl.hello", "click #press",
                                      "wait-for document.getElementById('out').textContent === 'pressed'",
                                      "eval document.getElementById('out').textContent", "wait 300"});
  const auto window = WaitForMainWindow(run.process, "Engine Hello");
  ASSERT_TRUE(window);
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_EQ(run.Evals(), (std::vector<std::string>{R"x("rgb(32, 160, 96)")x", R"("function")", R"("pressed")"}));
  EXPECT_TRUE(run.Read().Of("wait-for-timeout").empty());

  // What the screen shows inside the window, beside the button: the page's
  // background, painted by the browser into the host window.
  RECT client{};
  GetClientRect(window->handle, &client);
  POINT p{client.right - 20, client.bottom - 20};
  ClientToScreen(window->handle, &p);
  HDC screen = GetDC(nullptr);
  const COLORREF pixel = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(pixel, RGB(32, 160, 96));
}

// The bridge script in a real document: its calls paired with their replies
// by uuid, whatever the order of the replies; its default event handlers;
// the user script after the bridge and the drag-and-drop guards; and a
// fresh window.vtl in every document.
TEST_F(Engine, BridgeScriptInARealDocument) {
  const std::string id = NewAppId("bridge");
  const std::string userScript = R"(
window.__userScript = {
  vtl: typeof window.vtl,
  // The guards are in place before the user script: its own listener sees
  // the default already prevented.
  dragover: (() => { let seen = null; const f = (e) => { seen = e.defaultPrevented; };
    window.addEventListener('dragover', f); window.dispatchEvent(new Event('dragover', { cancelable: true }));
    window.removeEventListener('dragover', f); return seen; })(),
  drop: !window.dispatchEvent(new Event('drop', { cancelable: true })),
  pageScriptRan: typeof window.__pageScript !== 'undefined',
};
)";
  const std::string page = "<!doctype html><title>bridge</title><script>window.__pageScript = 1;</script>"
                           "<a id='next' href='second.html'>next</a>";
  const fs::path exe = Pack(Project("bridge", Settings(id, "Bridge"),
                                    {{"app/index.html", page},
                                     {"app/second.html", "<!doctype html><title>second</title><p>second</p>"},
                                     {"vtl-webviewjs", userScript}}),
                            "bridge.exe");
  // Out of order: the requests are held in the page and answered in reverse.
  const std::string outOfOrder = R"((async () => {
  const sent = [];
  const post = chrome.webview.postMessage;
  chrome.webview.postMessage = (m) => sent.push(m);
  const first = vtl.hello(), second = vtl.isRuntime();
  chrome.webview.postMessage = post;
  const reply = (m, result) => chrome.webview.dispatchEvent(Object.assign(new MessageEvent('message',
      { data: { uuid: m.uuid, success: true, result } })));
  reply(sent[1], 'answer to the second');
  reply(sent[0], 'answer to the first');
  return [sent.length, sent[0].uuid !== sent[1].uuid, await first, await second];
})())";
  const auto run = StartWithScenario(
      exe, "bridge",
      {kWaitForPage, "eval window.__userScript", "eval Promise.all([vtl.hello(), vtl.isRuntime(), vtl.hello()])",
       "eval " + OneLine(outOfOrder),
       "eval Object.keys(vtl.events).filter((k) => typeof vtl.events[k] === 'function').sort()",
       "eval (vtl.events.onMainMenuItemClick(1), vtl.events.onTrayIconClick(), 'no throw')",
       "eval (window.vtl.__mark = 'old document', document.getElementById('next').click(), 'navigating')",
       "wait-for location.pathname.endsWith('second.html') && !!window.vtl",
       "eval [window.vtl.__mark === undefined, typeof window.__userScript]", "eval vtl.hello()"});
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_EQ(run.Evals(),
            (std::vector<std::string>{
                R"({"vtl":"object","dragover":true,"drop":true,"pageScriptRan":false})",
                R"(["2023.1",true,"2023.1"])",
                R"([2,true,"answer to the first","answer to the second"])",
                R"(["onCloseQuery","onMainMenuItemClick","onNotificationClick","onTrayIconClick","onTrayMenuItemClick"])",
                R"("no throw")", R"("navigating")", R"([true,"object"])", R"("2023.1")"}));
}

TEST_F(Engine, DynamicAppTitleFollowsTheTitleSetByScript) {
  const std::string id = NewAppId("title");
  const fs::path exe = Pack(Project("title", Settings(id, "Title", "DynamicAppTitle=1\r\n"),
                                    {{"app/index.html", "<!doctype html><title>First title</title><p>t</p>"}}),
                            "title.exe");
  const auto run = StartWithScenario(exe, "title", {kWaitForPage, "eval document.title = 'Set by script'"});
  ASSERT_TRUE(run.WaitForEnd());
  uidriver::WindowQuery query;
  query.caption = "Set by script";
  EXPECT_TRUE(WaitForWindowOf(run.process, query, {}, Milliseconds(10000)));
}

// The close negotiation, answered by the page itself.
TEST_F(Engine, CloseIsNegotiatedWithTheRealPage) {
  struct Case {
    const char* label;
    const char* userScript;
    std::vector<std::string> after;  // commands after the close
    bool ends;
  };
  const Case cases[] = {
      {"default", "", {}, true},
      {"replaced", "vtl.events.onCloseQuery = () => { window.__asked = (window.__asked || 0) + 1; };",
       {"wait 500", "eval window.__asked"}, false},
      {"asks", R"(vtl.events.onCloseQuery = () => {
  const b = document.createElement('button'); b.id = 'really'; b.textContent = 'Really close';
  b.style = 'position:absolute;left:20px;top:20px;width:160px;height:40px';
  b.onclick = () => vtl.app.close(); document.body.append(b); };)",
       {"wait-for document.getElementById('really')", "click #really"}, true},
      // A handler that throws cannot answer: the window closes at once.
      {"throws", "vtl.events.onCloseQuery = () => { throw new Error('cannot answer'); };", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string id = NewAppId(c.label);
    const fs::path exe = Pack(Project(c.label, Settings(id, "Close"),
                                      {{"app/index.html", "<!doctype html><title>close</title><body></body>"},
                                       {"vtl-webviewjs", c.userScript}}),
                              std::string(c.label) + ".exe");
    std::vector<std::string> commands = {kWaitForPage, "close"};
    commands.insert(commands.end(), c.after.begin(), c.after.end());
    const auto run = StartWithScenario(exe, c.label, commands);
    if (c.ends) {
      // The program ends, perhaps before the scenario's last line.
      EXPECT_TRUE(run.process.WaitForExit(Milliseconds(60000)));
      EXPECT_EQ(run.Read().Of("close").size(), 1u);
      for (const auto& line : run.Read().Of("click")) EXPECT_EQ(line.at(2), "clicked");
    } else {
      ASSERT_TRUE(run.WaitForEnd());
      EXPECT_TRUE(run.process.Running());
      EXPECT_EQ(run.Evals(), std::vector<std::string>{"1"});
    }
  }
}

// A file: link with a target opens a second program on that page.
TEST_F(Engine, FileLinkOpensASecondProcessOnThatPage) {
  const std::string id = NewAppId("newwindow");
  const fs::path exe = Pack(Project("newwindow", Settings(id, "New window"),
                                    {{"app/index.html", "<!doctype html><title>one</title>"
                                                        "<a id='open' target='_blank' href='file:///other.html' "
                                                        "style='display:block;width:200px;height:40px'>other</a>"},
                                     {"app/other.html", "<!doctype html><title>other</title><p>other page</p>"}}),
                            "newwindow.exe");
  const auto run = StartWithScenario(exe, "newwindow", {kWaitForPage, "click #open", "wait 500"});
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_EQ(run.Read().Of("engine-newwindow").size(), 1u);
  // The second program's transcript: its own browser served it that page.
  std::string guest;
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& name : Listing(dir_)) {
      if (name.rfind("transcript-newwindow.log.", 0) != 0) continue;
      for (const auto& line : fake::ReadTranscript(Utf8(dir_ / PathFromUtf8(name))))
        if (line.size() > 2 && line[0] == "served" && line[1] == "file:///other.html" && line[2] == "200") guest = name;
    }
    return !guest.empty();
  }));
}

// An iframe of the package calls window.vtl: its calls reach the runtime
// through its frame object and the answers its own document; a new document
// in the iframe is a new frame object, and the top page's calls still work.
TEST_F(Engine, IframeBridgeCallsAreAnsweredInTheIframe) {
  const std::string id = NewAppId("iframe");
  const std::string inner = "<!doctype html><title>inner</title><p id='out'>waiting</p><script>"
                            "vtl.hello().then((v) => { document.getElementById('out').textContent = "
                            "location.search + ' ' + v; }, (e) => { document.getElementById('out').textContent = "
                            "'failed ' + e; });</script>";
  const fs::path exe = Pack(Project("iframe", Settings(id, "Iframe"),
                                    {{"app/index.html", "<!doctype html><title>top</title>"
                                                        "<iframe name='inner' src='inner.html?first'></iframe>"},
                                     {"app/inner.html", inner}}),
                            "iframe.exe");
  const std::string innerText = "frames[0].document.getElementById('out')?.textContent";
  const auto run = StartWithScenario(
      exe, "iframe",
      {kWaitForPage, "wait-for " + innerText + " !== 'waiting'", "eval " + innerText,
       "eval (frames[0].location.search = 'second', 'navigating')",
       "wait-for (" + innerText + " || '').startsWith('?second')", "eval " + innerText, "eval vtl.hello()"});
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_EQ(run.Evals(), (std::vector<std::string>{R"("?first 2023.1")", R"("navigating")", R"("?second 2023.1")",
                                                   R"("2023.1")"}));
  const auto transcript = run.Read();
  EXPECT_TRUE(transcript.Of("wait-for-timeout").empty());
  EXPECT_TRUE(transcript.Of("engine-frame-message").empty());
  // Two documents in the iframe: two frame objects, the first one gone.
  EXPECT_EQ(transcript.Of("engine-frame").size(), 2u);
  EXPECT_GE(transcript.Of("engine-frame-gone").size(), 1u);
}

// A renderer crash: the runtime reloads the page, which comes back with a
// working bridge. A close asked for right after the crash is not lost: the
// runtime has asked for the reload already, and the reloaded page answers.
TEST_F(Engine, RendererCrashReloadsThePage) {
  struct Case {
    const char* label;
    std::vector<std::string> afterCrash;
    std::vector<std::string> evals;  // after "marked"
  };
  const std::string back = "wait-for document.readyState === 'complete' && !!window.vtl && window.__before === undefined";
  const Case cases[] = {
      {"reload", {back, "eval vtl.hello()"}, {R"("2023.1")"}},
      {"close", {"close", back, "eval [window.__asked, typeof vtl.hello]"}, {R"([1,"function"])"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string id = NewAppId(c.label);
    const fs::path exe = Pack(Project(c.label, Settings(id, "Crash"),
                                      {{"app/index.html", "<!doctype html><title>crash</title>"
                                                          "<body style='background: rgb(200, 40, 40)'><h1>page</h1>"},
                                       // The page keeps its window: only a close nobody can answer ends it.
                                       {"vtl-webviewjs", "vtl.events.onCloseQuery = () => { window.__asked = 1; };"}}),
                              std::string(c.label) + ".exe");
    const fs::path shot = dir_ / (std::string(c.label) + ".png");
    std::vector<std::string> commands = {kWaitForPage, "eval (window.__before = 1, 'marked')", "crash"};
    commands.insert(commands.end(), c.afterCrash.begin(), c.afterCrash.end());
    commands.push_back("screenshot " + Utf8(shot));
    const auto run = StartWithScenario(exe, c.label, commands);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_TRUE(run.process.Running());
    std::vector<std::string> evals = {R"("marked")"};
    evals.insert(evals.end(), c.evals.begin(), c.evals.end());
    EXPECT_EQ(run.Evals(), evals);
    const auto transcript = run.Read();
    EXPECT_TRUE(transcript.Of("wait-for-timeout").empty());
    EXPECT_EQ(transcript.Of("reload").size(), 1u);
    const auto failures = transcript.Of("engine-process-failed");
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0].at(1), "render-process-exited");
    EXPECT_TRUE(fs::exists(shot));
  }
}

}  // namespace
}  // namespace vtl::e2e
