#pragma once

// Ending the user's session or the system's run.

#include <cstdint>

#include "core/platform/system_outcome.h"

namespace vtl {

// The flags of the power actions, as the system's session-end call takes them:
// each forces other programs to close without asking them.
enum class PowerAction : uint32_t {
  Logoff = 4,    // log off, forced
  Shutdown = 5,  // shut down, forced
  Reboot = 6,    // restart, forced
};

class PowerService {
 public:
  virtual ~PowerService() = default;
  // Asks the system to carry out the action, with the shutdown privilege
  // enabled where the process may enable it. Returns at once; the session
  // ends later.
  virtual SystemOutcome EndSession(PowerAction action) = 0;
};

}  // namespace vtl
