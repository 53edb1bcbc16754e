#pragma once

// A read-only COM stream over bytes it owns: a response body handed to the
// web view without a second copy. It is agile (the free-threaded marshaler):
// WebView2 reads it on a thread of its own.

#include <objidl.h>

#include <functional>
#include <string>

namespace vtl::win32 {

// A new stream at position 0, with one reference for the caller. When the
// last reference goes, the bytes are handed to `release` (if given), so that
// their memory can serve again.
IStream* CreateBodyStream(std::string bytes, std::function<void(std::string&&)> release = {});

}  // namespace vtl::win32
