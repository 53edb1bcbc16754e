#include "core/document_script.h"

namespace vtl {

bool IsBlankText(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

std::string BuildDocumentScript(bool withExternal, std::string_view bridgeScript, std::string_view userScript) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  std::string script;
  script.reserve(bridgeScript.size() + userScript.size() + kDragOverGuard.size() + kDropGuard.size() + 4);
  if (withExternal) {
    if (bridgeScript.substr(0, kBom.size()) == kBom) bridgeScript.remove_prefix(kBom.size());
    script += '\r';
    script += bridgeScript;
  }
  script += '\r';
  script += kDragOverGuard;
  script += '\r';
  script += kDropGuard;
  if (!IsBlankText(userScript)) {
    script += '\r';
    script += userScript;
  }
  return script;
}

}  // namespace vtl
