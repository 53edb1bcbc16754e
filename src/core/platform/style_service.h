#pragma once

// The visual styles of the application's own windows.

#include <string>
#include <vector>

namespace vtl {

class StyleService {
 public:
  virtual ~StyleService() = default;
  // The display name of the active style.
  virtual std::string GetActiveTheme() = 0;
  // The system style's name, then every carried style's; sorted without regard
  // to letter case when `Sorted`.
  virtual std::vector<std::string> GetAvailables(bool Sorted) = 0;
  // Applies the style of that name (letter case ignored). When none has it,
  // nothing changes, and "Style '%s' not found" is shown when `ShowError`.
  virtual void TrySetStyle(const std::string& ThemeName, bool ShowError) = 0;
};

}  // namespace vtl
