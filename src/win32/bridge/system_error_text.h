#pragma once

#include <string>

namespace vtl::win32 {

// The system's text for a Win32 error code, in the user's language, without
// the trailing line break.
std::string SystemErrorMessage(unsigned long code);

// The same text as the bridge and the menus report it: without trailing
// blanks, line breaks or full stops.
std::string SystemErrorText(unsigned long code);

}  // namespace vtl::win32
