#include "win32/bridge/power_service.h"

#include "win32/bridge/system_error_text.h"
#include "win32/sys_utils.h"

namespace vtl::win32 {

SystemOutcome Win32PowerService::EndSession(PowerAction action) {
  if (TSysUtils::ExitWindows(static_cast<UINT>(action))) return SystemOutcome::Accepted();
  return SystemOutcome::Refused(SystemErrorText(GetLastError()));
}

}  // namespace vtl::win32
