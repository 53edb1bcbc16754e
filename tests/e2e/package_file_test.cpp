// The package read in place from the running program's file: parts of
// entries for media (Range requests), and reads that fail while the program
// runs.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "e2e_fixture.h"

namespace vtl::e2e {
namespace {

class PackageFile : public EndToEnd {};

std::vector<std::vector<std::string>> Fields(const Transcript& t, std::string_view kind) {
  std::vector<std::vector<std::string>> out;
  for (const auto& line : t.Of(kind)) out.emplace_back(line.begin() + 1, line.end());
  return out;
}

std::string JsonEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919 + (i >> 9) * 31) & 0xFF);
  return s;
}

TEST_F(PackageFile, AnswersRangesAndSurvivesAFileThatCannotBeRead) {
  const std::string video = Pattern(300000);
  std::string script;
  for (int i = 0; script.size() < 50000; ++i) script += "console.log('line " + std::to_string(i) + "');\n";
  const std::string id = NewAppId("ranges");
  const auto exe = PackageWithFiles("ranges.exe", Settings(id, "Ranges"), {{"app/video.mp4", video}, {"app/page.js", script}});
  const std::string out = Utf8(dir_ / "out.mp4");

  struct Case {
    std::string range;
    std::string url;
    std::string status, reason, contentRange;
    std::string body;
  };
  const std::string js = "Content-Type: application/javascript; charset=utf-8";
  const Case cases[] = {
      {"bytes=1000-1999", "file:///video.mp4", "206", "Partial Content", "bytes 1000-1999/300000", video.substr(1000, 1000)},
      {"bytes=-500", "file:///video.mp4", "206", "Partial Content", "bytes 299500-299999/300000", video.substr(299500)},
      {"bytes=299990-400000", "file:///video.mp4", "206", "Partial Content", "bytes 299990-299999/300000", video.substr(299990)},
      {"bytes=300000-", "file:///video.mp4", "416", "Range Not Satisfiable", "bytes */300000", ""},
      {"bytes=40000-", "file:///page.js", "206", "Partial Content",
       "bytes 40000-" + std::to_string(script.size() - 1) + "/" + std::to_string(script.size()), script.substr(40000)},
  };
  std::vector<std::string> commands;
  for (const auto& c : cases) commands.push_back("request " + c.url + "?" + c.range + "\tRange: " + c.range);
  commands.push_back("request file:///video.mp4");
  commands.push_back("wait 4000");  // the test locks part of the program's file
  commands.push_back("request file:///video.mp4?locked");
  commands.push_back(R"(message {"id":30004,"uuid":"x1","data":{"sourceFile":"/video.mp4","targetFile":")" +
                     JsonEscaped(out) + R"("}})");
  commands.push_back("wait 4000");  // the test unlocks it
  commands.push_back("request file:///video.mp4?unlocked");
  const auto scenario = Scenario("ranges", commands);
  const Process p = Start(exe, scenario.env);

  auto responses = [&] {
    std::map<std::string, std::vector<std::string>> byUrl;
    for (const auto& line : Fields(scenario.Read(), "response")) byUrl[line[0]] = line;
    return byUrl;
  };
  ASSERT_TRUE(WaitUntil([&] { return responses().count("file:///video.mp4"); }));
  // The type is the system's for ".mp4", whatever it is called here.
  const std::string mp4 = responses()["file:///video.mp4"].at(3);
  EXPECT_TRUE(mp4.starts_with("Content-Type: ") && mp4.ends_with("; charset=utf-8")) << mp4;
  for (const auto& c : cases) {
    const auto got = responses()[c.url + "?" + c.range];
    EXPECT_EQ(got, (std::vector<std::string>{c.url + "?" + c.range, c.status, c.reason,
                                             (c.url.ends_with(".js") ? js : mp4) + "\r\nContent-Range: " +
                                                 c.contentRange + "\r\nAccept-Ranges: bytes",
                                             std::to_string(c.body.size()), fake::Sha256Hex(c.body)}))
        << c.range;
  }
  // Without Range the answer is what it always was: one header, the whole file.
  EXPECT_EQ(responses()["file:///video.mp4"],
            (std::vector<std::string>{"file:///video.mp4", "200", "OK", mp4, "300000", fake::Sha256Hex(video)}));

  // Another program locks the entry's bytes: the request is answered 500 and
  // the command fails, and the program goes on.
  const std::string bytes = ReadFile(exe);
  const size_t at = bytes.find("app/video.mp4");
  ASSERT_NE(at, std::string::npos);
  const HANDLE file = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  OVERLAPPED region{};
  region.Offset = static_cast<DWORD>(at);
  ASSERT_TRUE(LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 250000, 0, &region));
  ASSERT_TRUE(WaitUntil([&] { return !Fields(scenario.Read(), "post").empty(); }));
  UnlockFileEx(file, 0, 250000, 0, &region);
  CloseHandle(file);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));

  const auto locked = responses()["file:///video.mp4?locked"];
  ASSERT_EQ(locked.size(), 6u);
  EXPECT_EQ(locked[1], "500");
  EXPECT_EQ(locked[3], "Content-Type: text/plain; charset=utf-8");
  const auto posts = Fields(scenario.Read(), "post");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_NE(posts[0][0].find(R"("uuid": "x1", "success": false)"), std::string::npos) << posts[0][0];
  EXPECT_NE(posts[0][0].find("cannot read the package"), std::string::npos) << posts[0][0];
  EXPECT_EQ(responses()["file:///video.mp4?unlocked"],
            (std::vector<std::string>{"file:///video.mp4?unlocked", "200", "OK", mp4, "300000",
                                      fake::Sha256Hex(video)}));
}

}  // namespace
}  // namespace vtl::e2e
