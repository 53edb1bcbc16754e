#include "core/settings.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace vtl {
namespace {

IniDocument Parse(std::string_view text) {
  IniDocument d;
  d.Load(text);
  return d;
}

TEST(IniDocument, SectionsKeysAndBlanks) {
  const auto d = Parse(
      "ID=before any section\r\n"
      "  [app]  \r\n"
      "; a comment\n"
      "id=demo\r"
      "\t Width \t=\t 1024 \n"
      "Password\n"
      "IndexHtml=\n"
      "Name = a = b\n"
      "[Other]\nName=other\n"
      "[ APP ]\nDirName=app\nid=second\n");
  EXPECT_EQ(d.ReadString("App", "ID", "?"), "demo");  // first line of the key wins
  EXPECT_EQ(d.ReadInteger("App", "Width", 800), 1024);
  EXPECT_EQ(d.ReadString("App", "Password", "none"), "none");  // no "=": absent
  EXPECT_EQ(d.ReadString("App", "IndexHtml", "index.html"), "");
  EXPECT_EQ(d.ReadString("App", "Name", ""), "a = b");
  EXPECT_EQ(d.ReadString("App", "DirName", ""), "app");  // the repeated header continues [app]
  EXPECT_EQ(d.ReadString("Other", "name", ""), "other");
  EXPECT_EQ(d.ReadString("Missing", "ID", "def"), "def");
  EXPECT_EQ(d.Sections().size(), 2u);
}

TEST(IniDocument, IntegerConversion) {
  struct Case {
    const char* value;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"1024", 1024},       {"+7", 7},           {"-12", -12},          {"0x400", 1024},
      {"0X400", 1024},      {"$400", 1024},      {"$ff", 255},          {"-$10", -16},
      {"0xFF00001A", -16777190}, {"-16777190", -16777190}, {"$FFFFFFFF", -1}, {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      // Not numbers: the default, 800.
      {"1024px", 800},      {"", 800},           {"0x", 800},           {"$", 800},
      {"2147483648", 800},  {"0x100000000", 800}, {"1 024", 800},       {"true", 800},
      {"0x-1", 800},        {"--1", 800},        {"１２", 800},
  };
  for (const auto& c : cases) {
    const auto d = Parse(std::string("[App]\nWidth=") + c.value + "\n");
    EXPECT_EQ(d.ReadInteger("App", "Width", 800), c.expected) << c.value;
  }
}

TEST(IniDocument, BooleansAreIntegers) {
  struct Case {
    const char* value;
    bool def;
    bool expected;
  };
  for (const auto& c : std::vector<Case>{{"0", true, false},
                                         {"no", true, true},
                                         {"1", false, true},
                                         {"2", false, true},
                                         {"true", false, false},
                                         {"$0", true, false}}) {
    const auto d = Parse(std::string("[App]\nFlag=") + c.value);
    EXPECT_EQ(d.ReadBool("App", "Flag", c.def), c.expected) << c.value;
  }
}

TEST(DecodeSettingsText, ByteOrderMarksAndAnsi) {
  const std::string text = "[App]\r\nName=Café €\r\n";
  std::vector<uint8_t> utf8{0xEF, 0xBB, 0xBF};
  utf8.insert(utf8.end(), text.begin(), text.end());
  const std::u16string u16 = u"[App]\r\nName=Café €\r\n";
  std::vector<uint8_t> le{0xFF, 0xFE}, be{0xFE, 0xFF};
  for (char16_t c : u16) {
    le.push_back(static_cast<uint8_t>(c));
    le.push_back(static_cast<uint8_t>(c >> 8));
    be.push_back(static_cast<uint8_t>(c >> 8));
    be.push_back(static_cast<uint8_t>(c));
  }
  for (const auto* bytes : {&utf8, &le, &be}) EXPECT_EQ(DecodeSettingsText(*bytes), text);

  // Without a mark, UTF-8 bytes are read as ANSI: é comes out as two characters.
  const std::vector<uint8_t> plain(text.begin(), text.end());
  EXPECT_EQ(DecodeSettingsText(plain), "[App]\r\nName=CafÃ© â‚¬\r\n");
  // A system decoder is used when one is given.
  EXPECT_EQ(DecodeSettingsText(plain, [](std::string_view s) { return "ansi:" + std::string(s.substr(0, 5)); }),
            "ansi:[App]");
  EXPECT_EQ(DecodeSettingsText({}), "");
}

TEST(LoadRuntimeINI, ReadsTheEntryFromTheArchive) {
  const auto zip = test::MakeZip({{"VTL.INI", "[App]\nID=demo\nWidth=0x400\n"}}, kPackagePassword);
  RuntimeZip z;
  z.SetPassword(kPackagePassword);
  z.Open(zip);
  IniDocument ini;
  ini.Load("[Stale]\nA=1\n");
  LoadRuntimeINI(z, ini);
  const auto s = AppSettings::Read(ini);
  EXPECT_EQ(s.ID, "demo");
  EXPECT_EQ(s.Width, 1024);
  EXPECT_EQ(ini.ReadString("Stale", "A", "gone"), "gone");
}

TEST(LoadRuntimeINI, MissingIsEmptyButUnreadableRaises) {
  IniDocument ini;
  // The reader keeps a view of the archive: the bytes must outlive it.
  const auto withoutSettings = test::MakeZip({{"app/index.html", "x"}}, kPackagePassword);
  RuntimeZip none;
  none.SetPassword(kPackagePassword);
  none.Open(withoutSettings);
  LoadRuntimeINI(none, ini);
  EXPECT_EQ(AppSettings::Read(ini).ID, "");

  const auto otherPassword = test::MakeZip({{"vtl.ini", "[App]\nID=demo\n"}}, "another password");
  RuntimeZip wrong;
  wrong.SetPassword(kPackagePassword);
  wrong.Open(otherPassword);
  EXPECT_THROW(LoadRuntimeINI(wrong, ini), EZipError);
}

TEST(AppSettings, DefaultsWhenNothingIsWritten) {
  const auto s = AppSettings::Read(IniDocument{});
  EXPECT_EQ(s.ID, "");
  EXPECT_EQ(s.IndexHtml, "index.html");
  EXPECT_EQ(s.Theme, "Windows");
  EXPECT_TRUE(s.EdgeInstaller);
  EXPECT_EQ(static_cast<uint32_t>(s.InstallFormColor), 0xFF00001Au);
  EXPECT_EQ(s.InstallIndicatorColor, 1);
  EXPECT_FALSE(s.AllowInstances);
  EXPECT_EQ(s.Top, 50);
  EXPECT_EQ(s.Left, 50);
  EXPECT_EQ(s.Width, 800);
  EXPECT_EQ(s.Height, 600);
  EXPECT_EQ(s.WindowBorder, 2);
  EXPECT_FALSE(s.DynamicAppTitle);
  EXPECT_EQ(s.BridgeScope, "all");
  EXPECT_EQ(AppSettingKeys().size(), 30u);
}

TEST(AppSettings, EveryKeyIsRead) {
  std::string text = "[App]\n";
  for (const auto& k : AppSettingKeys())
    text += std::string(k.name) + "=" + (k.type == AppSettingKey::Type::String ? "v" + std::string(k.name) : "1") + "\n";
  const auto s = AppSettings::Read(Parse(text));
  for (const auto& k : AppSettingKeys()) {
    switch (k.type) {
      case AppSettingKey::Type::String:
        // The bridge's scope is one of two words; any other text is the limit.
        EXPECT_EQ(s.*k.text, k.name == "BridgeScope" ? "package" : "v" + std::string(k.name));
        break;
      case AppSettingKey::Type::Integer: EXPECT_EQ(s.*k.number, 1) << k.name; break;
      case AppSettingKey::Type::Boolean: EXPECT_TRUE(s.*k.flag) << k.name; break;
    }
  }
}

TEST(IniDocument, RandomBytesReadAsDefaults) {
  const auto defaults = AppSettings::Read(IniDocument{});
  uint32_t seed = 12345;
  for (int round = 0; round < 50; ++round) {
    std::vector<uint8_t> noise(1 + round * 97);
    for (auto& c : noise) {
      seed = seed * 1103515245 + 12345;
      c = static_cast<uint8_t>(seed >> 16);
      if (c == '[') c = ']';  // no section header can form
    }
    IniDocument d;
    d.Load(DecodeSettingsText(noise));
    const auto s = AppSettings::Read(d);
    EXPECT_EQ(s.ID, defaults.ID);
    EXPECT_EQ(s.Width, defaults.Width);
    EXPECT_EQ(s.EdgeInstaller, defaults.EdgeInstaller);
  }
}

}  // namespace
}  // namespace vtl
