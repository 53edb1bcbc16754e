// vtlpack as its users run it: the real binary on real folders.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/package_password.h"
#include "core/pe_image.h"
#include "test_support.h"

namespace vtl {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCommand;
using test::WriteFile;

const std::string kVtlpack = VTLPACK_PATH;

class Vtlpack : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "proj/app/sub");
    WriteFile(dir_ / "proj/vtl.ini", "[App]\r\nID=demo.app\r\nName=Demo\r\nDirName=app\r\nWidth=0x400\r\nAllowDebug=1\r\n");
    WriteFile(dir_ / "proj/vtl-webviewjs", "console.log('user');");
    WriteFile(dir_ / "proj/app/index.html", "<!doctype html><title>Demo</title>");
    WriteFile(dir_ / "proj/app/sub/Script.js", std::string(50000, 'j'));
    WriteFile(dir_ / "proj/app/logo.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(2000, 'p'));
    fs::copy_file(VTL_FIXTURE_RUNTIME, dir_ / "runtime.exe");
    WriteFile(dir_ / "loader.dll", "MZ fake loader");
  }

  test::RunResult Pack(const std::string& extra = "") {
    return RunCommand(kVtlpack + " pack " + Quote(dir_ / "proj") + " -o " + Quote(dir_ / "out.exe") + " --runtime " +
               Quote(dir_ / "runtime.exe") + " --loader " + Quote(dir_ / "loader.dll") + " " + extra);
  }

  // Files in the folder besides the inputs: what a failed run left behind.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      const auto n = e.path().filename().string();
      if (n != "proj" && n != "runtime.exe" && n != "loader.dll" && n != "garbage.exe") names.push_back(n);
    }
    return names;
  }

  // Where the packed program's image ends, read from its own headers.
  uint64_t ImageEndOf(const fs::path& file) {
    const std::string bytes = test::ReadFile(file);
    const auto end = ReadImageEnd(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(end.ok) << end.error;
    return end.offset;
  }

  test::TempDir dir_;
};

TEST_F(Vtlpack, HelpAndUsageErrors) {
  const auto help = RunCommand(kVtlpack + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("vtlpack pack PROJECT_DIR -o OUT.exe"), std::string::npos);
  EXPECT_EQ(RunCommand(kVtlpack + " pack --help").status, 0);
  for (const std::string args : {"", "frobnicate", "pack", "pack proj", "info", "info a b", "cat x", "info --bogus x"}) {
    const auto r = RunCommand(kVtlpack + " " + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_FALSE(r.err.empty()) << args;
  }
}

TEST_F(Vtlpack, PacksAProjectThatReadsBackEntryByEntry) {
  const auto r = Pack();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("packed 6 entries"), std::string::npos) << r.out;
  EXPECT_TRUE(Leftovers() == std::vector<std::string>{"out.exe"});

  const auto info = RunCommand(kVtlpack + " info --json " + Quote(dir_ / "out.exe"));
  ASSERT_EQ(info.status, 0) << info.err;
  const auto j = nlohmann::json::parse(info.out);
  const uint64_t imageEnd = ImageEndOf(dir_ / "out.exe");
  EXPECT_EQ(j["archiveOffset"], imageEnd);
  EXPECT_EQ(j["size"].get<uint64_t>(), imageEnd + j["archiveSize"].get<uint64_t>());
  std::vector<std::string> names;
  for (const auto& e : j["entries"]) {
    names.push_back(e["name"]);
    EXPECT_TRUE(e["encrypted"].get<bool>()) << e["name"];
    EXPECT_EQ(e["method"], e["name"] == "app/logo.png" ? "store" : "deflate") << e["name"];
  }
  EXPECT_EQ(names, (std::vector<std::string>{"vtl.ini", "vtl-webviewjs", "app/index.html", "app/logo.png",
                                             "app/sub/Script.js", "WebView2LoaderWin64.dll"}));

  const auto cat = RunCommand(kVtlpack + " cat " + Quote(dir_ / "out.exe") + " APP/SUB/script.JS");
  EXPECT_EQ(cat.status, 0);
  EXPECT_EQ(cat.out, std::string(50000, 'j'));
  const auto missing = RunCommand(kVtlpack + " cat " + Quote(dir_ / "out.exe") + " app/nope.html");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no entry"), std::string::npos);
  EXPECT_TRUE(missing.out.empty());

  const auto settings = RunCommand(kVtlpack + " settings --json " + Quote(dir_ / "out.exe"));
  ASSERT_EQ(settings.status, 0) << settings.err;
  const auto s = nlohmann::json::parse(settings.out);
  EXPECT_EQ(s["ID"], "demo.app");
  EXPECT_EQ(s["Width"], 1024);
  EXPECT_EQ(s["AllowDebug"], true);
  EXPECT_EQ(s["EdgeInstaller"], true);
  EXPECT_EQ(s["IndexHtml"], "index.html");
  EXPECT_EQ(s["BridgeScope"], "all");
  EXPECT_EQ(s.size(), 30u);
  EXPECT_NE(RunCommand(kVtlpack + " settings " + Quote(dir_ / "out.exe")).out.find("Width = 1024"), std::string::npos);
}

// The bridge's limit is one of two words. A value that is neither still
// limits the bridge, and the packer says so in one line.
TEST_F(Vtlpack, BridgeScopeIsShownAsTheProgramReadsIt) {
  struct Case {
    const char* line;
    const char* shown;
    bool warned;
  };
  const Case cases[] = {
      {"", "all", false},
      {"BridgeScope=\r\n", "all", false},
      {"BridgeScope=ALL\r\n", "all", false},
      {"BridgeScope=Package\r\n", "package", false},
      {"BridgeScope=packages\r\n", "package", true},
  };
  for (const auto& c : cases) {
    WriteFile(dir_ / "proj/vtl.ini", std::string("[App]\r\nID=demo.app\r\nName=Demo\r\nDirName=app\r\n") + c.line);
    const auto r = Pack();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("BridgeScope=packages is neither \"all\" nor \"package\"") != std::string::npos, c.warned)
        << c.line << r.err;
    const auto shown = RunCommand(kVtlpack + " settings " + Quote(dir_ / "out.exe"));
    EXPECT_NE(shown.out.find(std::string("BridgeScope = ") + c.shown + "\n"), std::string::npos) << c.line << shown.out;
  }
}

TEST_F(Vtlpack, ExtractedArchiveOpensInStandardZipTools) {
  ASSERT_EQ(Pack().status, 0);
  const auto r = RunCommand(kVtlpack + " extract " + Quote(dir_ / "out.exe") + " " + Quote(dir_ / "a.zip"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string whole = test::ReadFile(dir_ / "out.exe");
  EXPECT_EQ(test::ReadFile(dir_ / "a.zip"), whole.substr(ImageEndOf(dir_ / "out.exe")));

  const std::string pw(kPackagePassword);
  if (RunCommand("command -v unzip").status == 0) {
    const auto u = RunCommand("unzip -P " + pw + " -p " + Quote(dir_ / "a.zip") + " app/sub/Script.js");
    EXPECT_EQ(u.status, 0) << u.err;
    EXPECT_EQ(u.out, std::string(50000, 'j'));
    EXPECT_NE(RunCommand("unzip -P wrong -p " + Quote(dir_ / "a.zip") + " vtl.ini").status, 0);
  }
  if (RunCommand("command -v 7z").status == 0) {
    const auto t = RunCommand("7z t -p" + pw + " " + Quote(dir_ / "a.zip"));
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("Everything is Ok"), std::string::npos);
  }
}

TEST_F(Vtlpack, RefusesAndLeavesNothingBehind) {
  ASSERT_EQ(Pack().status, 0);
  fs::rename(dir_ / "out.exe", dir_ / "garbage.exe");
  struct Case {
    const char* label;
    std::function<void()> arrange;
    std::string args;
    const char* message;
  };
  const std::string base = kVtlpack + " pack " + Quote(dir_ / "proj") + " -o " + Quote(dir_ / "out.exe");
  const std::string loader = " --loader " + Quote(dir_ / "loader.dll");
  const std::vector<Case> cases = {
      {"runtime with an archive", [] {}, base + " --runtime " + Quote(dir_ / "garbage.exe") + loader,
       "already carries an archive"},
      {"runtime that is no executable", [&] { WriteFile(dir_ / "proj/x", "x"); },
       base + " --runtime " + Quote(dir_ / "proj/vtl.ini") + loader, "not a Windows executable"},
      {"missing loader", [] {}, base + " --runtime " + Quote(dir_ / "runtime.exe") + " --loader " + Quote(dir_ / "no.dll"),
       "is not a file"},
      {"no DirName", [&] { WriteFile(dir_ / "proj/vtl.ini", "[App]\nID=a\nName=b\n"); },
       base + " --runtime " + Quote(dir_ / "runtime.exe") + loader, "DirName is missing"},
      {"web folder missing", [&] { WriteFile(dir_ / "proj/vtl.ini", "[App]\nID=a\nName=b\nDirName=www\n"); },
       base + " --runtime " + Quote(dir_ / "runtime.exe") + loader, "does not exist"},
      {"names clash by case",
       [&] {
         WriteFile(dir_ / "proj/vtl.ini", "[App]\nID=a\nName=b\nDirName=app\n");
         WriteFile(dir_ / "proj/app/INDEX.html", "x");
       },
       base + " --runtime " + Quote(dir_ / "runtime.exe") + loader, "share the entry name"},
      {"no project", [] {}, kVtlpack + " pack " + Quote(dir_ / "nowhere") + " -o " + Quote(dir_ / "out.exe"),
       "does not exist"},
  };
  for (const auto& c : cases) {
    c.arrange();
    const auto r = RunCommand(c.args);
    EXPECT_EQ(r.status, 1) << c.label << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.label << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.label << ": " << r.err;
    EXPECT_TRUE(Leftovers().empty()) << c.label;
  }
}

TEST_F(Vtlpack, InspectingBadFilesGivesOneClearLine) {
  auto image = test::MakeRuntimeImage();
  auto withTail = [&](std::string tail) {
    std::string s(image.begin(), image.end());
    return s + tail;
  };
  struct Case {
    const char* label;
    std::string bytes;
    const char* message;
  };
  std::string cutHeader(image.begin(), image.begin() + 0x90);
  const std::vector<Case> cases = {
      {"empty file", "", "too short"},
      {"text file", std::string(200, 't'), "not a Windows executable"},
      {"cut header", cutHeader, "past the end of the file"},
      {"tail that is no archive", withTail("this is not a zip archive"), "Cannot open the package archive"},
  };
  for (const auto& c : cases) {
    WriteFile(dir_ / "bad.exe", c.bytes);
    for (const char* cmd : {"settings", "cat"}) {
      const auto r = RunCommand(kVtlpack + " " + cmd + " " + Quote(dir_ / "bad.exe") + (cmd == std::string("cat") ? " vtl.ini" : ""));
      EXPECT_EQ(r.status, 1) << c.label << " " << cmd;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.label << " " << cmd << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
  // A bare runtime is a fine thing to look at: it just has no archive.
  WriteFile(dir_ / "bare.exe", image);
  const auto bare = RunCommand(kVtlpack + " info " + Quote(dir_ / "bare.exe"));
  EXPECT_EQ(bare.status, 0);
  EXPECT_NE(bare.out.find("no archive attached"), std::string::npos);
  const auto extract = RunCommand(kVtlpack + " extract " + Quote(dir_ / "bare.exe") + " " + Quote(dir_ / "x.zip"));
  EXPECT_EQ(extract.status, 1);
  EXPECT_FALSE(fs::exists(dir_ / "x.zip"));
}

}  // namespace
}  // namespace vtl
