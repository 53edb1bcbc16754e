#include "core/request_resolver.h"

#include <gtest/gtest.h>

#include <map>

#include "core/mime_types.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace vtl {
namespace {

constexpr std::string_view kExeDir = "C:\\Apps\\Demo\\";

class MemoryFiles : public FileReader {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> asked;
  bool ReadWholeFile(const std::string& path, std::string& out) override {
    asked.push_back(path);
    const auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  }
};

TEST(ResolveRequest, PathTypeAndPlaces) {
  struct Case {
    const char* uri;
    const char* path;
    const char* type;
    const char* entry;
    const char* besideExe;
    const char* absolute;
  };
  const std::vector<Case> cases = {
      {"file:///index.html", "index.html", "text/html", "app/index.html", "C:\\Apps\\Demo\\index.html", "index.html"},
      {"file:///js/app.js?v=3", "js/app.js", "application/javascript", "app/js/app.js",
       "C:\\Apps\\Demo\\js\\app.js", "js/app.js?v=3"},
      // The scheme matches in any case, but only the exact prefix is removed
      // (the web view always hands over a lower-case scheme).
      {"FILE:///x.css", "FILE:///x.css", "text/css", "app/FILE:///x.css", "C:\\Apps\\Demo\\FILE:\\\\\\x.css",
       "FILE:///x.css"},
      {"file:///my%20page.html", "my page.html", "text/html", "app/my page.html", "C:\\Apps\\Demo\\my page.html",
       "my%20page.html"},
      {"file:///caf%C3%A9.html", "caf%C3%A9.html", "text/html", "app/caf%C3%A9.html",
       "C:\\Apps\\Demo\\caf%C3%A9.html", "caf%C3%A9.html"},
      {"file:///css/site.css", "css/site.css", "text/css", "app/css/site.css", "C:\\Apps\\Demo\\css\\site.css",
       "css/site.css"},
      {"file:///C:/data/pic.png", "C:/data/pic.png", "image/x-png", "app/C:/data/pic.png",
       "C:\\Apps\\Demo\\C:\\data\\pic.png", "C:/data/pic.png"},
      {"file:///lib.JS", "lib.JS", "application/javascript", "app/lib.JS", "C:\\Apps\\Demo\\lib.JS", "lib.JS"},
      {"file:///data.json", "data.json", "application/json", "app/data.json", "C:\\Apps\\Demo\\data.json",
       "data.json"},
  };
  for (const auto& c : cases) {
    const auto r = ResolveRequest(c.uri, "app", kExeDir, MimeTypeTable::BuiltIn());
    ASSERT_TRUE(r) << c.uri;
    EXPECT_EQ(r->path, c.path) << c.uri;
    EXPECT_EQ(r->contentType, c.type) << c.uri;
    EXPECT_EQ(r->entryName, c.entry) << c.uri;
    EXPECT_EQ(r->besideExe, c.besideExe) << c.uri;
    EXPECT_EQ(r->absolutePath, c.absolute) << c.uri;
  }
  for (const char* other : {"https://example.com/", "file://host/share/x", "about:blank", "file:", ""})
    EXPECT_FALSE(ResolveRequest(other, "app", kExeDir, MimeTypeTable::BuiltIn())) << other;
  EXPECT_EQ(ResolveRequest("file:///a.html", "", kExeDir, MimeTypeTable::BuiltIn())->entryName, "");
}

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = test::MakeZip({{"vtl.ini", "[App]"},
                            {"app/index.html", "<h1>home"},
                            {"app/app.html", "app page"},
                            {"app/js/app.js", "let x;"},
                            {"app/my page.html", "spaced"},
                            {"app/logo.png", "\x89PNG", false},
                            {"app/core.wasm", std::string("\0asm\1\0\0\0", 8), false}},
                           kPackagePassword);
    zip_.SetPassword(kPackagePassword);
    zip_.Open(bytes_);
  }
  std::optional<WebResponse> Get(std::string_view uri) {
    return ServeRequest(uri, &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_);
  }
  std::vector<uint8_t> bytes_;
  RuntimeZip zip_;
  MemoryFiles files_;
};

TEST_F(Serve, AnswersFromTheArchiveThenBesideTheExeThenTheAbsolutePath) {
  files_.files["C:\\Apps\\Demo\\extra.css"] = "body{}";
  files_.files["C:/data/pic.png"] = "picture";
  files_.files["C:\\Apps\\Demo\\index.html"] = "shadowed by the archive";
  struct Case {
    const char* uri;
    std::string body;
    const char* headers;
  };
  const std::vector<Case> cases = {
      {"file:///index.html", "<h1>home", "Content-Type: text/html; charset=utf-8"},
      {"file:///APP.HTML", "app page", "Content-Type: text/html; charset=utf-8"},
      {"file:///js/app.js?v=3", "let x;", "Content-Type: application/javascript; charset=utf-8"},
      {"file:///my%20page.html", "spaced", "Content-Type: text/html; charset=utf-8"},
      {"file:///logo.png", "\x89PNG", "Content-Type: image/x-png; charset=utf-8"},
      {"file:///extra.css", "body{}", "Content-Type: text/css; charset=utf-8"},
      {"file:///C:/data/pic.png", "picture", "Content-Type: image/x-png; charset=utf-8"},
      // Streamed WebAssembly is refused under any parameter.
      {"file:///core.wasm", std::string("\0asm\1\0\0\0", 8), "Content-Type: application/wasm"},
  };
  for (const auto& c : cases) {
    const auto r = Get(c.uri);
    ASSERT_TRUE(r) << c.uri;
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->reason, "OK");
    EXPECT_EQ(r->body, c.body) << c.uri;
    EXPECT_EQ(r->headers, c.headers) << c.uri;
  }
}

// A package path found nowhere is the package's own 404, which a page's
// fetch() sees as response.ok false; the settings, the user script and
// anything above the web folder stay out of reach.
TEST_F(Serve, MissingPackageFilesAreNotFound) {
  for (const char* uri : {"file:///vtl.ini", "file:///missing.html", "file:///data/missing.json?lang=de",
                          "file:///../vtl.ini", "file:///vtl-webviewjs", "file:///caf%C3%A9.html", "file:///"}) {
    const auto r = Get(uri);
    ASSERT_TRUE(r) << uri;
    EXPECT_EQ(r->status, 404) << uri;
    EXPECT_EQ(r->reason, "Not Found");
    EXPECT_EQ(r->headers, "Content-Type: text/plain; charset=utf-8");
    EXPECT_NE(r->body.find("is not in the package"), std::string::npos) << uri;
  }
  // The settings entry is never looked up at the archive's top level.
  files_.asked.clear();
  Get("file:///vtl.ini");
  EXPECT_EQ(files_.asked, (std::vector<std::string>{"C:\\Apps\\Demo\\vtl.ini", "vtl.ini"}));
}

// An address with a drive or a server may name a file the web view reads
// where we cannot (percent-escapes we do not decode): it goes on to the web
// view, as does every other scheme.
TEST_F(Serve, LeavesOtherAddressesAndMissingDiskFilesToTheWebView) {
  for (const char* uri : {"https://example.com/index.html", "file:///C:/Users/Jos%C3%A9/pic.png",
                          "file:///c:/missing.txt", "file:////server/share/a.txt", "file:///\\server\\a.txt"})
    EXPECT_FALSE(Get(uri)) << uri;
}

TEST_F(Serve, DamagedEntryIsAnErrorNotAnEmptySuccess) {
  auto damaged = test::MakeZip({{"app/index.html", std::string(5000, 'h'), false}}, kPackagePassword);
  damaged[30 + 14 + 12 + 100] ^= 0x55;
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(damaged);
  files_.files["C:\\Apps\\Demo\\index.html"] = "must not be used";
  const auto r = ServeRequest("file:///index.html", &zip, "app", kExeDir, MimeTypeTable::BuiltIn(), files_);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 500);
  EXPECT_EQ(r->headers, "Content-Type: text/plain; charset=utf-8");
  EXPECT_NE(r->body.find("app/index.html"), std::string::npos);
}

TEST(ParseRange, ByteRangesOfHttp) {
  using K = RangeRequest::Kind;
  struct Case {
    const char* header;
    uint64_t size;
    K kind;
    uint64_t first = 0, count = 0;
  };
  const std::vector<Case> cases = {
      {"", 100, K::Whole},
      {"bytes=0-9", 100, K::Part, 0, 10},
      {"bytes=10-", 100, K::Part, 10, 90},
      {"bytes=-30", 100, K::Part, 70, 30},
      {"bytes=-300", 100, K::Part, 0, 100},           // a suffix longer than the file is all of it
      {"bytes=90-1000", 100, K::Part, 90, 10},        // the last position is clipped
      {"bytes=99-99", 100, K::Part, 99, 1},
      {" Bytes = 5 - 6 ", 100, K::Part, 5, 2},        // unit ignores case; blanks around
      {"bytes=100-", 100, K::Unsatisfiable},
      {"bytes=100-200", 100, K::Unsatisfiable},
      {"bytes=-0", 100, K::Unsatisfiable},
      {"bytes=0-", 0, K::Unsatisfiable},
      {"bytes=-5", 0, K::Unsatisfiable},
      {"bytes=9-5", 100, K::Whole},                   // invalid: ignored
      {"bytes=0-1,5-6", 100, K::Whole},               // several ranges: the whole body
      {"items=0-5", 100, K::Whole},
      {"bytes=a-5", 100, K::Whole},
      {"bytes=5", 100, K::Whole},
      {"bytes=-", 100, K::Whole},
      {"bytes=99999999999999999999-", 100, K::Whole},  // too long a number
  };
  for (const auto& c : cases) {
    const RangeRequest r = ParseRange(c.header, c.size);
    EXPECT_EQ(r.kind, c.kind) << c.header;
    if (c.kind == K::Part) {
      EXPECT_EQ(r.first, c.first) << c.header;
      EXPECT_EQ(r.count, c.count) << c.header;
    }
  }
}

TEST_F(Serve, RangesOfEntriesAndFilesAre206Or416) {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
  bytes_ = test::MakeZip({{"app/a.txt", text, true}, {"app/b.bin", text, false}}, kPackagePassword);
  zip_.Open(bytes_);
  files_.files["C:\\Apps\\Demo\\disk.txt"] = text;
  const std::string size = std::to_string(text.size());
  const std::string type = "Content-Type: text/plain; charset=utf-8";
  for (const char* uri : {"file:///a.txt", "file:///b.bin", "file:///disk.txt"}) {
    const std::string name = uri;
    const std::string ct = name.ends_with(".bin") ? "Content-Type: application/octet-stream; charset=utf-8" : type;
    const auto part = ServeRequest(uri, &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_, nullptr,
                                   "bytes=150000-150099");
    ASSERT_TRUE(part) << uri;
    EXPECT_EQ(part->status, 206) << uri;
    EXPECT_EQ(part->reason, "Partial Content");
    EXPECT_EQ(part->headers, ct + "\r\nContent-Range: bytes 150000-150099/" + size + "\r\nAccept-Ranges: bytes") << uri;
    EXPECT_EQ(part->body, text.substr(150000, 100)) << uri;

    const auto none = ServeRequest(uri, &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_, nullptr,
                                   "bytes=" + size + "-");
    ASSERT_TRUE(none) << uri;
    EXPECT_EQ(none->status, 416) << uri;
    EXPECT_EQ(none->reason, "Range Not Satisfiable");
    EXPECT_EQ(none->headers, ct + "\r\nContent-Range: bytes */" + size + "\r\nAccept-Ranges: bytes") << uri;
    EXPECT_EQ(none->body, "");

    const auto all = ServeRequest(uri, &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_, nullptr, "bytes=0-1,4-5");
    ASSERT_TRUE(all) << uri;
    EXPECT_EQ(all->status, 200) << uri;
    EXPECT_EQ(all->headers, ct) << uri;
    EXPECT_EQ(all->body, text) << uri;
  }
}

// A media element opens a video with "bytes=0-": a large file is answered
// with its first kLargestPart bytes, and Content-Range says so, instead of
// being built whole in memory; the element asks for the rest as it plays.
TEST_F(Serve, LargeRangesAreAnsweredInParts) {
  const size_t total = kLargestPart + kLargestPart / 2;
  std::string video(total, '\0');
  for (size_t i = 0; i < total; ++i) video[i] = static_cast<char>((i * 131) >> 7);
  bytes_ = test::MakeZip({{"app/stored.webm", video, false}, {"app/packed.webm", video, true}}, kPackagePassword);
  zip_.Open(bytes_);
  files_.files["C:\\Apps\\Demo\\disk.webm"] = video;
  const std::string size = std::to_string(total), last = std::to_string(kLargestPart - 1);
  struct Case {
    const char* range;
    uint64_t first, count;
  };
  const Case cases[] = {
      {"bytes=0-", 0, kLargestPart},
      {"bytes=1000-", 1000, kLargestPart},
      {"bytes=0-99", 0, 100},
      {"bytes=-100", total - 100, 100},
      {"bytes=20000000-", 20000000, total - 20000000},  // what is left is less than the limit
  };
  for (const char* uri : {"file:///stored.webm", "file:///packed.webm", "file:///disk.webm"}) {
    for (const auto& c : cases) {
      const auto r = ServeRequest(uri, &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_, nullptr, c.range);
      ASSERT_TRUE(r) << uri;
      EXPECT_EQ(r->status, 206) << uri << " " << c.range;
      EXPECT_NE(r->headers.find("Content-Range: bytes " + std::to_string(c.first) + "-" +
                                std::to_string(c.first + c.count - 1) + "/" + size),
                std::string::npos)
          << uri << " " << c.range << ": " << r->headers;
      EXPECT_TRUE(r->body == video.substr(c.first, c.count)) << uri << " " << c.range;
    }
  }
}

// A package file that cannot be read while the program runs (a removed
// stick, a lost share, a locked region): the request is an error, never a
// crash or a 200.
TEST_F(Serve, UnreadablePackageFileIs500) {
  struct FailingSource final : ByteSource {
    std::vector<uint8_t> bytes;
    bool failing = false;
    uint64_t Size() const override { return bytes.size(); }
    bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string* error) const override {
      if (failing) {
        if (error) *error = "the device is gone";
        return false;
      }
      return MemorySource(bytes).ReadAt(offset, out, error);
    }
  };
  auto source = std::make_shared<FailingSource>();
  source->bytes = bytes_;
  zip_.Open(source);
  ASSERT_EQ(Get("file:///index.html")->status, 200);
  source->failing = true;
  for (const char* range : {"", "bytes=2-4"}) {
    const auto r = ServeRequest("file:///index.html", &zip_, "app", kExeDir, MimeTypeTable::BuiltIn(), files_, nullptr,
                                range);
    ASSERT_TRUE(r) << range;
    EXPECT_EQ(r->status, 500) << range;
    EXPECT_NE(r->body.find("cannot read the package: the device is gone"), std::string::npos) << r->body;
  }
}

}  // namespace
}  // namespace vtl
