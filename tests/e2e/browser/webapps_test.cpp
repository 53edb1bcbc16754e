// Web apps in the real engine: the projects of tests/webapps (prepared by
// tests/webapps/prepare into the build folder), packed as a user packs them
// and run by the runtime with a real headless Chromium behind the fake loader.
// Each is checked in its page's DOM; the screenshots stay under
// build/windows/webapps/screenshots/ for a person to look at.

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <set>

#include "e2e_fixture.h"
#include "packer.h"

namespace vtl::e2e {
namespace {

constexpr char kBrowser[] = "/usr/bin/chromium-headless-shell";

fs::path WebAppsDir() { return BuildPath(VTL_E2E_WEBAPPS); }
fs::path ScreenshotsDir() {
  const fs::path dir = WebAppsDir() / "screenshots";
  fs::create_directories(dir);
  return dir;
}

class WebApps : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (!fs::exists(BuildPath(kBrowser)))
      GTEST_SKIP() << "no browser at " << kBrowser << ": the real-engine tier needs chromium-headless-shell";
    if (!fs::exists(WebAppsDir() / "spa" / "app" / "index.html"))
      GTEST_SKIP() << "no web apps in " << Utf8(WebAppsDir()) << ": run tests/webapps/prepare build/windows/webapps";
  }

  // A copy of the prepared project `name` with an application ID of this
  // test's own and `more` settings lines, packed with the fake loader.
  fs::path Pack(const std::string& name, std::string& id, const std::string& more = {}) {
    const fs::path project = dir_ / name;
    fs::remove_all(project);
    fs::copy(WebAppsDir() / name, project, fs::copy_options::recursive);
    if (id.empty()) id = NewAppId(name);
    std::string ini = ReadFile(project / "vtl.ini");
    const size_t at = ini.find("ID=");
    ini.replace(at, ini.find('\r', at) - at, "ID=" + id);
    std::ofstream(project / "vtl.ini", std::ios::binary | std::ios::trunc) << ini << more;
    pack::PackOptions options;
    options.projectDir = project;
    options.output = dir_ / (name + ".exe");
    options.runtime = RuntimeExe();
    options.loader = FakeLoaderDll();
    pack::Pack(options);
    return options.output;
  }

  // Runs `commands` in the real engine and returns the transcript once the
  // scenario ended.
  Transcript RunInEngine(const fs::path& exe, const std::string& label, const std::vector<std::string>& commands,
                         bool workers = false) {
    Transcript t = RunOnce(exe, label, commands, workers);
    // The fake's browser may fail to come up in a busy Wine session; that is
    // the engine tier's fault, not the app's, so it gets one more start.
    if (t.Of("scenario-end").empty() && !t.Of("engine-error").empty()) t = RunOnce(exe, label + "-again", commands, workers);
    return t;
  }

  Transcript RunOnce(const fs::path& exe, const std::string& label, const std::vector<std::string>& commands,
                     bool workers) {
    const auto scenario = Scenario(label, commands,
                                   {{"VTL_FAKE_BROWSER", kBrowser},
                                    // Only the tests of workers read through the package disk.
                                    {"VTL_FAKE_BROWSER_DISK", workers ? std::optional<std::string>(VTL_E2E_PACKAGE_DISK)
                                                                      : std::nullopt},
                                    {"VTL_FAKE_BROWSER_PIDS", Utf8(dir_ / "browsers.pids")},
                                    // The real page answers the close query itself.
                                    {"VTL_FAKE_PAGE_ANSWERS_CLOSE", std::nullopt}});
    const Process p = Start(exe, scenario.env);
    // A browser's first start under Wine may take its fake a second try.
    const bool ended = WaitUntil([&] { return scenario.Ended(); }, Milliseconds{90000});
    // A program closed by its scenario ends on its own, with its browser.
    if (ended && !commands.empty() && commands.back() == "close") {
      EXPECT_TRUE(p.WaitForExit(Milliseconds{20000})) << label << ": the closed program did not end";
    }
    const auto t = scenario.Read();
    if (!ended && t.Of("engine-error").empty()) {
      std::string lines;
      for (const auto& line : t.lines) {
        for (const auto& field : line) lines += field.substr(0, 300) + "\t";
        lines += "\n";
      }
      for (const auto& entry : fs::recursive_directory_iterator(LocalAppDataDir()))
        if (entry.path().filename() == "browser.log" && Utf8(entry.path()).find("vtl-e2e.") != std::string::npos)
          lines += Utf8(entry.path()) + ":\n" + ReadFile(entry.path()).substr(0, 2000) + "\n";
      ADD_FAILURE() << label << ": the scenario did not end; transcript:\n" << lines;
    }
    return t;
  }

  static std::string Shot(const std::string& name) { return Utf8(ScreenshotsDir() / (name + ".png")); }
};

// The results of the eval lines, in order.
std::vector<std::string> Evals(const Transcript& t) {
  std::vector<std::string> out;
  for (const auto& line : t.Of("eval")) out.push_back(line.at(1));
  return out;
}

std::string Timeouts(const Transcript& t) {
  std::string out;
  for (const auto& line : t.Of("wait-for-timeout")) out += line.at(1) + "\n";
  for (const auto& line : t.Of("scenario-error")) out += line.at(1) + ": " + line.at(2) + "\n";
  return out;
}

// What a page loads from its package, and what a file: page cannot have,
// in a real engine; then the same program again, closed by its window's
// close box in between as a user closes it, which finds what the page stored
// before. A dedicated worker's scripts are files the browser opens itself;
// they reach the runtime through the fake's file system (served-disk lines).
TEST_F(WebApps, PackageFilesLoadAsFromAWebServer) {
  std::string id;
  const fs::path exe = Pack("files", id);
  const std::vector<std::string> commands = {
      "wait-for document.body.dataset.done === \"1\"",
      "eval window.checks",
      "wait 500", "screenshot " + Shot("files"),
  };
  const auto first = RunInEngine(exe, "first", [&] {
    auto closing = commands;
    closing.push_back("close");
    return closing;
  }(), true);
  const auto evals = Evals(first);
  ASSERT_EQ(evals.size(), 1u) << Timeouts(first);
  const auto checks = nlohmann::json::parse(evals[0]);

  const std::string charset = "; charset=utf-8";
  const std::map<std::string, std::string> expected = {
      {"fetch text", "plain text from the package | text/plain" + charset},
      {"fetch json", R"({"kind":"json","n":3} | application/json)" + charset},
      {"fetch binary", "256 true"},
      {"fetch absolute", "3"},
      {"fetch missing", "ok false status 404"},
      {"xhr text", "200 plain text from the package"},
      {"xhr binary", "200 256"},
      {"xhr missing", "status 404"},
      {"module script", "file:///mod.mjs"},
      {"import()", "lazy chunk"},
      {"import mjs", "42 file:///mod.mjs"},
      {"mjs type", "text/javascript" + charset},
      {"worker", "classic hi"},
      {"module worker", "module hi 42"},
      {"wasm streaming", "5"},
      {"wasm instantiate", "9"},
      {"wasm type", "application/wasm"},
      {"font woff", "loaded true"},
      {"font woff2", "loaded true"},
      {"font ttf", "loaded true"},
      {"font otf", "loaded true"},
      {"image svg", "24x16"},
      {"image webp", "16x16"},
      {"image avif", "16x16"},
      {"source map", "3 true | application/json" + charset},
      {"manifest", "Package files | application/manifest+json" + charset},
      {"audio", "1.00"},
      {"audio seek", "0.50"},
      {"video", "64x48 2.00"},
      {"video seek", "1.50"},
      {"localStorage", "fresh"},
      {"indexedDB", "fresh"},
      // What file: pages cannot have fails where the page sees it.
      {"service worker",
       "ERR TypeError: Failed to register a ServiceWorker: The URL protocol of the current origin ('file://') is not "
       "supported."},
      {"cookie", "\"\""},
      {"origin", "file:// secure true"},
  };
  for (const auto& [name, want] : expected) {
    ASSERT_TRUE(checks.contains(name)) << name;
    EXPECT_EQ(checks[name].get<std::string>(), want) << name;
  }
  // The workers' scripts, which the browser opens itself, came from the
  // runtime's answers like every other file.
  const auto disk = first.Of("engine-disk");
  ASSERT_FALSE(disk.empty());
  EXPECT_EQ(disk[0].at(1), "mounted") << "the browser could not read through the runtime (DESIGN.md, \"Browser mode\")";
  std::set<std::string> readByTheBrowser;
  for (const auto& line : first.Of("served-disk"))
    if (line.at(2) == "200") readByTheBrowser.insert(line.at(1));
  for (const char* url : {"file:///worker.js", "file:///worker-helper.js", "file:///module-worker.mjs", "file:///mod.mjs"})
    EXPECT_TRUE(readByTheBrowser.contains(url)) << url << " was not served to the browser's own read";

  // Stored data lives in the browser profile under the data folder, and a
  // second start of the program finds it.
  bool storedThere = false;
  for (const auto& entry : fs::recursive_directory_iterator(DataDirOf(id) / "Win64")) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && (name == "Local Storage" || name == "IndexedDB")) storedThere = true;
  }
  EXPECT_TRUE(storedThere) << "no Local Storage or IndexedDB folder under " << Utf8(DataDirOf(id) / "Win64");
  const auto second = RunInEngine(exe, "second", {commands[0], commands[1]}, true);
  const auto again = Evals(second);
  ASSERT_EQ(again.size(), 1u) << Timeouts(second);
  const auto restored = nlohmann::json::parse(again[0]);
  EXPECT_EQ(restored["localStorage"], "restored 1");
  EXPECT_EQ(restored["indexedDB"], "restored 1");
}

// With BridgeScope=package only documents of the package get answers. The
// foreign page is a local file outside the package, opened as the start page
// and served from its absolute path, as a remote page would be opened by the
// web view: it has the bridge script, but its calls never settle. Without
// the setting it is answered, as before; the package's own page is answered
// either way.
TEST_F(WebApps, BridgeScopePackageAnswersOnlyThePackagesDocuments) {
  const fs::path outside = dir_ / "outside" / "foreign.html";
  fs::create_directories(outside.parent_path());
  std::ofstream(outside, std::ios::binary) << "<!doctype html><title>foreign</title><p>not from the package</p>";
  std::string foreign = Utf8(outside);
  for (char& c : foreign)
    if (c == '\\') c = '/';

  struct Case {
    const char* label;
    std::string settings;
    const char* answer;  // to vtl.hello(), or "no answer" within 3 s
  };
  const Case cases[] = {
      {"package-own", "BridgeScope=package\r\n", "\"2023.1\""},
      {"package-foreign", "BridgeScope=package\r\nIndexHtml=" + foreign + "\r\n", "\"no answer\""},
      {"all-foreign", "IndexHtml=" + foreign + "\r\n", "\"2023.1\""},
  };
  for (const auto& c : cases) {
    std::string id;
    const fs::path exe = Pack("files", id, c.settings);
    const auto t = RunInEngine(
        exe, c.label,
        {"wait-for document.readyState === \"complete\" && typeof vtl !== \"undefined\"",
         "eval Promise.race([vtl.hello(), new Promise((r) => setTimeout(() => r(\"no answer\"), 3000))])"
         ".then((answer) => [location.href, answer])"});
    const auto evals = Evals(t);
    ASSERT_EQ(evals.size(), 1u) << c.label << Timeouts(t);
    const auto seen = nlohmann::json::parse(evals[0]);
    EXPECT_EQ(seen[0].get<std::string>().find("foreign.html") != std::string::npos,
              std::string(c.label).ends_with("foreign"))
        << c.label << " " << seen[0];
    EXPECT_EQ(seen[1].dump(), c.answer) << c.label;
  }
}

// Our single-page app from the bundler: the first route with its fetched
// JSON, image and web font; the bridge found through its declarations; the
// lazily loaded second route after its link is followed, and back.
TEST_F(WebApps, SinglePageAppFromTheBundler) {
  std::string id;
  const fs::path exe = Pack("spa", id);
  const auto t = RunInEngine(
      exe, "spa",
      {"wait-for document.getElementById(\"view\").dataset.route === \"notes\" && "
       "document.getElementById(\"host\").dataset.ready === \"1\" && document.fonts.status === \"loaded\"",
       "eval (async () => {"
       " const view = document.getElementById(\"view\");"
       " const until = async (route) => { for (let i = 0; i < 400 && view.dataset.route !== route; i++)"
       " await new Promise((r) => setTimeout(r, 25)); };"
       " const notes = [view.innerText, document.getElementById(\"logo\").naturalWidth,"
       " document.fonts.check(\"16px Inter\"),"
       " [...document.fonts].some((f) => f.family === \"Inter\" && f.status === \"loaded\"),"
       " document.getElementById(\"host\").textContent];"
       " document.getElementById(\"about-link\").click(); await until(\"about\");"
       " const about = [location.hash, document.getElementById(\"about\")?.innerText];"
       " history.back(); await until(\"notes\");"
       " return [notes, about, view.dataset.route]; })()",
       // Last: the engine's screenshot is the end of a scenario.
       "wait 800", "screenshot " + Shot("spa")});
  const auto evals = Evals(t);
  ASSERT_EQ(evals.size(), 1u) << Timeouts(t);
  const auto result = nlohmann::json::parse(evals[0]);
  const auto& notes = result[0];
  EXPECT_EQ(notes[0], "Field notes\nPacked with vtlpack\nServed from the archive\nRoutes load lazily");
  EXPECT_EQ(notes[1], 200);
  EXPECT_EQ(notes[2], true);
  EXPECT_EQ(notes[3], true);
  EXPECT_EQ(notes[4], "in the program, bridge 2023.1");
  const auto& about = result[1];
  EXPECT_EQ(about[0], "#/about");
  // The route's text names its own chunk, a file of the build's assets.
  const std::string aboutText = about[1].is_string() ? about[1].get<std::string>() : about[1].dump();
  EXPECT_TRUE(aboutText.starts_with("About\n") && aboutText.find("This route came from about-") != std::string::npos &&
              aboutText.ends_with(".js"))
      << aboutText;
  EXPECT_EQ(result[2], "notes");  // back on the first route
}

// The presentation its npm package ships: it starts on its first slide;
// the on-screen control, the arrow key and the address move between slides.
TEST_F(WebApps, PrebuiltPresentationNavigates) {
  std::string id;
  const fs::path exe = Pack("reveal", id);
  const auto t = RunInEngine(
      exe, "reveal",
      {"wait-for typeof Reveal !== \"undefined\" && Reveal.isReady()",
       "eval (async () => {"
       " const at = () => { const i = Reveal.getIndices();"
       " return [i.h, i.v, Reveal.getCurrentSlide().querySelector(\"h1, h2\")?.textContent.trim() ?? \"\"]; };"
       " const until = async (h) => { for (let i = 0; i < 200 && Reveal.getIndices().h !== h; i++)"
       " await new Promise((r) => setTimeout(r, 25)); };"
       " const seen = [at()];"
       " document.querySelector(\".controls .navigate-right\").click(); await until(1); seen.push(at());"
       " document.dispatchEvent(new KeyboardEvent(\"keydown\", { key: \"ArrowLeft\", keyCode: 37, bubbles: true }));"
       " await until(0); seen.push(at());"
       " location.hash = \"#/2\"; await until(2); seen.push(at());"
       " return seen; })()",
       "wait 800", "screenshot " + Shot("reveal")});
  const auto evals = Evals(t);
  ASSERT_EQ(evals.size(), 1u) << Timeouts(t);
  ASSERT_FALSE(evals[0].starts_with("error")) << evals[0];
  const auto seen = nlohmann::json::parse(evals[0]);
  ASSERT_EQ(seen.size(), 4u) << evals[0];
  EXPECT_EQ(seen[0][0], 0);
  EXPECT_EQ(seen[1].dump(), R"([1,0,"Hello There"])");
  EXPECT_EQ(seen[2][0], 0);
  EXPECT_EQ(seen[3].dump(), R"([2,0,"Vertical Slides"])");
}

// SQLite compiled to WebAssembly, in a worker started from the package,
// which fetches its module from the package too.
TEST_F(WebApps, WebAssemblyAppAnswersAQuery) {
  std::string id;
  const fs::path exe = Pack("sqlite", id);
  const auto t = RunInEngine(exe, "sqlite",
                             {"wait-for document.getElementById(\"status\").dataset.state !== \"loading\"",
                              "eval [document.getElementById(\"status\").dataset.state, "
                              "document.getElementById(\"status\").textContent, "
                              "document.getElementById(\"result\").innerText]",
                              "wait 500", "screenshot " + Shot("sqlite")},
                             true);
  const auto evals = Evals(t);
  ASSERT_EQ(evals.size(), 1u) << Timeouts(t);
  const auto result = nlohmann::json::parse(evals[0]);
  EXPECT_EQ(result[0], "ready") << result[1];
  EXPECT_TRUE(result[1].get<std::string>().starts_with("SQLite 3.")) << result[1];
  EXPECT_EQ(result[2], "kind\tn\taverage\ndrupe\t2\t3.25\npome\t2\t1.35");
}

}  // namespace
}  // namespace vtl::e2e
