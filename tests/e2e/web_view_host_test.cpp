// The web view host under Wine with the fake loader: the document script and
// the settings the runtime gives the web view, the start address, the window
// the settings describe, the caption, closing, new windows, and every rule by
// which file: requests are answered from the package.

#include "e2e_fixture.h"
#include "fake_loader.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include "win32/text.h"

namespace vtl::e2e {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

constexpr char kDragOver[] = "window.addEventListener(\"dragover\", function(e){e.preventDefault();},false);";
constexpr char kDrop[] = "window.addEventListener(\"drop\", function(e){e.preventDefault();}, false);";
constexpr char kCloseQuery[] = "vtl.events.onCloseQuery(); true;";

class WebViewHost : public EndToEnd {};

// What the runtime carries as its bridge script, as stored.
std::string BridgeScriptOfRuntime() {
  const HMODULE image = LoadLibraryExW(RuntimeExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!image) return {};
  std::string text;
  if (const HRSRC info = FindResourceW(image, L"VTL_EXTERNAL_JAVASCRIPT", MAKEINTRESOURCEW(10))) {
    const HGLOBAL data = LoadResource(image, info);
    text.assign(static_cast<const char*>(LockResource(data)), SizeofResource(image, info));
  }
  FreeLibrary(image);
  return text;
}

// The fields after the kind of every line of that kind.
std::vector<std::vector<std::string>> Fields(const Transcript& t, std::string_view kind) {
  std::vector<std::vector<std::string>> out;
  for (const auto& line : t.Of(kind)) out.emplace_back(line.begin() + 1, line.end());
  return out;
}

std::string Caption(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return win32::Narrow(text);
}

TEST_F(WebViewHost, InjectsOneDocumentScriptAndAppliesTheSettings) {
  const std::string bridge = BridgeScriptOfRuntime();
  ASSERT_FALSE(bridge.empty());
  const std::string bridgeText = bridge.rfind("\xEF\xBB\xBF", 0) == 0 ? bridge.substr(3) : bridge;
  const std::string base = "\r" + bridgeText + "\r" + kDragOver + "\r" + kDrop;
  struct Case {
    const char* label;
    std::string settings;
    std::optional<std::string> userScript;
    std::string script;
    const char *zoom, *devTools, *contextMenus;
    const char* newestInterface = nullptr;  // the web view of an older runtime
  };
  const Case cases[] = {
      {"plain", "", std::nullopt, base, "0", "0", "0"},
      {"blank", "AllowZoom=1\r\nAllowDebug=1\r\nAllowContextMenu=1\r\n", " \r\n\t \r\n", base, "1", "1", "1"},
      {"user", "AllowZoom=1\r\n", "  window.fromUser = vtl;\r\n", base + "\r  window.fromUser = vtl;\r\n", "1", "0",
       "0"},
      {"older", "", std::nullopt, base, "0", "0", "0", "21"},
  };
  struct Run {
    const Case& c;
    ScenarioRun scenario;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    Files files;
    if (c.userScript) files.emplace_back("vtl-webviewjs", *c.userScript);
    const auto exe = PackageWithFiles(std::string(c.label) + ".exe", Settings(id, "Scripted", c.settings), files);
    Environment more;
    if (c.newestInterface) more.emplace_back("VTL_FAKE_WEBVIEW_INTERFACE", c.newestInterface);
    auto scenario = Scenario(c.label, {}, more);
    runs.push_back({c, scenario, Start(exe, scenario.env)});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.c.label;
    const auto t = run.scenario.Read();
    EXPECT_EQ(Fields(t, "document-script"), (std::vector<std::vector<std::string>>{{run.c.script}})) << run.c.label;
    EXPECT_EQ(Fields(t, "setting"), (std::vector<std::vector<std::string>>{
                                        {"IsScriptEnabled", "1"},
                                        {"IsStatusBarEnabled", "0"},
                                        {"IsWebMessageEnabled", "1"},
                                        {"IsBuiltInErrorPageEnabled", "1"},
                                        {"IsZoomControlEnabled", run.c.zoom},
                                        {"AreDevToolsEnabled", run.c.devTools},
                                        {"AreDefaultContextMenusEnabled", run.c.contextMenus},
                                    }))
        << run.c.label;
    // Requests of every frame and worker where the web view offers the filter
    // for them; the documents' filter elsewhere.
    const std::vector<std::vector<std::string>> filter{{"*", "0"}}, sources{{"*", "0", "0xffffffff"}};
    EXPECT_EQ(Fields(t, "filter"), run.c.newestInterface ? filter : std::vector<std::vector<std::string>>{})
        << run.c.label;
    EXPECT_EQ(Fields(t, "filter-sources"), run.c.newestInterface ? std::vector<std::vector<std::string>>{} : sources)
        << run.c.label;
    EXPECT_EQ(Fields(t, "navigate"), (std::vector<std::vector<std::string>>{{"file:///index.html"}})) << run.c.label;
  }
}

TEST_F(WebViewHost, AnswersFileRequestsFromThePackageBesideTheProgramAndAbsolutePaths) {
  std::string binary;
  for (int i = 0; i < 4000; ++i) binary += static_cast<char>((i * 7919 + (i >> 3) * 31) & 0xFF);
  const std::string id = NewAppId("serve");
  const Files files = {
      {"app/js/app.js", "console.log('app');\n"},
      {"app/my page.html", "<p>spaced</p>"},
      {"app/app.html", "<p>lower case</p>"},
      {"app/css/site.css", "body { margin: 0 }"},
      {"app/pic.png", "\x89PNG\r\n\x1a\n not really"},
      {"app/caf\xC3\xA9.html", "<p>accent</p>"},
      {"app/broken.bin", binary},
      {"vtl-webviewjs", "window.user = 1;"},
  };
  const auto exe = PackageWithFiles("serve.exe", Settings(id, "Served"), files);
  {
    // Damage the data of one entry, past its local header.
    std::string bytes = ReadFile(exe);
    const size_t at = bytes.find("app/broken.bin");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 200] = static_cast<char>(bytes[at + 200] ^ 0x5A);
    std::ofstream(exe, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::ofstream(dir_ / "extra.css", std::ios::binary) << "p { color: red }";
  fs::create_directories(dir_ / "outside");
  std::ofstream(dir_ / "outside" / "abs.txt", std::ios::binary) << "absolute";
  const std::string absolute = "file:///" + Utf8(dir_ / "outside" / "abs.txt");

  struct Case {
    std::string url;
    std::optional<std::string> body;  // nothing: the request stays unanswered
    std::string contentType = {};
    std::string status = "200";
  };
  const std::string index = "<!doctype html><title>e2e</title><p>end to end</p>\n";
  const Case cases[] = {
      {"file:///index.html", index, "text/html"},
      {"file:///js/app.js?v=3", "console.log('app');\n", "application/javascript"},
      {"file:///my%20page.html", "<p>spaced</p>", "text/html"},
      {"file:///APP.HTML", "<p>lower case</p>", "text/html"},
      {"file:///css/site.css", "body { margin: 0 }", "text/css"},
      {"file:///pic.png", "\x89PNG\r\n\x1a\n not really", "image/*"},
      {"file:///extra.css", "p { color: red }", "text/css"},
      {absolute, "absolute", "text/plain"},
      {"file:///C:/no/such/file.txt", std::nullopt},
      {"https://example.com/js/app.js", std::nullopt},
  };
  // Package paths found nowhere: the package's own 404.
  const std::string notFound[] = {"file:///caf%C3%A9.html", "file:///vtl.ini", "file:///vtl-webviewjs",
                                  "file:///missing.html"};
  std::vector<std::string> commands;
  for (const auto& c : cases) commands.push_back("request " + c.url);
  for (const auto& url : notFound) commands.push_back("request " + url);
  commands.push_back("request file:///broken.bin");
  commands.push_back("message {\"id\":10001,\"uuid\":\"u1\",\"data\":{}}");
  commands.push_back("permission camera");
  commands.push_back("permission geolocation");
  const auto scenario = Scenario("serve", commands);
  const Process p = Start(exe, scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  const auto t = scenario.Read();

  std::map<std::string, std::vector<std::string>> responses;
  for (const auto& line : Fields(t, "response")) responses[line[0]] = line;
  std::set<std::string> unanswered;
  for (const auto& line : Fields(t, "unanswered")) unanswered.insert(line[0]);
  for (const auto& c : cases) {
    if (!c.body) {
      EXPECT_TRUE(unanswered.count(c.url)) << c.url;
      EXPECT_FALSE(responses.count(c.url)) << c.url;
      continue;
    }
    ASSERT_TRUE(responses.count(c.url)) << c.url;
    auto got = responses[c.url];
    // The system's associations may name an image type its own way; the
    // charset follows whatever type it is.
    const std::string imageHeader = "Content-Type: image/";
    if (c.contentType == "image/*" && got.size() > 3 && got[3].rfind(imageHeader, 0) == 0 &&
        got[3].ends_with("; charset=utf-8"))
      got[3] = "Content-Type: image/*; charset=utf-8";
    EXPECT_EQ(got, (std::vector<std::string>{c.url, c.status, "OK", "Content-Type: " + c.contentType + "; charset=utf-8",
                                             std::to_string(c.body->size()), fake::Sha256Hex(*c.body)}))
        << c.url;
  }
  for (const auto& url : notFound) {
    ASSERT_TRUE(responses.count(url)) << url;
    EXPECT_EQ(responses[url][1], "404") << url;
    EXPECT_EQ(responses[url][2], "Not Found") << url;
    EXPECT_EQ(responses[url][3], "Content-Type: text/plain; charset=utf-8") << url;
  }
  // A damaged entry is an error, never an empty or broken success.
  ASSERT_TRUE(responses.count("file:///broken.bin"));
  EXPECT_EQ(responses["file:///broken.bin"][1], "500");
  EXPECT_EQ(responses["file:///broken.bin"][3], "Content-Type: text/plain; charset=utf-8");

  EXPECT_EQ(Fields(t, "post"),
            (std::vector<std::vector<std::string>>{{R"({"uuid": "u1", "success": true, "result": "2023.1"})"}}));
  EXPECT_EQ(Fields(t, "permission"),
            (std::vector<std::vector<std::string>>{{"camera", "allow"}, {"geolocation", "allow"}}));
}

TEST_F(WebViewHost, OpensTheStartPageOrTheAddressOfASecondInstance) {
  struct Case {
    const char* label;
    std::string settings;
    bool idFirst;
    bool upperId;
    std::vector<std::string> more;
    std::string address;
  };
  const Case cases[] = {
      {"index", "", false, false, {}, "file:///index.html"},
      {"indexhtml", "IndexHtml=start.html\r\n", false, false, {}, "file:///start.html"},
      {"relaunch", "", true, false, {"file:///help.html"}, "file:///help.html"},
      {"idonly", "", true, false, {}, "file:///index.html"},
      {"othercase", "", true, true, {"file:///help.html"}, "file:///index.html"},
  };
  struct Run {
    const Case& c;
    ScenarioRun scenario;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    std::vector<std::string> args;
    if (c.idFirst) {
      std::string first = id;
      if (c.upperId) std::transform(first.begin(), first.end(), first.begin(), [](unsigned char ch) { return std::toupper(ch); });
      args.push_back(first);
    }
    args.insert(args.end(), c.more.begin(), c.more.end());
    auto scenario = Scenario(c.label, {});
    const auto exe = Package(std::string(c.label) + ".exe", Settings(id, "Start", c.settings));
    runs.push_back({c, scenario, Start(exe, scenario.env, args)});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.c.label;
    EXPECT_EQ(Fields(run.scenario.Read(), "navigate"), (std::vector<std::vector<std::string>>{{run.c.address}}))
        << run.c.label;
  }
}

TEST_F(WebViewHost, WindowTakesItsGeometryBorderStateAndOrderFromTheSettings) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  struct Expected {
    int width = 800, height = 600;
    bool centred = true, caption = true, sizeable = true, maximized = false, topmost = false, dialogFrame = false;
  };
  struct Case {
    const char* label;
    std::string settings;
    Expected expected;
  };
  const Case cases[] = {
      {"defaults", "", {}},
      {"maxwidth", "Width=1280\r\nHeight=500\r\nMaxWidth=1024\r\n", {.width = 1024, .height = 500}},
      {"minheight", "Height=300\r\nMinHeight=400\r\n", {.height = 400}},
      {"fullscreen", "WindowStyle=1\r\nWindowBorder=3\r\nWindowState=0\r\n",
       {.width = screenW, .height = screenH, .centred = false, .caption = false, .sizeable = false, .maximized = true}},
      {"maximized", "WindowState=1\r\n", {.centred = false, .maximized = true}},
      {"state2", "WindowState=2\r\n", {}},
      {"single", "WindowBorder=1\r\n", {.sizeable = false}},
      {"dialog", "WindowBorder=3\r\n", {.sizeable = false, .dialogFrame = true}},
      {"topmost", "WindowOrder=1\r\n", {.topmost = true}},
  };
  struct Run {
    const Case& c;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    const std::string id = NewAppId(c.label);
    runs.push_back({c, Start(Package(std::string(c.label) + ".exe", Settings(id, "Geometry", c.settings)),
                             FakeEnvironment())});
  }
  for (auto& run : runs) {
    const auto main = WaitForMainWindow(run.process, "Geometry");
    ASSERT_TRUE(main) << run.c.label;
    const HWND w = main->handle;
    const Expected& e = run.c.expected;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(w, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(w, GWL_EXSTYLE));
    EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, e.caption) << run.c.label;
    EXPECT_EQ((style & WS_THICKFRAME) != 0, e.sizeable) << run.c.label;
    EXPECT_EQ(IsZoomed(w) != FALSE, e.maximized) << run.c.label;
    EXPECT_EQ((exStyle & WS_EX_TOPMOST) != 0, e.topmost) << run.c.label;
    EXPECT_EQ((exStyle & WS_EX_DLGMODALFRAME) != 0, e.dialogFrame) << run.c.label;
    if (!e.maximized) {
      RECT r{};
      GetWindowRect(w, &r);
      EXPECT_EQ(r.right - r.left, e.width) << run.c.label;
      EXPECT_EQ(r.bottom - r.top, e.height) << run.c.label;
      if (e.centred) {
        EXPECT_EQ(r.left, (screenW - e.width) / 2) << run.c.label;
        EXPECT_EQ(r.top, (screenH - e.height) / 2) << run.c.label;
      }
    } else if (!e.caption) {
      RECT r{};
      GetWindowRect(w, &r);
      EXPECT_EQ(r.right - r.left, e.width) << run.c.label;
      EXPECT_EQ(r.bottom - r.top, e.height) << run.c.label;
    }
    uidriver::Close(w);
    EXPECT_EQ(run.process.WaitForExit(), 0u) << run.c.label;
  }
}

TEST_F(WebViewHost, CaptionFollowsThePageTitleOnlyWhenAsked) {
  struct Case {
    const char* label;
    std::string settings;
    std::string caption;
  };
  const Case cases[] = {
      {"dynamic", "DynamicAppTitle=1\r\n", "Page Title"},
      {"fixed", "", "Titled"},
      {"off", "DynamicAppTitle=0\r\n", "Titled"},
  };
  struct Run {
    const Case& c;
    ScenarioRun scenario;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    auto scenario = Scenario(c.label, {"title Page Title"});
    runs.push_back({c, scenario, Start(Package(std::string(c.label) + ".exe", Settings(NewAppId(c.label), "Titled", c.settings)), scenario.env)});
  }
  for (auto& run : runs) {
    const auto main = WaitForWindowOf(run.process, uidriver::WindowQuery());
    ASSERT_TRUE(main) << run.c.label;
    ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.c.label;
    EXPECT_EQ(Caption(main->handle), run.c.caption) << run.c.label;
  }
}

TEST_F(WebViewHost, ClosingIsNegotiatedWithThePage) {
  const std::string close = std::string("message {\"id\":50001,\"uuid\":\"c1\",\"data\":{}}");
  // The page asks first and then closes: the first close is refused and the
  // page told; its close request ends the program with 0.
  const std::string askId = NewAppId("ask");
  const auto ask = Scenario("ask", {"script-result true", "close", std::string("await-execute ") + kCloseQuery, "wait 300", close},
                            {{"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}});
  const Process asking = Start(Package("ask.exe", Settings(askId, "Closing")), ask.env);
  // A page that never answers keeps the window.
  const auto deaf = Scenario("deaf", {"script-result true", "close", "close"}, {{"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}});
  const Process keeping = Start(Package("deaf.exe", Settings(NewAppId("deaf"), "Closing")), deaf.env);
  // Without a web view nobody can answer: the window closes at once.
  const Process noWebView = Start(Package("none.exe", Settings(NewAppId("none"), "Closing")),
                                  FakeEnvironment({{"VTL_FAKE_ENVIRONMENT_RESULT", "0x80004005"},
                                                   {"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}}));

  EXPECT_EQ(asking.WaitForExit(), 0u);
  const auto a = ask.Read();
  EXPECT_EQ(Fields(a, "close"), (std::vector<std::vector<std::string>>{{"refused"}}));
  // Told at the refused close and once more at the close it allowed.
  EXPECT_EQ(Fields(a, "execute"), (std::vector<std::vector<std::string>>{{kCloseQuery}, {kCloseQuery}}));
  EXPECT_TRUE(a.Of("post").empty());  // app.close has no reply
  EXPECT_EQ(a.Of("controller-close").size(), 1u);

  ASSERT_TRUE(WaitUntil([&] { return deaf.Ended(); }));
  EXPECT_EQ(Fields(deaf.Read(), "close"), (std::vector<std::vector<std::string>>{{"refused"}, {"refused"}}));
  EXPECT_TRUE(keeping.Running());

  const auto main = WaitForMainWindow(noWebView, "Closing");
  ASSERT_TRUE(main);
  uidriver::Close(main->handle);
  EXPECT_EQ(noWebView.WaitForExit(), 0u);
}

// A dialog runs once the request's handler has returned: while it is open the
// page's other requests are answered, and its own answer comes when it closes.
TEST_F(WebViewHost, RequestsAreAnsweredWhileADialogIsOpen) {
  const auto scenario = Scenario("dialog", {R"(message {"id":20001,"uuid":"open","data":{"title":"Pick one"}})",
                                            R"(message {"id":10002,"uuid":"meanwhile","data":{}})"});
  const Process p = Start(Package("dialog.exe", Settings(NewAppId("dialog"), "Dialog")), scenario.env);
  const auto dialog = WaitForWindowOf(p, uidriver::WindowQuery().WithCaption("Pick one"));
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  EXPECT_EQ(Fields(scenario.Read(), "post"),
            (std::vector<std::vector<std::string>>{{R"({"uuid": "meanwhile", "success": true, "result": true})"}}));
  uidriver::Close(dialog->handle);
  ASSERT_TRUE(WaitUntil([&] { return Fields(scenario.Read(), "post").size() == 2; }));
  EXPECT_EQ(Fields(scenario.Read(), "post")[1][0], R"({"uuid": "open", "success": true, "result": ""})");
  EXPECT_TRUE(scenario.Read().Of("held").empty());
}

// Whether the page can answer a close is known from the close script's value;
// a page that cannot closes at once. A renderer that fails is reloaded, a
// browser that exits gives a new web view, and a page that answers again keeps
// its right to refuse.
TEST_F(WebViewHost, WindowClosesAtOnceWhenNoPageCanAnswer) {
  const std::string start = "await-navigate file:///index.html";
  struct Case {
    const char* label;
    std::vector<std::string> steps;  // the close comes last
    const char* close;               // what the close gave
    size_t reloads, environments;
  };
  const Case cases[] = {
      {"answers", {"script-result true"}, "refused", 0, 1},
      // A remote page without the bridge, a built-in error page, an
      // onCloseQuery that throws: the script's value is null.
      {"nohandler", {}, "closed", 0, 1},
      {"crashed", {"script-result true", "crash"}, "refused", 1, 1},
      // A renderer that fails again before its reload completed stays an error page.
      {"crashagain", {"script-result true", "crash", "crash"}, "closed", 1, 1},
      {"hung", {"script-result true", "crash hang"}, "refused", 1, 1},
      {"browsergone", {"script-result true", "crash browser"}, "closed", 0, 2},
      {"browserback", {"script-result true", start, "crash browser", start}, "refused", 0, 2},
  };
  struct Run {
    const Case& c;
    ScenarioRun scenario;
    Process process;
  };
  std::vector<Run> runs;
  for (const auto& c : cases) {
    auto steps = c.steps;
    steps.push_back("close");
    auto scenario = Scenario(c.label, steps, {{"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}});
    runs.push_back({c, scenario, Start(Package(std::string(c.label) + ".exe", Settings(NewAppId(c.label), "Closing")),
                                       scenario.env)});
  }
  for (auto& run : runs) {
    const bool closes = std::string(run.c.close) == "closed";
    if (closes) {
      EXPECT_EQ(run.process.WaitForExit(), 0u) << run.c.label;
    } else {
      ASSERT_TRUE(WaitUntil([&] { return run.scenario.Ended(); })) << run.c.label;
      Sleep(300);  // a close that would come, comes now
      EXPECT_TRUE(run.process.Running()) << run.c.label;
    }
    const auto t = run.scenario.Read();
    const auto closeLines = Fields(t, "close");
    ASSERT_EQ(closeLines.size(), 1u) << run.c.label;
    // The close script is asked first; its value closes the window later.
    // The close script is asked first, and its value closes the window; a
    // web view that is being made anew cannot answer at all.
    EXPECT_EQ(closeLines[0][0], closes && run.c.environments == 1 ? "refused" : run.c.close) << run.c.label;
    EXPECT_EQ(t.Of("reload").size(), run.c.reloads) << run.c.label;
    EXPECT_EQ(t.Of("env").size(), std::size(::fake::kWebView2Variables) * run.c.environments) << run.c.label;
    // Every web view opened the start page, once its script was in place.
    EXPECT_EQ(t.Of("navigate").size(), t.Of("document-script").size()) << run.c.label;
  }

  // A hung page gets no answer to the close script: the next report of the
  // hang closes the window.
  const auto hung = Scenario("hungclose", {"script-result true", "crash hang", "crash hang", "close", "crash hang"},
                             {{"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}});
  const Process hanging = Start(Package("hungclose.exe", Settings(NewAppId("hungclose"), "Closing")), hung.env);
  EXPECT_EQ(hanging.WaitForExit(), 0u);
  EXPECT_EQ(hung.Read().Of("reload").size(), 1u);
}

// An iframe's requests reach the bridge through its frame object and are
// answered there, also when the answer comes late (a dialog); the top
// document's stay its own, and a frame that is gone gets nothing.
TEST_F(WebViewHost, IframeRequestsAreAnsweredOnTheirFrame) {
  const auto scenario = Scenario("frames", {
      "frame side file:///side.html",
      "frame gone file:///gone.html",
      R"(frame-message side {"id":10002,"uuid":"from-side","data":{}})",
      R"(message {"id":10002,"uuid":"from-top","data":{}})",
      R"(frame-message side {"id":20001,"uuid":"side-dialog","data":{"title":"Frame dialog"}})",
      R"(frame-message gone {"id":20003,"uuid":"gone-dialog","data":{"title":"Gone dialog"}})",
      "frame-gone gone",
  });
  const Process p = Start(Package("frames.exe", Settings(NewAppId("frames"), "Frames")), scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  // The dialogs open one after the other; each is cancelled.
  for (const char* caption : {"Frame dialog", "Gone dialog"}) {
    const auto dialog = WaitForWindowOf(p, uidriver::WindowQuery().WithCaption(caption));
    ASSERT_TRUE(dialog) << caption;
    uidriver::Close(dialog->handle);
  }
  ASSERT_TRUE(WaitUntil([&] { return Fields(scenario.Read(), "frame-post").size() == 2; }));
  Sleep(300);  // a reply to the frame that is gone would come now
  const auto t = scenario.Read();
  EXPECT_EQ(Fields(t, "frame-post"), (std::vector<std::vector<std::string>>{
                                         {"side", R"({"uuid": "from-side", "success": true, "result": true})"},
                                         {"side", R"({"uuid": "side-dialog", "success": true, "result": ""})"},
                                     }));
  EXPECT_EQ(Fields(t, "post"),
            (std::vector<std::vector<std::string>>{{R"({"uuid": "from-top", "success": true, "result": true})"}}));
}

TEST_F(WebViewHost, FileLinksInANewWindowStartASecondProcess) {
  const std::string id = NewAppId("links");
  const auto scenario =
      Scenario("links", {"newwindow file:///help.html", "newwindow https://example.com/page", "newwindow FILE:///x.html"});
  const Process p = Start(Package("links.exe", Settings(id, "Links")), scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  EXPECT_EQ(Fields(scenario.Read(), "newwindow"), (std::vector<std::vector<std::string>>{
                                                      {"file:///help.html", "handled"},
                                                      {"https://example.com/page", "unhandled"},
                                                      {"FILE:///x.html", "handled"},
                                                  }));

  // Each file: link started one more process, with the ID and the address,
  // both quoted; it opens that address.
  std::map<std::string, std::string> started;  // address -> command line
  auto children = [&] {
    started.clear();
    for (const auto& name : Listing(dir_)) {
      if (name.rfind("transcript-links.log.", 0) != 0) continue;
      const Transcript t{fake::ReadTranscript(Utf8(dir_ / PathFromUtf8(name)))};
      const auto processLines = t.Of("process");
      const auto navigations = t.Of("navigate");
      if (!processLines.empty() && processLines[0].size() >= 3 && !navigations.empty())
        started[navigations[0][1]] = processLines[0][2];
    }
    return started.size() >= 2;
  };
  ASSERT_TRUE(WaitUntil(children));
  Sleep(500);
  children();
  ASSERT_EQ(started.size(), 2u);
  for (const std::string address : {"file:///help.html", "FILE:///x.html"}) {
    ASSERT_TRUE(started.count(address)) << address;
    const std::string& commandLine = started[address];
    const std::string tail = "\"" + id + "\" \"" + address + "\"";
    EXPECT_TRUE(commandLine.size() >= tail.size() && commandLine.substr(commandLine.size() - tail.size()) == tail)
        << commandLine;
  }
}

}  // namespace
}  // namespace vtl::e2e
