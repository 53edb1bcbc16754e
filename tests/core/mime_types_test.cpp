#include "core/mime_types.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/str_utils.h"

namespace vtl {
namespace {

constexpr std::string_view kOctet = "application/octet-stream";

struct NameCase {
  std::string_view fileName;
  std::string_view expected;
};

TEST(MimeTypeTableBuiltIn, KnownRows) {
  const NameCase cases[] = {
      {"index.html", "text/html"},       {"old.htm", "text/html"},
      {"site.css", "text/css"},          {"app.js", "text/javascript"},
      {"feed.xml", "text/xml"},          {"notes.txt", "text/plain"},
      {"page.xhtml", "application/xhtml+xml"},
      {"logo.svg", "image/svg+xml"},     {"logo.png", "image/x-png"},
      {"photo.jpg", "image/jpeg"},       {"photo.jpeg", "image/jpeg"},
      {"anim.gif", "image/gif"},         {"favicon.ico", "image/x-icon"},
      {"old.bmp", "image/bmp"},          {"pic.webp", "image/webp"},
      {"song.mp3", "audio/x-mpg"},       {"clip.mp4", "video/mpeg"},
      {"clip.webm", "video/webm"},       {"beep.wav", "audio/x-wav"},
      {"track.ogg", "application/ogg"},  {"doc.pdf", "application/pdf"},
      {"bundle.zip", "application/x-zip-compressed"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.fileName);
    EXPECT_EQ(MimeTypeTable::BuiltIn().Find(c.fileName), c.expected);
  }
}

// What a current web build loads. The engine refuses module scripts and
// streamed WebAssembly under any other type, and a font or JSON file named
// octet-stream breaks the page's own type checks.
TEST(MimeTypeTableBuiltIn, TypesOfTodaysWebBuilds) {
  const NameCase cases[] = {
      {"chunk.mjs", "text/javascript"},    {"main.cjs", "text/javascript"},
      {"data.json", "application/json"},   {"app.js.map", "application/json"},
      {"core.wasm", "application/wasm"},   {"site.webmanifest", "application/manifest+json"},
      {"f.woff", "font/woff"},             {"f.woff2", "font/woff2"},
      {"f.ttf", "font/ttf"},               {"f.otf", "font/otf"},
      {"pic.avif", "image/avif"},          {"icon.svg", "image/svg+xml"},
      {"song.m4a", "audio/mp4"},           {"song.opus", "audio/ogg"},
      {"film.ogv", "video/ogg"},           {"song.flac", "audio/flac"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.fileName);
    EXPECT_EQ(MimeTypeTable::BuiltIn().Find(c.fileName), c.expected);
  }
}

TEST(MimeTypeTableBuiltIn, ExtensionIsFromTheLastDot) {
  const std::string longExt = "a." + std::string(100, 'x');
  const NameCase cases[] = {
      {"INDEX.HTML", "text/html"},
      {"Index.Html", "text/html"},
      {".html", "text/html"},
      {"site.min.css", "text/css"},
      {"page.html.txt", "text/plain"},
      {"C:\\site\\page.html", "text/html"},
      {"C:.html", "text/html"},
      {"README", kOctet},
      {"", kOctet},
      {"file.", kOctet},
      {"dir.html\\file.css", "text/css"},
      {"page.html ", kOctet},
      {longExt, kOctet},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.fileName);
    EXPECT_EQ(MimeTypeTable::BuiltIn().Find(c.fileName), c.expected);
  }
}

// A malformed row would silently never match.
TEST(MimeTypeTableBuiltIn, EveryListedExtensionIsFoundWithItsFirstType) {
  std::map<std::string_view, std::string_view> firstType;
  for (const MimeTypePair& p : BuiltInMimeTypeList()) {
    SCOPED_TRACE(p.extension);
    ASSERT_GE(p.extension.size(), 2u);
    EXPECT_EQ(p.extension.front(), '.');
    EXPECT_EQ(p.extension.find_first_of(".\\:", 1), std::string_view::npos);
    EXPECT_LE(p.extension.size(), MimeTypeTable::kMaxExtensionLength);
    EXPECT_EQ(AsciiLower(p.extension), p.extension);
    EXPECT_FALSE(p.contentType.empty());
    EXPECT_EQ(AsciiLower(p.contentType), p.contentType);
    firstType.try_emplace(p.extension, p.contentType);
  }
  for (const auto& [ext, type] : firstType) {
    SCOPED_TRACE(ext);
    EXPECT_EQ(MimeTypeTable::BuiltIn().Find("name" + std::string(ext)), type);
  }
}

TEST(MimeTypeTableBuiltIn, FirstPairOfARepeatedExtensionWins) {
  std::vector<std::string_view> mp3Types;
  for (const MimeTypePair& p : BuiltInMimeTypeList()) {
    if (p.extension == ".mp3") mp3Types.push_back(p.contentType);
  }
  ASSERT_EQ(mp3Types, (std::vector<std::string_view>{"audio/x-mpg", "video/mpeg"}));
  EXPECT_EQ(MimeTypeTable::BuiltIn().Find("song.mp3"), "audio/x-mpg");
}

// ---------------------------------------------------------------------------
// System associations

class FakeRegistry : public MimeRegistry {
 public:
  std::vector<std::pair<std::string, std::string>> extensions;  // (ext, content type)
  std::vector<std::pair<std::string, std::string>> database;    // (content type, extension)
  mutable int enumerations = 0;

  void ForEachExtensionContentType(const ExtensionVisitor& visit) const override {
    ++enumerations;
    for (const auto& [ext, type] : extensions) visit(ext, type);
  }
  void ForEachDatabaseContentType(const DatabaseVisitor& visit) const override {
    ++enumerations;
    for (const auto& [type, ext] : database) visit(type, ext);
  }
};

class MimeTypeTableRegistryTest : public ::testing::Test {
 protected:
  FakeRegistry registry;
  MimeTypeTable Build() const { return MimeTypeTable(&registry); }
};

TEST_F(MimeTypeTableRegistryTest, ExtensionKeysOverrideAndExtendTheBuiltInList) {
  registry.extensions = {
      {".js", "application/javascript"},
      {".json", "text/json"},
      {".JSX", "Text/JSX"},
  };
  const MimeTypeTable table = Build();
  EXPECT_EQ(table.Find("app.js"), "application/javascript");
  EXPECT_EQ(table.Find("data.json"), "text/json");
  EXPECT_EQ(table.Find("view.jsx"), "text/jsx");
  EXPECT_EQ(table.Find("site.css"), "text/css");
}

TEST_F(MimeTypeTableRegistryTest, DatabaseGetsADotAndLowerCase) {
  registry.database = {
      {"Application/X-Glsl", "GLSL"},
      {"Text/X-Foo", ".Foo"},
  };
  const MimeTypeTable table = Build();
  EXPECT_EQ(table.Find("shader.glsl"), "application/x-glsl");
  EXPECT_EQ(table.Find("x.foo"), "text/x-foo");
}

TEST_F(MimeTypeTableRegistryTest, LaterValuesOverrideEarlierOnes) {
  registry.extensions = {
      {".js", "application/x-javascript"},
      {".js", "application/javascript"},
  };
  EXPECT_EQ(Build().Find("app.js"), "application/javascript");

  registry.database = {{"text/ecmascript", "js"}};
  EXPECT_EQ(Build().Find("app.js"), "text/ecmascript");
}

TEST_F(MimeTypeTableRegistryTest, ReplacesTheFirstPairOfARepeatedExtension) {
  registry.extensions = {{".mp3", "audio/mpeg"}};
  EXPECT_EQ(Build().Find("song.mp3"), "audio/mpeg");
}

TEST_F(MimeTypeTableRegistryTest, EmptyValuesAreSkipped) {
  registry.extensions = {
      {".empty", ""},
      {"", "text/x-nothing"},
      {".css", ""},
  };
  registry.database = {
      {"", "foo"},
      {"text/x-bar", ""},
  };
  const MimeTypeTable table = Build();
  EXPECT_EQ(table.Find("a.empty"), kOctet);
  EXPECT_EQ(table.Find("a.foo"), kOctet);
  EXPECT_EQ(table.Find("a."), kOctet);
  EXPECT_EQ(table.Find("site.css"), "text/css");
}

// A backslash or colon after the dot means the dot was in a folder or stream
// name, so there is no extension; a slash does not. Only extensions that hold
// such characters can show it.
TEST_F(MimeTypeTableRegistryTest, OnlyBackslashOrColonAfterTheDotCancelTheExtension) {
  registry.extensions = {
      {".a/b", "text/x-slash"},
      {".a\\b", "text/x-backslash"},
      {".a:b", "text/x-colon"},
  };
  const MimeTypeTable table = Build();
  EXPECT_EQ(table.Find("x.A/B"), "text/x-slash");
  EXPECT_EQ(table.Find("x.a\\b"), kOctet);
  EXPECT_EQ(table.Find("x.a:b"), kOctet);
}

TEST_F(MimeTypeTableRegistryTest, LongestExtensionFitsTheLookup) {
  const std::string longest = "." + std::string(MimeTypeTable::kMaxExtensionLength - 1, 'x');
  const std::string tooLong = "." + std::string(MimeTypeTable::kMaxExtensionLength, 'y');
  registry.extensions = {{longest, "text/x-long"}, {tooLong, "text/x-too-long"}};
  const MimeTypeTable table = Build();
  EXPECT_EQ(table.Find("a." + std::string(MimeTypeTable::kMaxExtensionLength - 1, 'X')),
            "text/x-long");
  EXPECT_EQ(table.Find("a" + tooLong), kOctet);
}

TEST_F(MimeTypeTableRegistryTest, RegistryIsReadOnlyOnceWhenBuilt) {
  registry.extensions = {{".jsx", "text/jsx"}};
  const MimeTypeTable table = Build();
  registry.extensions = {{".jsx", "text/x-changed"}};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(table.Find("view.jsx"), "text/jsx");
  EXPECT_EQ(registry.enumerations, 2);
}

TEST_F(MimeTypeTableRegistryTest, GetFileMIMETypeUsesTheGivenTable) {
  registry.extensions = {{".jsx", "text/jsx"}};
  const MimeTypeTable table = Build();
  EXPECT_EQ(TStrUtils::GetFileMIMEType(table, "view.JSX"), "text/jsx");
  EXPECT_EQ(TStrUtils::GetFileMIMEType("view.jsx"), kOctet);
  EXPECT_EQ(TStrUtils::GetFileMIMEType("INDEX.HTM"), "text/html");
}

}  // namespace
}  // namespace vtl
