#pragma once

#include "core/platform/power.h"

namespace vtl::win32 {

// The power actions: the shutdown privilege, then ExitWindowsEx with the
// action's flags. Nothing else.
class Win32PowerService final : public PowerService {
 public:
  Win32PowerService() = default;
  SystemOutcome EndSession(PowerAction action) override;
};

}  // namespace vtl::win32
