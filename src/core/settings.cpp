#include "core/settings.h"

#include <array>
#include <limits>

#include "core/bridge/bridge_scope.h"
#include "core/errors.h"
#include "core/runtime_zip.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeSettingsText(std::span<const uint8_t> b, const AnsiDecoder& ansi) {
  if (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    return std::string(reinterpret_cast<const char*>(b.data()) + 3, b.size() - 3);
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return Utf16LeToUtf8(b.subspan(2));
  if (b.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return Utf16BeToUtf8(b.subspan(2));
  const std::string_view raw(reinterpret_cast<const char*>(b.data()), b.size());
  return ansi ? ansi(raw) : Cp1252ToUtf8(raw);
}

void IniDocument::Load(std::string_view text) {
  sections_.clear();
  Section* current = nullptr;
  while (!text.empty()) {
    const size_t eol = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, eol);
    if (eol == std::string_view::npos) {
      text = {};
    } else {
      const size_t skip = (text[eol] == '\r' && eol + 1 < text.size() && text[eol + 1] == '\n') ? 2 : 1;
      text.remove_prefix(eol + skip);
    }

    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      current = nullptr;
      for (auto& s : sections_)
        if (AsciiIEquals(s.name, name)) current = &s;
      if (!current) current = &sections_.emplace_back(Section{std::string(name), {}});
      continue;
    }
    if (!current) continue;
    const size_t eq = line.find('=');
    Line entry;
    if (eq == std::string_view::npos) {
      entry.key = line;
    } else {
      entry.key = TrimRight(line.substr(0, eq));
      entry.value = TrimLeft(line.substr(eq + 1));
      entry.hasValue = true;
    }
    current->lines.push_back(std::move(entry));
  }
}

const std::string* IniDocument::Find(std::string_view section, std::string_view key) const {
  for (const auto& s : sections_) {
    if (!AsciiIEquals(s.name, section)) continue;
    for (const auto& line : s.lines)
      if (line.hasValue && AsciiIEquals(line.key, key)) return &line.value;
    return nullptr;
  }
  return nullptr;
}

std::string IniDocument::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  const std::string* v = Find(section, key);
  return v ? *v : std::string(def);
}

bool ParseSettingsInteger(std::string_view s, int32_t& value) {
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;

  // Decimal must fit a signed 32-bit value; hexadecimal may use all 32 bits,
  // so $FF00001A and -16777190 name the same number.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t n = 0;
  for (char c : s) {
    const int d = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return false;
    n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (n > limit) return false;
  }
  uint32_t bits = static_cast<uint32_t>(n);
  if (negative) bits = 0u - bits;
  value = static_cast<int32_t>(bits);
  return true;
}

int32_t IniDocument::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  const std::string* v = Find(section, key);
  int32_t result = def;
  if (v && ParseSettingsInteger(*v, result)) return result;
  return def;
}

bool IniDocument::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void LoadRuntimeINI(const RuntimeZip& zip, IniDocument& ini, const AnsiDecoder& ansi) {
  std::string bytes;
  const int64_t index = zip.FindEntry("vtl.ini");
  std::string why;
  if (index >= 0 && !zip.ExtractEntry(index, bytes, &why))
    throw EZipError("The package's settings (vtl.ini) cannot be read: " + why);
  ini.Load(DecodeSettingsText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), ansi));
}

std::span<const AppSettingKey> AppSettingKeys() {
  using T = AppSettingKey::Type;
  using S = AppSettings;
  // 0xFF00001A: the system colour COLOR_HOTLIGHT.
  static const auto keys = std::to_array<AppSettingKey>({
      {"ID", T::String, "", 0, &S::ID},
      {"Name", T::String, "", 0, &S::Name},
      {"DirName", T::String, "", 0, &S::DirName},
      {"IndexHtml", T::String, "index.html", 0, &S::IndexHtml},
      {"Theme", T::String, "Windows", 0, &S::Theme},
      {"WebviewArguments", T::String, "", 0, &S::WebviewArguments},
      {"EdgeInstaller", T::Boolean, "", 1, nullptr, nullptr, &S::EdgeInstaller},
      {"InstallFormColor", T::Integer, "", static_cast<int32_t>(0xFF00001Au), nullptr, &S::InstallFormColor},
      {"InstallIndicatorColor", T::Integer, "", 1, nullptr, &S::InstallIndicatorColor},
      {"InstallIndicatorType", T::Integer, "", 0, nullptr, &S::InstallIndicatorType},
      {"Password", T::String, "", 0, &S::Password},
      {"AllowInstances", T::Boolean, "", 0, nullptr, nullptr, &S::AllowInstances},
      {"AllowDebug", T::Boolean, "", 0, nullptr, nullptr, &S::AllowDebug},
      {"AllowZoom", T::Boolean, "", 0, nullptr, nullptr, &S::AllowZoom},
      {"AllowContextMenu", T::Boolean, "", 0, nullptr, nullptr, &S::AllowContextMenu},
      {"Top", T::Integer, "", 50, nullptr, &S::Top},
      {"Left", T::Integer, "", 50, nullptr, &S::Left},
      {"Width", T::Integer, "", 800, nullptr, &S::Width},
      {"Height", T::Integer, "", 600, nullptr, &S::Height},
      {"MaxWidth", T::Integer, "", 0, nullptr, &S::MaxWidth},
      {"MaxHeight", T::Integer, "", 0, nullptr, &S::MaxHeight},
      {"MinWidth", T::Integer, "", 0, nullptr, &S::MinWidth},
      {"MinHeight", T::Integer, "", 0, nullptr, &S::MinHeight},
      {"WindowPosition", T::Integer, "", 0, nullptr, &S::WindowPosition},
      {"WindowStyle", T::Integer, "", 0, nullptr, &S::WindowStyle},
      {"WindowBorder", T::Integer, "", 2, nullptr, &S::WindowBorder},
      {"WindowState", T::Integer, "", 0, nullptr, &S::WindowState},
      {"WindowOrder", T::Integer, "", 0, nullptr, &S::WindowOrder},
      {"DynamicAppTitle", T::Boolean, "", 0, nullptr, nullptr, &S::DynamicAppTitle},
      {"BridgeScope", T::String, "all", 0, &S::BridgeScope},
  });
  return keys;
}

AppSettings AppSettings::Read(const IniDocument& ini) {
  AppSettings s;
  for (const auto& k : AppSettingKeys()) {
    switch (k.type) {
      case AppSettingKey::Type::String: s.*k.text = ini.ReadString(kAppSection, k.name, k.defaultString); break;
      case AppSettingKey::Type::Integer: s.*k.number = ini.ReadInteger(kAppSection, k.name, k.defaultNumber); break;
      case AppSettingKey::Type::Boolean: s.*k.flag = ini.ReadBool(kAppSection, k.name, k.defaultNumber != 0); break;
    }
  }
  s.BridgeScope = std::string(BridgeScopeName(ParseBridgeScope(s.BridgeScope)));
  return s;
}

}  // namespace vtl
