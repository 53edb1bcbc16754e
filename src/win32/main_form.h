#pragma once

#include "core/startup.h"

namespace vtl::win32 {

// Creates the main window and runs the message loop until it closes.
// Returns the process exit code.
int RunMainForm(const Runtime& runtime);

}  // namespace vtl::win32
