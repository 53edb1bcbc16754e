#include "core/themes.h"

#include <algorithm>
#include <array>

#include "core/str_utils.h"

namespace vtl {
namespace {

constexpr std::array<StyleInfo, 39> kStyles = {{
    {"AMAKRITS", "Amakrits"},
    {"AMETHYSTKAMRI", "Amethyst Kamri"},
    {"AQUAGRAPHITE", "Aqua Graphite"},
    {"AQUALIGHTSLATE", "Aqua Light Slate"},
    {"AURIC", "Auric"},
    {"CARBON", "Carbon"},
    {"CHARCOALDARKSLATE", "Charcoal Dark Slate"},
    {"COBALTXEMEDIA", "Cobalt XEMedia"},
    {"CYANDUSK", "Cyan Dusk"},
    {"CYANNIGHT", "Cyan Night"},
    {"EMERALDLIGHTSLATE", "Emerald Light Slate"},
    {"GLOSSY", "Glossy"},
    {"GLOW", "Glow"},
    {"GOLDENGRAPHITE", "Golden Graphite"},
    {"ICEBERGCLASSICO", "Iceberg Classico"},
    {"LAVENDERCLASSICO", "Lavender Classico"},
    {"LIGHT", "Light"},
    {"LUNA", "Luna"},
    {"METROPOLISUIBLACK", "Metropolis UI Black"},
    {"METROPOLISUIBLUE", "Metropolis UI Blue"},
    {"METROPOLISUIDARK", "Metropolis UI Dark"},
    {"METROPOLISUIGREEN", "Metropolis UI Green"},
    {"OBSIDIAN", "Obsidian"},
    {"ONYXBLUE", "Onyx Blue"},
    {"RUBYGRAPHITE", "Ruby Graphite"},
    {"SAPPHIREKAMRI", "Sapphire Kamri"},
    {"SILVER", "Silver"},
    {"SKY", "Sky"},
    {"SLATECLASSICO", "Slate Classico"},
    {"SMOKEYQUARTZKAMRI", "Smokey Quartz Kamri"},
    {"TABLETDARK", "Tablet Dark"},
    {"TABLETLIGHT", "Tablet Light"},
    {"TURQUOISEGRAY", "Turquoise Gray"},
    {"WINDOWS", "Windows10"},  // the name "Windows" always means the system style
    {"WINDOWSBLUE", "Windows10 Blue"},
    {"WINDOWSDARK", "Windows10 Dark"},
    {"WINDOWSGREEN", "Windows10 Green"},
    {"WINDOWSPURPLE", "Windows10 Purple"},
    {"WINDOWSSLATEGRAY", "Windows10 SlateGray"},
}};

}  // namespace

std::span<const StyleInfo> CarriedStyles() { return kStyles; }

std::optional<std::string_view> StyleManager::Find(std::string_view name) {
  if (AsciiIEquals(name, kSystemStyle)) return kSystemStyle;
  for (const auto& s : kStyles)
    if (AsciiIEquals(name, s.name)) return s.name;
  return std::nullopt;
}

std::vector<std::string> StyleManager::SortedNames() {
  std::vector<std::string> names{std::string(kSystemStyle)};
  for (const auto& s : kStyles) names.emplace_back(s.name);
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return AsciiLower(a) < AsciiLower(b);
  });
  return names;
}

bool StyleManager::TrySetStyle(std::string_view name) {
  const auto found = Find(name);
  if (!found) return false;
  active_ = *found;
  return true;
}

std::string StyleManager::NotFoundMessage(std::string_view name) {
  return "Style '" + std::string(name) + "' not found";
}

}  // namespace vtl
