#pragma once

// The tier of the real engine: packages run with the fake loader in its
// browser mode, a real headless Chromium behind it, under Wine and Xvfb.
// A test packs a project folder, starts it with a scenario of eval, wait-for,
// click and screenshot commands, and reads what the page answered from the
// transcript. Every browser a test started is ended when it ends.

#include <string>
#include <vector>

#include "e2e_fixture.h"

namespace vtl::e2e {

// The browser program as a Unix path: VTL_TEST_BROWSER, or Debian's
// headless Chromium.
std::string BrowserProgram();
// Starts a Unix program (Wine runs it by its path); no handle comes back.
bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments);

class RealEngine : public EndToEnd {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Where the browsers' process groups are written, one a line.
  std::string PidsPath() const { return Utf8(dir_ / "browsers.pids"); }
  // The fake's environment in browser mode, with `more`.
  Environment BrowserEnvironment(Environment more = {}) const;
  // The environment entry that lets the browser read a worker's scripts
  // from the package (DESIGN.md, "Browser mode"); only the tests of workers
  // ask for it.
  static std::pair<std::string, std::optional<std::string>> PackageDisk() {
    return {"VTL_FAKE_BROWSER_DISK", VTL_E2E_PACKAGE_DISK};
  }

  // A project folder under the test's folder: vtl.ini from `settings` and
  // the files (path relative to the project, with "/"; bytes).
  fs::path Project(const std::string& name, const std::string& settings,
                   const std::vector<std::pair<std::string, std::string>>& files);
  // A copy of a project folder (such as an example) with an application ID
  // of this test's own, as the folder it is.
  fs::path CopyProject(const fs::path& source, const std::string& name);
  // The project packed as a user packs it, with the fake loader inside.
  fs::path Pack(const fs::path& project, const std::string& fileName);

  // A program started with a scenario in browser mode, and what it wrote.
  struct Run {
    ScenarioRun scenario;
    Process process;
    Transcript Read() const { return scenario.Read(); }
    // The results of the eval commands, in order.
    std::vector<std::string> Evals() const;
    bool WaitForEnd(Milliseconds timeout = Milliseconds(120000)) const;
  };
  Run StartWithScenario(const fs::path& exe, const std::string& label, const std::vector<std::string>& commands,
                        Environment more = {});
};

// "wait-for" for the start page of a package: loaded, with the bridge.
inline constexpr char kWaitForPage[] =
    "wait-for location.protocol === 'file:' && document.readyState === 'complete' && !!window.vtl";

}  // namespace vtl::e2e
