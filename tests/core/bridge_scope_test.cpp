#include "core/bridge/bridge_scope.h"

#include <gtest/gtest.h>

#include "bridge_doubles.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace vtl {
namespace {

TEST(BridgeScope, OnlyAllOrNothingMeansEveryDocument) {
  for (const char* all : {"", "all", "ALL", "All"}) EXPECT_EQ(ParseBridgeScope(all), BridgeScope::All) << all;
  // A misspelt limit is still a limit.
  for (const char* limit : {"package", "Package", "packages", "none", "0", "all pages"})
    EXPECT_EQ(ParseBridgeScope(limit), BridgeScope::Package) << limit;
}

class ScopedBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = test::MakeZip({{"vtl.ini", "[App]"},
                            {"app/index.html", "<h1>home"},
                            {"app/frames/inner page.html", "<p>inner"},
                            {"app/sub/", ""}},
                           kPackagePassword);
    zip_.SetPassword(kPackagePassword);
    zip_.Open(bytes_);
    h_.module.ExeZip = &zip_;
    h_.module.AppDirName = "app";
  }
  // Whether app.getArgs (no platform needed beyond the environment) from
  // `source` is answered.
  bool Answered(std::string_view source) {
    const size_t before = h_.webView.posts.size();
    h_.module.EdgeBrowserWebMessageReceived(R"({"id": 50005, "uuid": "u", "data": {}})", source);
    return h_.webView.posts.size() == before + 1;
  }
  std::vector<uint8_t> bytes_;
  RuntimeZip zip_;
  test::BridgeHarness h_;
};

TEST_F(ScopedBridge, PackageScopeAnswersOnlyDocumentsOfThePackage) {
  h_.module.Scope = BridgeScope::Package;
  struct Case {
    const char* source;
    bool answered;
  };
  const Case cases[] = {
      {"file:///index.html", true},
      {"file:///INDEX.HTML", true},  // served from the entry, which ignores case
      {"file:///index.html#/settings", true},
      {"file:///index.html?tab=2#top", true},
      {"file:///frames/inner%20page.html", true},  // a package iframe
      {"https://example.com/index.html", false},
      {"http://127.0.0.1:8080/index.html", false},
      {"file:///C:/Users/A/Downloads/index.html", false},  // a file on disk, not the package's
      {"file:///missing.html", false},
      {"file:///vtl.ini", false},
      {"file:///../vtl.ini", false},
      {"file:///sub/", false},
      {"file:///", false},
      {"about:blank", false},
      {"", false},  // no source known
  };
  for (const auto& c : cases) EXPECT_EQ(Answered(c.source), c.answered) << c.source;
}

TEST_F(ScopedBridge, EveryDocumentIsAnsweredByDefault) {
  for (const char* source : {"file:///index.html", "https://example.com/", ""}) EXPECT_TRUE(Answered(source)) << source;
}

TEST_F(ScopedBridge, PackageScopeWithoutAPackageAnswersNothing) {
  h_.module.Scope = BridgeScope::Package;
  h_.module.ExeZip = nullptr;
  EXPECT_FALSE(Answered("file:///index.html"));
  h_.module.ExeZip = &zip_;
  h_.module.AppDirName.clear();
  EXPECT_FALSE(Answered("file:///index.html"));
}

}  // namespace
}  // namespace vtl
