#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtl {

// The visual styles the runtime carries, and the one that is active.
struct StyleInfo {
  std::string_view resource;  // resource name in the executable
  std::string_view name;      // display name, the name pages and settings use
};

inline constexpr std::string_view kSystemStyle = "Windows";

// The styles carried in the executable, without the system style.
std::span<const StyleInfo> CarriedStyles();

class StyleManager {
 public:
  // The display name of a style, looked up without regard to ASCII case;
  // the system style is "Windows".
  static std::optional<std::string_view> Find(std::string_view name);
  // Every style name, the system style included, sorted without regard to case.
  static std::vector<std::string> SortedNames();

  const std::string& ActiveStyle() const { return active_; }
  // Makes the named style active; false (and nothing changes) when no style
  // has that name.
  bool TrySetStyle(std::string_view name);
  // The error text shown when a style of that name does not exist.
  static std::string NotFoundMessage(std::string_view name);

 private:
  std::string active_{kSystemStyle};
};

}  // namespace vtl
