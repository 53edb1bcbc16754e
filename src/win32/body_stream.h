#pragma once

// A read-only COM stream over bytes it owns: a response body handed to the
// web view without a second copy.

#include <objidl.h>

#include <string>

namespace vtl::win32 {

// A new stream at position 0, with one reference for the caller.
IStream* CreateBodyStream(std::string bytes);

}  // namespace vtl::win32
