#include "win32/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "core/settings.h"

namespace vtl::win32 {
namespace {

TEST(Text, WidenAndNarrowRoundTrip) {
  for (const std::string& s : std::initializer_list<std::string>{"", "plain", "Café €", "\xF0\x9F\x98\x80 pair", std::string("nul\0inside", 10)}) {
    EXPECT_EQ(Narrow(Widen(s)), s);
  }
  EXPECT_EQ(Widen("\xF0\x9F\x98\x80").size(), 2u);  // a surrogate pair
}

TEST(Text, SettingsWithoutByteOrderMarkUseTheAnsiCodePage) {
  const std::string text = "[App]\r\nName=Caf\xE9\r\n";  // é in Windows-1252
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  IniDocument ini;
  ini.Load(DecodeSettingsText(bytes, AnsiToUtf8));
  if (GetACP() == 1252) {
    EXPECT_EQ(ini.ReadString("App", "Name", ""), "Caf\xC3\xA9");
  } else {
    EXPECT_EQ(ini.ReadString("App", "Name", ""), AnsiToUtf8("Caf\xE9"));
  }
}

}  // namespace
}  // namespace vtl::win32
