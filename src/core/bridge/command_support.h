#pragma once

// Helpers the command handlers share. Only the handlers include this header.

#include <string>
#include <string_view>

#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"

namespace vtl {

// Reads a required text argument (default empty). An empty text is answered
// with `missing` as an error reply and gives false. A member of the wrong
// JSON type raises EConvertError, which ends the message without a reply.
inline bool ReadRequiredArg(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data,
                            std::string_view key, std::string_view missing, std::string& value) {
  value = GetStringArg(data, key, "");
  if (!value.empty()) return true;
  module.SendErrorResponse(uuid, missing);
  return false;
}

// The path with a "\" at its end.
inline std::string WithTrailingBackslash(std::string path) {
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path;
}

inline std::string BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace vtl
