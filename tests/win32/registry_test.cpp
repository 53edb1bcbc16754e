#include <gtest/gtest.h>

#include <windows.h>

#include "core/mime_types.h"
#include "core/str_utils.h"
#include "win32/mime_registry.h"
#include "win32/registry_key.h"

namespace vtl::win32 {
namespace {

// A class key of our own with a "Content Type" value, removed again at the
// end. Windows merges the current user's classes into the class root; where
// that does not happen (Wine), the key goes into the class root itself.
class TestClassKey {
 public:
  TestClassKey(const wchar_t* ext, const wchar_t* type) : name_(ext) {
    const std::wstring user = L"Software\\Classes\\" + name_;
    if (Create(HKEY_CURRENT_USER, user, type) && RegistryKey::Open(HKEY_CLASSES_ROOT, name_)) {
      parent_ = HKEY_CURRENT_USER;
      path_ = user;
    } else {
      if (parent_ == nullptr) RegDeleteKeyW(HKEY_CURRENT_USER, user.c_str());
      EXPECT_TRUE(Create(HKEY_CLASSES_ROOT, name_, type));
      parent_ = HKEY_CLASSES_ROOT;
      path_ = name_;
    }
  }
  ~TestClassKey() { RegDeleteKeyW(parent_, path_.c_str()); }

 private:
  static bool Create(HKEY parent, const std::wstring& path, const wchar_t* type) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return false;
    const LONG r = RegSetValueExW(key, L"Content Type", 0, REG_SZ, reinterpret_cast<const BYTE*>(type),
                                  static_cast<DWORD>((wcslen(type) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
  }
  std::wstring name_, path_;
  HKEY parent_ = nullptr;
};

TEST(RegistryKey, ReadsStringValuesAndSubkeys) {
  TestClassKey k(L".vtltest", L"Application/X-Vtl-Test");
  const auto key = RegistryKey::Open(HKEY_CLASSES_ROOT, L".vtltest");
  ASSERT_TRUE(key);
  EXPECT_EQ(key.StringValue(L"Content Type"), std::optional<std::wstring>(L"Application/X-Vtl-Test"));
  EXPECT_FALSE(key.StringValue(L"Missing"));
  EXPECT_FALSE(RegistryKey::Open(HKEY_CLASSES_ROOT, L".no-such-extension-here"));
}

TEST(RegistryMimeSource, SystemAssociationsOverrideTheBuiltInList) {
  TestClassKey k(L".vtltest", L"Application/X-Vtl-Test");
  TestClassKey png(L".vtlpng", L"image/png");
  RegistryMimeSource source;
  size_t extensions = 0;
  source.ForEachExtensionContentType([&](std::string_view ext, std::string_view type) {
    ++extensions;
    EXPECT_EQ(ext.front(), '.');
    EXPECT_FALSE(type.empty());
  });
  EXPECT_GE(extensions, 2u);

  const MimeTypeTable table(&source);
  EXPECT_EQ(table.Find("a.VTLTEST"), "application/x-vtl-test");  // lower-cased
  EXPECT_EQ(table.Find("logo.vtlpng"), "image/png");
  EXPECT_EQ(TStrUtils::GetFileMIMEType(table, "index.html"), "text/html");
  EXPECT_EQ(table.Find("no-extension"), "application/octet-stream");
}

}  // namespace
}  // namespace vtl::win32
