#include "core/toast_content.h"

#include <gtest/gtest.h>

namespace vtl {
namespace {

constexpr const char* kAudio = "<audio src=\"ms-winsoundevent:Notification.Default\"/></toast>";

TEST(ToastXml, LinesAndEscaping) {
  struct Case {
    const char* name;
    std::string title, body, binding;
  } cases[] = {
      {"title and body", "Title", "Body",
       R"(<binding template="ToastText02"><text id="1">Title</text><text id="2">Body</text></binding>)"},
      {"title only", "Title", "", R"(<binding template="ToastText01"><text id="1">Title</text></binding>)"},
      {"body only", "", "Body", R"(<binding template="ToastText01"><text id="1">Body</text></binding>)"},
      {"neither", "", "", R"(<binding template="ToastText01"><text id="1"></text></binding>)"},
      {"markup in the text", "<b>&\"'", "a\x01\tb\n\xC3\xA9",
       R"(<binding template="ToastText02"><text id="1">&lt;b&gt;&amp;&quot;&apos;</text>)"
       "<text id=\"2\">a\tb\n\xC3\xA9</text></binding>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToastXml(c.title, c.body),
              "<toast duration=\"short\"><visual>" + c.binding + "</visual>" + kAudio)
        << c.name;
  }
}

TEST(NotificationAppUserModelId, StableAndCaseBlindPerPath) {
  const std::string id = NotificationAppUserModelId("C:\\Apps\\Demo.exe");
  ASSERT_EQ(id.size(), 20u);
  EXPECT_EQ(id.substr(0, 12), "Vantrel.App.");
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef", 12), std::string::npos) << id;
  EXPECT_EQ(NotificationAppUserModelId("c:\\apps\\DEMO.EXE"), id);
  EXPECT_NE(NotificationAppUserModelId("C:\\Apps\\Demo2.exe"), id);
}

}  // namespace
}  // namespace vtl
