#include "core/command_line.h"

#include <gtest/gtest.h>

namespace vtl {
namespace {

using Items = std::vector<std::string>;

TEST(SplitCommandLine, SeparatorsQuotesAndEmptyItems) {
  struct Case {
    std::string line;
    Items items;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"app.exe", {"app.exe"}},
      {"\"C:\\Program Files\\App\\app.exe\" id", {"C:\\Program Files\\App\\app.exe", "id"}},
      {"app.exe  \t id\r\n\"file:///C:/a b/index.html\"", {"app.exe", "id", "file:///C:/a b/index.html"}},
      {"app.exe \"\" id", {"app.exe", "id"}},               // "" is no argument
      {"app.exe ab\"c d\"e", {"app.exe", "abc de"}},          // quotes inside an item
      {"app.exe \"unterminated arg", {"app.exe", "unterminated arg"}},
      {"app.exe \x01x\x1fy", {"app.exe", "x", "y"}},         // every control counts as a blank
      {"app.exe caf\xC3\xA9 \xE4\xB8\xAD", {"app.exe", "caf\xC3\xA9", "\xE4\xB8\xAD"}},
      {"app.exe back\\\"slash", {"app.exe", "back\\slash"}},  // a backslash escapes nothing
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.items) << c.line;
}

TEST(CommandLineArguments, DropsTheProgram) {
  EXPECT_EQ(CommandLineArguments("app.exe"), Items{});
  EXPECT_EQ(CommandLineArguments("\"app.exe\" \"my.id\" \"file:///C:/x.html\""),
            (Items{"my.id", "file:///C:/x.html"}));
}

}  // namespace
}  // namespace vtl
