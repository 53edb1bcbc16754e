#pragma once

// The one script the browser form registers to run at the creation of every
// document, before the page's own scripts.

#include <string>
#include <string_view>

namespace vtl {

// Each piece follows one carriage return: the bridge script (when
// `withExternal`, its UTF-8 byte-order mark removed), the two guards that
// keep a dropped file from replacing the page, and the user script, untrimmed,
// unless it is nothing but blanks and control characters.
std::string BuildDocumentScript(bool withExternal, std::string_view bridgeScript, std::string_view userScript);

inline constexpr std::string_view kDragOverGuard =
    "window.addEventListener(\"dragover\", function(e){e.preventDefault();},false);";
inline constexpr std::string_view kDropGuard =
    "window.addEventListener(\"drop\", function(e){e.preventDefault();}, false);";

// True when the text is empty once blanks and control characters are trimmed.
bool IsBlankText(std::string_view text);

}  // namespace vtl
