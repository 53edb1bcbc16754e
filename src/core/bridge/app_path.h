#pragma once

// The path rules of the file and folder commands.

#include <string>
#include <string_view>

namespace vtl {

// A path with a drive part ("C:..." or "\\server\share...") is used as it
// is. Any other path has its "/" turned into "\" and is appended directly to
// the executable's folder `appDir` (which ends with "\"): no separator is
// added or removed.
std::string ResolveAppPath(std::string_view path, std::string_view appDir);

// Whether ResolveAppPath uses `path` as it is, without the executable's folder.
bool HasDrivePart(std::string_view path);

// The folder part of a path, up to and including its last "\" or "/" (or the
// drive's colon); empty when there is none.
std::string ExtractFilePath(std::string_view path);

}  // namespace vtl
