#include "core/themes.h"

#include <gtest/gtest.h>

namespace vtl {
namespace {

TEST(StyleManager, FortyNamesInCaseInsensitiveOrder) {
  const auto names = StyleManager::SortedNames();
  ASSERT_EQ(names.size(), 40u);
  EXPECT_EQ(names.front(), "Amakrits");
  EXPECT_EQ(names.back(), "Windows10 SlateGray");
  const auto windows = std::find(names.begin(), names.end(), "Windows");
  ASSERT_NE(windows, names.end());
  EXPECT_EQ(*(windows - 1), "Turquoise Gray");
  EXPECT_EQ(*(windows + 1), "Windows10");
}

TEST(StyleManager, LookupIgnoresCaseAndKeepsTheDisplayName) {
  StyleManager m;
  EXPECT_EQ(m.ActiveStyle(), "Windows");
  struct Case {
    const char* asked;
    bool found;
    const char* active;
  };
  for (const auto& c : {Case{"carbon", true, "Carbon"}, Case{"WINDOWS10 DARK", true, "Windows10 Dark"},
                        Case{"Nope", false, "Windows10 Dark"}, Case{"", false, "Windows10 Dark"},
                        Case{"windows", true, "Windows"}}) {
    EXPECT_EQ(m.TrySetStyle(c.asked), c.found) << c.asked;
    EXPECT_EQ(m.ActiveStyle(), c.active) << c.asked;
  }
  EXPECT_EQ(StyleManager::NotFoundMessage("Nope"), "Style 'Nope' not found");
}

}  // namespace
}  // namespace vtl
