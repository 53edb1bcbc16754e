// The commands of the dialog, file, folder, Base64, application, window and
// theme namespaces, driven through the dispatcher with in-memory platforms.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_doubles.h"
#include "core/bridge/app_path.h"
#include "core/bridge/base64.h"
#include "core/bridge/number_text.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "test_support.h"

namespace vtl {
namespace {

using test::BridgeHarness;

std::string Ok(std::string_view result) { return BridgeHarness::Reply(true, result); }
std::string Fail(std::string_view result) { return BridgeHarness::Reply(false, result); }

struct CommandCase {
  int id;
  const char* data;
  const char* result;  // nullptr: no reply at all
  bool success = true;
};

// Runs each case on a fresh harness prepared by `setUp`.
template <typename SetUp>
void RunCases(std::initializer_list<CommandCase> cases, SetUp setUp) {
  for (const CommandCase& c : cases) {
    BridgeHarness h;
    setUp(h);
    const auto reply = h.Call(c.id, c.data);
    SCOPED_TRACE(std::to_string(c.id) + " " + c.data);
    if (c.result == nullptr) {
      EXPECT_FALSE(reply) << *reply;
    } else {
      ASSERT_TRUE(reply);
      EXPECT_EQ(*reply, BridgeHarness::Reply(c.success, c.result));
    }
  }
}

TEST(AppPath, ResolveAppPath) {
  const struct {
    const char* path;
    const char* resolved;
  } cases[] = {
      {"data/notes.txt", "C:\\App\\data\\notes.txt"},
      {"/notes.txt", "C:\\App\\\\notes.txt"},
      {"notes.txt", "C:\\App\\notes.txt"},
      {"D:/x/y.txt", "D:/x/y.txt"},
      {"d:rel.txt", "d:rel.txt"},
      {"\\\\server\\share\\f.txt", "\\\\server\\share\\f.txt"},
      {"\\\\server", "C:\\App\\\\\\server"},
      {"\\rooted.txt", "C:\\App\\\\rooted.txt"},
      {"1:x", "C:\\App\\1:x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveAppPath(c.path, "C:\\App\\"), c.resolved) << c.path;
  EXPECT_EQ(ExtractFilePath("C:\\a/b\\c.txt"), "C:\\a/b\\");
  EXPECT_EQ(ExtractFilePath("c.txt"), "");
}

TEST(Base64, GroupingRules) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"SGk=", "Hi"},
      {"SGk", ""},            // no complete group
      {"SGVsbG8=SGk", "Hello"},  // the "=" ends the complete groups; the rest is ignored
      {"SGVsbG8h", "Hello!"},
      {"QQ==", "A"},
      {"", ""},
      {"SGVs\nbG8h", "Hel\x01\xB1\xBC"},  // the line break counts and shifts the groups
      {"====", std::string(1, '\0')},     // three bytes, two dropped
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
}

TEST(NumberText, GeneralFormat) {
  const struct {
    double value;
    const char* dot;
    const char* comma;
  } cases[] = {
      {1.25, "1.25", "1,25"},  {1, "1", "1"},           {0, "0", "0"},
      {-0.5, "-0.5", "-0,5"},  {100, "100", "100"},     {0.1, "0.1", "0,1"},
      {0.00001, "0.00001", "0,00001"}, {0.0000015, "1.5E-6", "1,5E-6"}, {1e20, "1E20", "1E20"},
      {123456789012345, "123456789012345", "123456789012345"}, {1.0 / 3, "0.333333333333333", "0,333333333333333"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatGeneralFloat(c.value, "."), c.dot);
    EXPECT_EQ(FormatGeneralFloat(c.value, ","), c.comma);
  }
}

TEST(NumberText, DotFloatAndLeadingInteger) {
  double v = 0;
  for (const char* text : {"1.5", " 1.5 ", "+1.5", "15e-1", ".5", "1.", "-2"}) EXPECT_TRUE(TryParseDotFloat(text, v)) << text;
  for (const char* text : {"", "1,5", "abc", "1.5x", "inf", "nan", "0x10", "1e", ".", "1e999", "--1"})
    EXPECT_FALSE(TryParseDotFloat(text, v)) << text;
  EXPECT_TRUE(TryParseDotFloat("1.5", v));
  EXPECT_EQ(v, 1.5);

  const struct {
    const char* text;
    int32_t value;
  } ints[] = {{"250.5", 250}, {"12px", 12}, {"abc", 0}, {"true", 0}, {"  -7", -7}, {"$1F", 31}, {"0x10", 16},
              {"X1a", 26},    {"", 0},      {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}, {"10.9", 10}};
  for (const auto& c : ints) EXPECT_EQ(LeadingInt32(c.text), c.value) << c.text;
}

TEST(FileCommands, ErrorsAndAnswers) {
  const auto setUp = [](BridgeHarness& h) {
    h.files.AddFile("C:\\App\\data\\notes.txt", "n");
    h.files.ForceDirectories("C:\\App\\logs");
  };
  RunCases(
      {
          {30001, "{}", "\"Missing filePath\"", false},
          {30001, R"({"filePath": ""})", "\"Missing filePath\"", false},
          {30001, R"({"filePath": null})", "\"Missing filePath\"", false},
          {30001, R"({"filePath": "data/notes.txt"})", "true"},
          {30001, R"({"filePath": "/data/notes.txt"})", "true"},
          {30001, R"({"filePath": "C:\\App\\data\\notes.txt"})", "true"},
          {30001, R"({"filePath": "data"})", "false"},  // a folder is no file
          {30001, R"({"filePath": []})", nullptr},
          {30002, "{}", "\"Missing filePath\"", false},
          {30002, R"({"filePath": "data/notes.txt"})", "true"},
          {30002, R"({"filePath": "missing.txt"})", "false"},
          {30003, R"({"contents": "x"})", "\"Missing filePath\"", false},
          {30004, R"({"targetFile": "x"})", "\"Missing sourceFile\"", false},
          {30004, R"({"sourceFile": "/index.html"})", "\"Missing targetFile\"", false},
          {40001, "{}", "\"Missing dirPath\"", false},
          {40001, R"({"dirPath": "logs"})", "true"},
          {40001, R"({"dirPath": "data/notes.txt"})", "false"},
          {40002, R"({"dirPath": ""})", "\"Missing dirPath\"", false},
          {40002, R"({"dirPath": "missing"})", "false"},
          {40002, R"({"dirPath": "data/notes.txt"})", "true"},  // the shell deletes a file too
          {40003, "{}", R"("C:\\Users\\u\\AppData\\Local\\Temp\\")"},
          {40004, "{}", R"("C:\\Users\\u\\Documents\\")"},
          {40005, "{}", R"("C:\\Users\\u\\Desktop\\")"},
          {40006, "{}", R"("C:\\App\\")"},
          {40007, "{}", R"("C:\\Users\\u\\AppData\\Roaming\\")"},
          {90001, "{}", "\"Missing filePath\"", false},
      },
      setUp);
}

TEST(FileCommands, DeleteDirTakesTheContents) {
  BridgeHarness h;
  h.files.AddFile("C:\\App\\logs\\a\\b.txt", "b");
  EXPECT_EQ(h.Call(40002, R"({"dirPath": "logs"})"), Ok("true"));
  EXPECT_TRUE(h.files.files.empty());
  EXPECT_FALSE(h.files.DirectoryExists("C:\\App\\logs\\a"));
}

TEST(FileCommands, FolderWithoutTrailingBackslashGetsOne) {
  BridgeHarness h;
  h.environment.temp = "C:\\Temp";
  h.environment.desktop = "";
  EXPECT_EQ(h.Call(40003), Ok(R"("C:\\Temp\\")"));
  EXPECT_EQ(h.Call(40005), Ok(R"("\\")"));
}

TEST(FileCommands, WriteTextFileBytes) {
  const struct {
    const char* data;
    std::string bytes;
  } cases[] = {
      {R"({"filePath": "t.txt", "contents": "a\nb"})", "\xEF\xBB\xBF" "a\r\nb\r\n"},
      {R"({"filePath": "t.txt"})", "\xEF\xBB\xBF"},
      {R"({"filePath": "t.txt", "contents": ""})", "\xEF\xBB\xBF"},
      {R"({"filePath": "t.txt", "contents": "a\r\n"})", "\xEF\xBB\xBF" "a\r\n"},
      {R"({"filePath": "t.txt", "contents": "a\r\rb\r\n\nc"})", "\xEF\xBB\xBF" "a\r\n\r\nb\r\n\r\nc\r\n"},
      {R"({"filePath": "t.txt", "contents": "\n"})", "\xEF\xBB\xBF\r\n"},
      {R"({"filePath": "t.txt", "contents": "\u00e9\u20ac"})", "\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC\r\n"},
      {R"({"filePath": "t.txt", "contents": 12})", "\xEF\xBB\xBF" "12\r\n"},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    h.files.AddFile("C:\\App\\t.txt", "old contents that are longer");
    EXPECT_EQ(h.Call(30003, c.data), Ok("true")) << c.data;
    EXPECT_EQ(h.files.Read("C:\\App\\t.txt"), c.bytes) << c.data;
  }
}

TEST(FileCommands, WritesCreateTheirFoldersAndReportErrors) {
  BridgeHarness h;
  EXPECT_EQ(h.Call(30003, R"({"filePath": "logs/today.txt", "contents": "x"})"), Ok("true"));
  EXPECT_TRUE(h.files.DirectoryExists("C:\\App\\logs"));
  EXPECT_EQ(h.Call(90001, R"({"filePath": "D:/deep/er/bin.dat", "contents": "SGk="})"), Ok("true"));
  EXPECT_EQ(h.files.Read("D:\\deep\\er\\bin.dat"), "Hi");
  EXPECT_EQ(h.Call(90001, R"({"filePath": "D:/empty.dat", "contents": "SGk"})"), Ok("true"));
  EXPECT_EQ(h.files.Read("D:\\empty.dat"), "");

  // "contents" of the wrong kind is answered, unlike a wrong "filePath".
  EXPECT_EQ(h.Call(30003, R"({"filePath": "a.txt", "contents": {}})"),
            Fail(R"("Conversion from object to string is not supported")"));
  EXPECT_EQ(h.Call(90001, R"({"filePath": "a.bin", "contents": [1]})"),
            Fail(R"("Conversion from array to string is not supported")"));

  h.files.readOnly = true;
  EXPECT_EQ(h.Call(30003, R"({"filePath": "C:/locked/a.txt"})"),
            Fail(R"("Cannot create file \"C:\/locked\/a.txt\". The system cannot find the path specified")"));
  EXPECT_TRUE(h.errors.empty());
}

// A package with app/index.html and app/data/list.json under DirName "app".
struct PackageFixture {
  std::vector<uint8_t> archive = test::MakeZip(
      {{"vtl.ini", "[App]\r\nDirName=app\r\n"}, {"app/index.html", "<html>"}, {"app/data/list.json", "[1,2]"}},
      kPackagePassword);
  RuntimeZip zip;
  IniDocument ini;
  PackageFixture() {
    zip.SetPassword(kPackagePassword);
    zip.Open(archive);
    LoadRuntimeINI(zip, ini);
  }
  void Attach(BridgeHarness& h) {
    h.module.ExeZip = &zip;
    h.module.ProjectINI = &ini;
  }
};

TEST(FileCommands, ExtractFileNaming) {
  PackageFixture package;
  const struct {
    const char* data;
    const char* result;
    bool success;
  } cases[] = {
      {R"({"sourceFile": "/index.html", "targetFile": "C:\\out\\i.html"})", "true", true},
      {R"({"sourceFile": "/INDEX.HTML", "targetFile": "C:\\out\\i.html"})", "true", true},
      {R"({"sourceFile": "index.html", "targetFile": "C:\\out\\i.html"})", "\"File not found\"", false},
      {R"({"sourceFile": "\\index.html", "targetFile": "C:\\out\\i.html"})", "\"File not found\"", false},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    package.Attach(h);
    h.files.AddFile("C:\\out\\i.html", "kept");
    EXPECT_EQ(h.Call(30004, c.data), BridgeHarness::Reply(c.success, c.result)) << c.data;
    EXPECT_EQ(h.files.Read("C:\\out\\i.html"), c.success ? "<html>" : "kept") << c.data;
  }
}

TEST(FileCommands, ExtractFileFailures) {
  PackageFixture package;
  BridgeHarness h;
  package.Attach(h);
  // No folders are made for the target, and "targetFile" is not resolved: a
  // target that cannot be created ends the message without a reply.
  EXPECT_FALSE(h.Call(30004, R"({"sourceFile": "/data/list.json", "targetFile": "C:/no/such/list.json"})"));
  ASSERT_EQ(h.errors.size(), 1u);
  EXPECT_NE(h.errors[0].find("Cannot create file"), std::string::npos);
  EXPECT_FALSE(h.files.DirectoryExists("C:\\no"));

  // A write that fails part-way is answered; the partial target stays.
  h.files.diskSpace = 2;
  h.files.AddFile("C:\\out\\keep.txt", "");
  EXPECT_EQ(h.Call(30004, R"({"sourceFile": "/data/list.json", "targetFile": "C:\\out\\list.json"})"),
            Fail(R"("There is not enough space on the disk")"));
  EXPECT_TRUE(h.files.FileExists("C:\\out\\list.json"));

  // Relative targets are the caller's business (the current folder).
  h.files.diskSpace = 1 << 20;
  EXPECT_EQ(h.Call(30004, R"({"sourceFile": "/data/list.json", "targetFile": "list.json"})"), Ok("true"));
  EXPECT_EQ(h.files.Read("list.json"), "[1,2]");
}

TEST(AppCommands, Answers) {
  RunCases(
      {
          {10001, "{}", "\"2023.1\""},
          {10002, "{}", "true"},
          {50001, "{}", nullptr},
          {50002, "{}", "false"},
          {50003, "{}", nullptr},
          {50004, "{}", nullptr},
      },
      [](BridgeHarness&) {});
}

TEST(AppCommands, GetArgs) {
  const struct {
    const char* commandLine;
    const char* result;
  } cases[] = {
      {"\"C:\\App\\My App.exe\"", R"(["C:\\App\\My App.exe"])"},
      {"app.exe com.example.app file:///index.html?a=1",
       R"(["C:\\App\\My App.exe","com.example.app","file:\/\/\/index.html?a=1"])"},
      {"app.exe \"two words\" \"\" x\"y z\"", R"(["C:\\App\\My App.exe","two words","xy z"])"},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    h.environment.commandLine = c.commandLine;
    EXPECT_EQ(h.Call(50005), Ok(c.result)) << c.commandLine;
  }
}

TEST(AppCommands, CloseRaisesTheRequestOnly) {
  BridgeHarness h;
  EXPECT_FALSE(h.Call(50001));  // nobody listens: nothing happens
  int requests = 0;
  h.module.OnAppCloseRequest = [&] { ++requests; };
  EXPECT_FALSE(h.Call(50001));
  EXPECT_EQ(requests, 1);
}

TEST(AppCommands, FullScreenStateMachine) {
  const struct {
    const char* ini;  // the package settings
    bool startsFullScreen;
    std::vector<int> commands;
    std::vector<std::string> calls;
    bool inFullscreen;
  } cases[] = {
      {"", false, {50003, 50003}, {"border 0", "state maximized"}, true},
      {"", false, {50004}, {}, false},
      {"", false, {50003, 50004}, {"border 0", "state maximized", "state normal", "border 2"}, false},
      {"[App]\r\nWindowBorder=3\r\n", false, {50003, 50004, 50004},
       {"border 0", "state maximized", "state normal", "border 3"}, false},
      {"[App]\r\nWindowBorder=3\r\n", true, {50003, 50004}, {"state normal", "border 3"}, false},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    IniDocument ini;
    ini.Load(c.ini);
    h.module.ProjectINI = &ini;
    h.module.InFullscreen = c.startsFullScreen;
    for (const int id : c.commands) EXPECT_FALSE(h.Call(id));
    EXPECT_EQ(h.window.calls, c.calls);
    EXPECT_EQ(h.Call(50002), Ok(c.inFullscreen ? "true" : "false"));
  }
}

TEST(AppCommands, SetStateInFullScreenKeepsTheFlag) {
  BridgeHarness h;
  h.Call(50003);
  EXPECT_EQ(h.Call(60004, R"({"state": "normal"})"), Ok("true"));
  EXPECT_EQ(h.window.border, 0);
  EXPECT_EQ(h.Call(50002), Ok("true"));
  h.Call(50004);
  EXPECT_EQ(h.window.border, 2);
}

TEST(WindowCommands, StyleStateTitle) {
  RunCases(
      {
          {60001, "{}", "\"normal\""},
          {60002, "{}", "true"},
          {60002, R"({"style": "ontop"})", "true"},
          {60003, "{}", "\"normal\""},
          {60004, R"({"state": "bogus"})", "true"},
          {60004, R"({"state": {}})", nullptr},
          {60005, "{}", "\"My App\""},
          {60006, "{}", "true"},
      },
      [](BridgeHarness&) {});

  const struct {
    const char* style;
    bool onTop;
  } styles[] = {{R"({"style": "ontop"})", true}, {R"({"style": "OnTop"})", false}, {"{}", false},
                {R"({"style": ""})", false},    {R"({"style": "normal"})", false}};
  for (const auto& s : styles) {
    BridgeHarness h;
    h.window.onTop = !s.onTop;
    h.Call(60002, s.style);
    EXPECT_EQ(h.window.onTop, s.onTop) << s.style;
    EXPECT_EQ(h.Call(60001), Ok(s.onTop ? "\"ontop\"" : "\"normal\"")) << s.style;
  }

  BridgeHarness h;
  h.Call(60006, R"({"title": "say \"hi\" \\ bye"})");
  EXPECT_EQ(h.Call(60005), Ok(R"("say \"hi\" \\ bye")"));
  h.Call(60006, R"({"title": null})");
  EXPECT_EQ(h.window.caption, "");
}

TEST(WindowCommands, SetStateWithAndWithoutTrayIcon) {
  const struct {
    bool tray;
    const char* state;
    std::vector<std::string> calls;
    const char* answer;
  } cases[] = {
      {false, "minimized", {"state minimized"}, "\"minimized\""},
      {true, "minimized", {"state minimized", "hide"}, "\"minimized\""},
      {true, "normal", {"state normal", "show"}, "\"normal\""},
      {true, "maximized", {"state maximized", "show"}, "\"maximized\""},
      {false, "maximized", {"state maximized"}, "\"maximized\""},
      {true, "Normal", {}, "\"normal\""},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    h.trayIconShown = c.tray;
    EXPECT_EQ(h.Call(60004, std::string(R"({"state": ")") + c.state + "\"}"), Ok("true"));
    EXPECT_EQ(h.window.calls, c.calls) << c.state;
    EXPECT_EQ(h.Call(60003), Ok(c.answer)) << c.state;
  }
}

TEST(WindowCommands, Zoom) {
  const struct {
    const char* data;
    const char* answer;
    double zoom;
  } cases[] = {
      {R"({"factor": 1.5})", "true", 1.5},   {R"({"factor": "1.5"})", "true", 1.5},
      {R"({"factor": "1,5"})", "false", 1},  {"{}", "false", 1},
      {R"({"factor": "abc"})", "false", 1},  {R"({"factor": -3})", "true", -3},  // no range check here
      {R"({"factor": true})", "false", 1},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    h.webView.zoom = 2;
    EXPECT_EQ(h.Call(60008, c.data), Ok(c.answer)) << c.data;
    EXPECT_EQ(h.webView.zoom, c.zoom) << c.data;
  }

  BridgeHarness h;
  h.webView.zoom = 0;  // no controller yet
  EXPECT_EQ(h.Call(60007), Ok("\"0\""));
  h.Call(60008, R"({"factor": 1.25})");
  EXPECT_EQ(h.Call(60007), Ok("\"1.25\""));
  h.environment.decimalSeparator = ",";
  h.Call(60008, R"({"factor": 1.5})");
  EXPECT_EQ(h.Call(60007), Ok("\"1,5\""));
  // Not accepted back.
  EXPECT_EQ(h.Call(60008, R"({"factor": "1,5"})"), Ok("false"));
}

TEST(WindowCommands, Size) {
  const struct {
    const char* data;
    WindowBounds bounds;  // left, top, width, height
  } cases[] = {
      {"{}", {100, 50, 800, 600}},
      {R"({"width": 640})", {100, 50, 640, 600}},
      {R"({"top": 10.9})", {100, 10, 800, 600}},
      {R"({"top": "-5", "left": "$10", "width": "12px", "height": "0x20"})", {16, -5, 120, 40}},
      {R"({"width": "abc"})", {100, 50, 120, 600}},  // 0, raised by the minimum size
      {R"({"height": true, "left": null})", {100, 50, 800, 40}},
  };
  for (const auto& c : cases) {
    BridgeHarness h;
    EXPECT_EQ(h.Call(60010, c.data), Ok("true")) << c.data;
    EXPECT_EQ(h.window.bounds, c.bounds) << c.data;
  }
  BridgeHarness h;
  h.window.bounds = {-8, 3, 1024, 768};
  EXPECT_EQ(h.Call(60009), Ok(R"({"top": 3, "left": -8, "width": 1024, "height": 768})"));
  EXPECT_FALSE(h.Call(60010, R"({"width": [1]})"));
}

TEST(DialogCommands, OptionsAndAnswers) {
  BridgeHarness h;
  h.dialogs.answers = {"C:\\docs\\a \"b\".txt", "", "C:\\picked", "D:\\"};
  EXPECT_EQ(h.Call(20001), Ok(R"("C:\\docs\\a \"b\".txt")"));
  EXPECT_EQ(h.Call(20002, R"({"fileName": "n.txt", "title": "", "overwritePrompt": 1,
                              "fileTypes": "Web pages|*.html;Scripts|*.js;A|B|C;Images|*.png;*.jpg;"})"),
            Ok(R"("")"));
  EXPECT_EQ(h.Call(20003), Ok(R"("C:\\picked\\")"));
  EXPECT_EQ(h.Call(20003, R"({"title": "Pick"})"), Ok(R"("D:\\")"));
  EXPECT_EQ(h.Call(20003), Ok(R"("")"));

  ASSERT_EQ(h.dialogs.runs.size(), 5u);
  const FileDialogOptions& open = h.dialogs.runs[0].second;
  EXPECT_EQ(h.dialogs.runs[0].first, "open");
  EXPECT_EQ(open.title, "Open file");
  EXPECT_EQ(open.fileName, "");
  EXPECT_TRUE(open.fileTypes.empty());
  EXPECT_FALSE(open.overwritePrompt);

  const FileDialogOptions& save = h.dialogs.runs[1].second;
  EXPECT_EQ(save.title, "");
  EXPECT_EQ(save.fileName, "n.txt");
  EXPECT_TRUE(save.overwritePrompt);
  std::vector<std::string> types;
  for (const FileType& t : save.fileTypes) types.push_back(t.name + "=" + t.mask);
  EXPECT_EQ(types, (std::vector<std::string>{"Web pages=*.html", "Scripts=*.js", "Images=*.png"}));

  EXPECT_EQ(h.dialogs.runs[2].second.title, "Save file");  // selFolder's default title
  EXPECT_EQ(h.dialogs.runs[3].second.title, "Pick");

  // An object as title, or a non-Boolean text as the prompt: no dialog, no reply.
  EXPECT_FALSE(h.Call(20001, R"({"title": {}})"));
  EXPECT_FALSE(h.Call(20002, R"({"overwritePrompt": "maybe"})"));
  EXPECT_EQ(h.dialogs.runs.size(), 5u);
}

TEST(ThemeCommands, NamesAndCaseRules) {
  BridgeHarness h;
  EXPECT_EQ(h.Call(80001), Ok("\"Windows\""));
  EXPECT_EQ(h.Call(80002),
            Ok(R"(["Amakrits","Amethyst Kamri","Aqua Graphite","Aqua Light Slate","Auric","Carbon",)"
               R"("Charcoal Dark Slate","Cobalt XEMedia","Cyan Dusk","Cyan Night","Emerald Light Slate","Glossy",)"
               R"("Glow","Golden Graphite","Iceberg Classico","Lavender Classico","Light","Luna",)"
               R"("Metropolis UI Black","Metropolis UI Blue","Metropolis UI Dark","Metropolis UI Green","Obsidian",)"
               R"("Onyx Blue","Ruby Graphite","Sapphire Kamri","Silver","Sky","Slate Classico",)"
               R"("Smokey Quartz Kamri","Tablet Dark","Tablet Light","Turquoise Gray","Windows","Windows10",)"
               R"("Windows10 Blue","Windows10 Dark","Windows10 Green","Windows10 Purple","Windows10 SlateGray"])"));

  const struct {
    const char* data;
    const char* answer;
    const char* active;
  } steps[] = {
      {R"({"name": "Carbon"})", "true", "Carbon"},
      {R"({"name": "carbon"})", "false", "Carbon"},  // applied all the same
      {R"({"name": "Sky"})", "true", "Sky"},
      {R"({"name": "No Such Style"})", "false", "Sky"},
      {"{}", "false", "Sky"},
      {R"({"name": "Windows10"})", "true", "Windows10"},
      {R"({"name": "WINDOWS"})", "false", "Windows"},
      {R"({"name": "Windows"})", "true", "Windows"},
      {R"({"name": "Windows"})", "true", "Windows"},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(h.Call(80003, s.data), Ok(s.answer)) << s.data;
    EXPECT_EQ(h.Call(80001), Ok(std::string("\"") + s.active + "\"")) << s.data;
  }
  EXPECT_TRUE(h.styles.shown.empty());  // the page never sees the error message
  EXPECT_FALSE(h.Call(80003, R"({"name": ["Carbon"]})"));
}

}  // namespace
}  // namespace vtl
