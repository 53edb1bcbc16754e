// The package read in place from the running program's file: parts of
// entries for media (Range requests), and reads that fail while the program
// runs.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>

#include "e2e_fixture.h"
#include "win32/text.h"

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

// Wine, like Windows, opens no running program for writing; its Unix side
// can still change the file, as a file server can. Wine starts Unix
// programs through CreateProcess.
std::string UnixPath(const fs::path& p) {
  using Convert = char*(CDECL*)(LPCWSTR);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return {};
  char* unix = convert(p.c_str());
  std::string out = unix ? unix : "";
  if (unix) HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// Starts a Unix program; a test waits for its effect (Wine gives no exit code
// of a Unix process to wait for).
bool StartUnix(const std::vector<std::string>& argv) {
  // Quoted as CommandLineToArgvW reads it back (no argument here ends in a backslash).
  std::wstring line;
  for (const auto& a : argv) {
    std::string quoted = "\"";
    for (const char c : a) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    line += (line.empty() ? L"" : L" ") + win32::Widen(quoted + "\"");
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring program = win32::Widen("Z:" + argv[0]);
  std::replace(program.begin(), program.end(), L'/', L'\\');
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", argv[0].c_str(), GetLastError());
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// Runs a Unix program until `done` holds: on a busy machine Wine now and
// then never starts a Unix program, so one that shows no effect in 15 s is
// started again, three times at most.
bool RunUnix(const std::vector<std::string>& argv, const std::function<bool()>& done) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!StartUnix(argv)) return false;
    if (WaitUntil(done, Milliseconds{15000})) return true;
  }
  return false;
}

void Touch(const fs::path& file) { std::ofstream(file, std::ios::binary) << "1"; }

// The transcript as text, for a failure's message.
std::string Lines(const Transcript& t) {
  std::string out;
  for (const auto& line : t.lines) {
    for (const auto& field : line) out += field.substr(0, 200) + "\t";
    out += "\n";
  }
  return out;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919 + (i >> 9) * 31) & 0xFF);
  return s;
}

// The scenario and the test take turns: each step outside the program ends
// with a marker file the scenario awaits before its next request.
TEST_F(PackageFile, AnswersRangesAndSurvivesAFileThatCannotBeRead) {
  const std::string video = Pattern(300000);
  std::string script;
  for (int i = 0; script.size() < 50000; ++i) script += "console.log('line " + std::to_string(i) + "');\n";
  const std::string id = NewAppId("ranges");
  const auto exe = PackageWithFiles("ranges.exe", Settings(id, "Ranges"), {{"app/video.mp4", video}, {"app/page.js", script}});
  const std::string out = Utf8(dir_ / "out.mp4");
  const fs::path cut = dir_ / "cut.done", restored = dir_ / "restored.done", renamedDone = dir_ / "renamed.done";

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
  commands.push_back("await-file " + Utf8(cut));  // the test cuts the program's file short
  commands.push_back("request file:///video.mp4?locked");
  commands.push_back(R"(message {"id":30004,"uuid":"x1","data":{"sourceFile":"/video.mp4","targetFile":")" +
                     JsonEscaped(out) + R"("}})");
  commands.push_back("await-file " + Utf8(restored));  // the test puts the bytes back
  commands.push_back("request file:///video.mp4?unlocked");
  commands.push_back("await-file " + Utf8(renamedDone));  // the test renames the program and puts another in its place
  commands.push_back("request file:///video.mp4?renamed");
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

  // The program's file is cut short inside the entry's bytes while it runs,
  // as a lost share or an updater would leave it: the request is answered
  // 500, the command fails, and the program goes on; with the bytes back, it
  // answers again.
  const std::string bytes = ReadFile(exe);
  const size_t at = bytes.find("app/video.mp4");
  ASSERT_NE(at, std::string::npos);
  const fs::path copy = dir_ / "ranges.orig";
  ASSERT_TRUE(CopyFileW(exe.c_str(), copy.c_str(), FALSE));
  auto sizeIs = [&](uint64_t n) {
    std::error_code ec;
    return fs::file_size(exe, ec) == n;
  };
  ASSERT_TRUE(RunUnix({"/usr/bin/truncate", "-s", std::to_string(at + 1000), UnixPath(exe)},
                      [&] { return sizeIs(at + 1000); }));
  Touch(cut);
  ASSERT_TRUE(WaitUntil([&] { return !Fields(scenario.Read(), "post").empty(); })) << Lines(scenario.Read());
  // The cut bytes are appended again, in place: the same file. (Copying the
  // whole file over it would empty it for a moment, and the running image is
  // mapped from it.)
  const std::string cutAt = std::to_string(at + 1000);
  ASSERT_TRUE(RunUnix({"/bin/sh", "-c",
                       "[ $(stat -c %s \"$2\") = " + cutAt + " ] && tail -c +$((" + cutAt + " + 1)) \"$1\" >>\"$2\"",
                       "restore", UnixPath(copy), UnixPath(exe)},
                      [&] { return sizeIs(bytes.size()); }));
  Touch(restored);

  // An updater may rename the running program and put a new one in its
  // place; the program goes on reading its own file.
  ASSERT_TRUE(WaitUntil([&] { return responses().count("file:///video.mp4?unlocked"); })) << Lines(scenario.Read());
  const fs::path renamed = dir_ / "ranges.old.exe";
  ASSERT_TRUE(MoveFileExW(exe.c_str(), renamed.c_str(), 0)) << GetLastError();
  std::ofstream(exe, std::ios::binary) << "a newer program";
  Touch(renamedDone);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); })) << Lines(scenario.Read());

  const auto locked = responses()["file:///video.mp4?locked"];
  ASSERT_EQ(locked.size(), 6u);
  EXPECT_EQ(locked[1], "500");
  EXPECT_EQ(locked[3], "Content-Type: text/plain; charset=utf-8");
  const auto posts = Fields(scenario.Read(), "post");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_NE(posts[0][0].find(R"("uuid": "x1", "success": false)"), std::string::npos) << posts[0][0];
  EXPECT_NE(posts[0][0].find("cannot read the package"), std::string::npos) << posts[0][0];
  EXPECT_EQ(responses()["file:///video.mp4?renamed"],
            (std::vector<std::string>{"file:///video.mp4?renamed", "200", "OK", mp4, "300000", fake::Sha256Hex(video)}));
  EXPECT_EQ(responses()["file:///video.mp4?unlocked"],
            (std::vector<std::string>{"file:///video.mp4?unlocked", "200", "OK", mp4, "300000",
                                      fake::Sha256Hex(video)}));
}

}  // namespace
}  // namespace vtl::e2e
