#include "core/document_script.h"

#include <gtest/gtest.h>

namespace vtl {
namespace {

TEST(DocumentScript, PiecesFollowOneCarriageReturnEach) {
  const std::string guards = "\r" + std::string(kDragOverGuard) + "\r" + std::string(kDropGuard);
  struct Case {
    const char* label;
    bool withExternal;
    std::string bridge, user, expected;
  };
  const Case cases[] = {
      {"bridge only", true, "window.vtl={};", "", "\rwindow.vtl={};" + guards},
      {"byte-order mark dropped", true, "\xEF\xBB\xBFwindow.vtl={};", "", "\rwindow.vtl={};" + guards},
      {"a mark inside stays", true, "a;\xEF\xBB\xBF", "", "\ra;\xEF\xBB\xBF" + guards},
      {"no bridge", false, "window.vtl={};", "", guards},
      {"user script untrimmed", true, "b;", "  go();\n", "\rb;" + guards + "\r  go();\n"},
      {"blank user script left out", true, "b;", " \t\r\n \x01", "\rb;" + guards},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildDocumentScript(c.withExternal, c.bridge, c.user), c.expected) << c.label;
}

}  // namespace
}  // namespace vtl
