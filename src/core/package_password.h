#pragma once

#include <string_view>

namespace vtl {

// Every entry of a package archive is encrypted under this one password, which
// the runtime and the packer share. It hides the files from a casual look; it
// protects nothing, since it ships inside every runtime.
inline constexpr std::string_view kPackagePassword = "2c4zm8d8grb3uzo2jg6h0zynxohdh1imk29d";

static_assert(kPackagePassword.size() == 36);

}  // namespace vtl
