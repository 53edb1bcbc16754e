#pragma once

// TRequirePasswordForm: the start-up password prompt.

#include <string>

namespace vtl::win32 {

// Shows the prompt modally under `caption` and returns true once the text
// typed into its only box equals `password` exactly, checked at every key
// release in the box; false when the user closed it (close box, Alt+F4,
// system menu). Enter and Escape do not close it.
bool RunRequirePasswordForm(const std::string& caption, const std::string& password);

}  // namespace vtl::win32
