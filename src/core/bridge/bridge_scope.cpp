#include "core/bridge/bridge_scope.h"

#include "core/mime_types.h"
#include "core/request_resolver.h"
#include "core/runtime_zip.h"
#include "core/str_utils.h"

namespace vtl {

BridgeScope ParseBridgeScope(std::string_view value) {
  return value.empty() || AsciiIEquals(value, "all") ? BridgeScope::All : BridgeScope::Package;
}

std::string_view BridgeScopeName(BridgeScope scope) { return scope == BridgeScope::All ? "all" : "package"; }

bool BridgeAnswersSource(BridgeScope scope, std::string_view source, const RuntimeZip* zip,
                         std::string_view appDirName) {
  if (scope == BridgeScope::All) return true;
  if (zip == nullptr || appDirName.empty()) return false;
  source = source.substr(0, source.find('#'));
  const auto resolved = ResolveRequest(source, appDirName, {}, MimeTypeTable::BuiltIn());
  // A folder entry is no document.
  return resolved && !resolved->path.empty() && resolved->path.back() != '/' &&
         zip->FindEntry(resolved->entryName) >= 0;
}

}  // namespace vtl
