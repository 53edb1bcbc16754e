// The showcase in the real engine: packed from examples/showcase as a user
// packs it, every button that does not leave the window (dialogs, other
// programs, the tray, the session) pressed through the window, and each
// answer read from the page's own log lines: resolved (ok), rejected
// (error) or never answered by design (sent). The screen is kept as
// build/windows/artifacts/showcase.png.

#include <algorithm>
#include <map>

#include "browser_fixture.h"

namespace vtl::e2e {
namespace {

class ShowcaseInEngine : public RealEngine {};

// Button (data-action) and how docs/api.md says its calls settle, in the
// order the button makes them.
const std::pair<const char*, const char*> kButtons[] = {
    {"hello", "ok"},           {"isRuntime", "ok"},      {"getArgs", "ok"},      {"inFullscreen", "ok"},
    {"folders", "ok,ok,ok,ok,ok"},       {"writeTextFile", "ok"},  {"fileExists", "ok"},   {"extractFile", "ok,error"},
    {"decodeToFile", "ok"},    {"dirExists", "ok"},      {"deleteFile", "ok"},   {"missingPath", "error"},
    {"getStyle", "ok"},        {"getState", "ok"},       {"getTitle", "ok"},     {"getZoom", "ok"},
    {"zoomIn", "ok"},          {"zoomOut", "ok"},        {"zoomReset", "ok"},    {"getSize", "ok"},
    {"getTheme", "ok"},        {"getThemes", "ok"},      {"windows", "ok"},      {"writeValue", "ok"},
    {"readValue", "ok"},       {"valueExist", "ok"},     {"keyExist", "ok"},     {"deleteValue", "ok"},
    {"deleteKey", "ok"},       {"setMainMenu", "ok"},    {"brokenMenu", "error,error"}, {"enterFullscreen", "sent"},
    {"exitFullscreen", "sent"},
};

TEST_F(ShowcaseInEngine, EveryButtonPressedThroughTheWindowAnswersInThePage) {
  const fs::path exe = Pack(CopyProject(ExampleDir("showcase"), "showcase"), "showcase.exe");
  const fs::path artifacts = RuntimeExe().parent_path() / "artifacts";
  fs::create_directories(artifacts);
  std::vector<std::string> commands = {kWaitForPage, "wait-for document.getElementById('status').textContent !== ''"};
  const std::string fresh = "[...document.querySelectorAll('.log > div')].filter((d) => !window.__seen.has(d))";
  for (const auto& [action, outcome] : kButtons) {
    commands.push_back("eval (window.__seen = new Set(document.querySelectorAll('.log > div'))).size");
    commands.push_back(std::string("click [data-action=\"") + action + "\"]");
    // The press adds its line at once; the line settles with the answer.
    commands.push_back("wait-for " + fresh + ".filter((d) => d.className !== 'event').length > 0 && " + fresh +
                       ".every((d) => d.className !== 'pending')");
    commands.push_back(std::string("eval [\"") + action + "\", " + fresh +
                       ".filter((d) => d.className !== 'event').map((d) => d.className).reverse().join(','), " + fresh +
                       ".map((d) => d.textContent).join(' | ')]");
  }
  commands.push_back("wait 300");
  commands.push_back("screenshot " + Utf8(artifacts / "showcase.png"));
  commands.push_back("eval document.getElementById('user-script').textContent");
  const auto run = StartWithScenario(exe, "showcase", commands);
  ASSERT_TRUE(run.WaitForEnd(Milliseconds(300000)));
  const auto t = run.Read();
  EXPECT_TRUE(t.Of("wait-for-timeout").empty());
  for (const auto& line : t.Of("click")) EXPECT_EQ(line.at(2), "clicked") << line.at(1);

  std::map<std::string, std::string> seen, texts;
  const auto evals = run.Evals();
  for (const auto& text : evals) {
    if (text.size() < 2 || text[0] != '[' || text[1] != '"') continue;
    const size_t comma = text.find("\",");
    if (comma == std::string::npos) continue;
    // ["action","kind","the lines' texts"]
    const size_t next = text.find('"', comma + 3);
    if (next == std::string::npos) continue;
    seen[text.substr(2, comma - 2)] = text.substr(comma + 3, next - comma - 3);
    texts[text.substr(2, comma - 2)] = text.substr(next);
  }
  for (const auto& [action, outcome] : kButtons) EXPECT_EQ(seen[action], outcome) << action << texts[action];
  ASSERT_FALSE(evals.empty());
  EXPECT_NE(evals.back().find("ran before the page"), std::string::npos) << evals.back();
}

}  // namespace
}  // namespace vtl::e2e
