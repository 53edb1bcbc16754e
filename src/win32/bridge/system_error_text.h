#pragma once

#include <string>

namespace vtl::win32 {

// The system's text for a Win32 error code, in the user's language, as the
// bridge reports it: without trailing blanks, line breaks or full stops.
std::string SystemErrorText(unsigned long code);

}  // namespace vtl::win32
