#include "core/localized_messages.h"

#include <gtest/gtest.h>

#include "core/errors.h"

namespace vtl {
namespace {

TEST(LocalizedMessages, LanguageIsChosenByExactCode) {
  struct Case {
    const char* code;
    int index;
    std::string_view expected;
  };
  const std::vector<Case> cases = {
      {"de", kMsgNotAnApplication, "Dies ist keine gültige Windows-Anwendung."},
      {"de", kMsgErrorCaption, "Error"},
      {"de", kMsgAccept, "Akzeptieren"},
      {"es", kMsgErrorCaption, "Error"},
      {"fr", kMsgAccept, "J'accepte"},
      {"it", kMsgCancel, "Annulla"},
      {"zh", kMsgConfirmCaption, "确认"},
      {"pt", kMsgNotAnApplication, "This is not a valid Windows application."},
      {"", kMsgDeclined, "This application cannot continue and will be closed now."},
      {"DE", kMsgAccept, "Accept"},  // codes compare exactly
      {"de", kMsgLanguageCode, "de"},
      {"pt", kMsgLanguageCode, "en"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetLocalizedMessage(c.index, c.code), c.expected) << c.code << c.index;
}

TEST(LocalizedMessages, TablesAreComplete) {
  ASSERT_EQ(TranslatedMessages().size(), 5u);
  const char* codes[] = {"es", "it", "de", "fr", "zh"};
  for (size_t t = 0; t < 5; ++t) {
    EXPECT_EQ(TranslatedMessages()[t][0], codes[t]);
    for (const auto& text : TranslatedMessages()[t]) EXPECT_FALSE(text.empty());
  }
}

TEST(LocalizedMessages, IndexOutOfRangeRaises) {
  for (int index : {-1, 10, 1000}) {
    try {
      GetLocalizedMessage(index, "en");
      FAIL() << index;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "MessageIndex is out of range!");
    }
  }
}

}  // namespace
}  // namespace vtl
