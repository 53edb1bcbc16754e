#pragma once

// Which documents the bridge answers: every document (the default), or with
// [App] BridgeScope=package only the documents the package itself serves.

#include <string_view>

namespace vtl {

class RuntimeZip;

enum class BridgeScope { All, Package };

// "all" (any letter case) and the empty text are All; every other value is
// Package, so that a misspelt limit is still a limit.
BridgeScope ParseBridgeScope(std::string_view value);
std::string_view BridgeScopeName(BridgeScope scope);

// Whether a web message from the document at `source` (the message's Source,
// or the frame's address for an iframe's message) gets an answer. Under
// Package only a file:/// address whose path, as the request handler reads
// it, names an entry of the package's web folder qualifies; fragments and
// queries do not count. Remote pages, local files beside the executable or
// elsewhere on disk, about:blank and an unknown source get no answer.
bool BridgeAnswersSource(BridgeScope scope, std::string_view source, const RuntimeZip* zip,
                         std::string_view appDirName);

}  // namespace vtl
