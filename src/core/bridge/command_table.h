#pragma once

// The bridge's commands, in id order. This is the only list of ids: the
// bridge script is checked against it by a test.

#include <span>
#include <string>
#include <string_view>

#include "core/json.h"

namespace vtl {

class TBrowserExternalModule;

// `data` is the request's "data" object; commands without arguments ignore it.
using CommandHandler = void (*)(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data);

struct BridgeCommand {
  int id;
  std::string_view name;  // "namespace.function" as in window.vtl
  bool takesArgs;         // the script passes the caller's argument object
  CommandHandler handler;
};

std::span<const BridgeCommand> CommandTable();
const BridgeCommand* FindCommand(int id);

}  // namespace vtl
