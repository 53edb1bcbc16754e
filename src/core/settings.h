#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtl {

class RuntimeZip;

// Turns bytes in the system's ANSI code page into UTF-8. The Windows build
// passes the system's converter; the default is Windows-1252.
using AnsiDecoder = std::function<std::string(std::string_view bytes)>;

// Decodes settings text by its byte-order mark: UTF-8, UTF-16 LE or BE, and
// without a mark the ANSI code page. The mark is dropped. Returns UTF-8.
std::string DecodeSettingsText(std::span<const uint8_t> bytes, const AnsiDecoder& ansi = {});

// An in-memory INI document: an ordered list of sections, each an ordered
// list of key/value lines. It is filled once and only read afterwards.
// Section and key names compare without regard to ASCII letter case.
class IniDocument {
 public:
  // Replaces the contents with the sections parsed from `text` (UTF-8, lines
  // ending in CR LF, LF or CR).
  void Load(std::string_view text);
  void Clear() { sections_.clear(); }

  // The value as written; `def` when the section or key is absent. A key
  // written with an empty value reads as "", not as the default.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // Decimal with an optional sign, or hexadecimal after "$" or "0x"; a value
  // that does not convert to a 32-bit integer reads as `def`.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // ReadInteger(section, key, def ? 1 : 0) != 0.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  struct Line {
    std::string key;
    std::string value;
    bool hasValue = false;  // a line without "=" is kept but never found
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  const std::vector<Section>& Sections() const { return sections_; }

 private:
  const std::string* Find(std::string_view section, std::string_view key) const;
  std::vector<Section> sections_;
};

// Converts settings integer text the way ReadInteger does.
bool ParseSettingsInteger(std::string_view text, int32_t& value);

// Fills `ini` from the archive entry "vtl.ini". A missing entry leaves the
// document empty, so every read yields its default. An entry that is there but
// cannot be decoded (wrong password, damaged data) raises EZipError: reading
// it as empty settings would end the program without a word.
void LoadRuntimeINI(const RuntimeZip& zip, IniDocument& ini, const AnsiDecoder& ansi = {});

inline constexpr std::string_view kAppSection = "App";

// Every [App] key the runtime reads, typed, with its default applied.
struct AppSettings {
  std::string ID, Name, DirName, IndexHtml, Theme, WebviewArguments, Password;
  // "all" or "package", as the bridge reads the value (see ParseBridgeScope).
  std::string BridgeScope;
  bool EdgeInstaller{}, AllowInstances{}, AllowDebug{}, AllowZoom{}, AllowContextMenu{}, DynamicAppTitle{};
  int32_t InstallFormColor{}, InstallIndicatorColor{}, InstallIndicatorType{};
  int32_t Top{}, Left{}, Width{}, Height{}, MaxWidth{}, MaxHeight{}, MinWidth{}, MinHeight{};
  int32_t WindowPosition{}, WindowStyle{}, WindowBorder{}, WindowState{}, WindowOrder{};

  static AppSettings Read(const IniDocument& ini);
};

// The [App] keys in one table: name, type, default and where the value goes.
struct AppSettingKey {
  enum class Type { String, Integer, Boolean };
  std::string_view name;
  Type type;
  std::string_view defaultString;  // String keys
  int32_t defaultNumber;           // Integer keys; Boolean keys use 0 or 1
  std::string AppSettings::*text = nullptr;
  int32_t AppSettings::*number = nullptr;
  bool AppSettings::*flag = nullptr;
};
std::span<const AppSettingKey> AppSettingKeys();

}  // namespace vtl
