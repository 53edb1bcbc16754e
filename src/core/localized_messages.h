#pragma once

#include <array>
#include <span>
#include <string_view>

namespace vtl {

// The start-up messages: the only translated texts of the runtime. Each
// language has ten strings; index 0 is its ISO 639 code.
enum MessageIndex : int {
  kMsgLanguageCode = 0,
  kMsgErrorCaption = 1,
  kMsgConfirmCaption = 2,
  kMsgAccept = 3,
  kMsgCancel = 4,
  kMsgNotAnApplication = 5,
  kMsgRuntimeRequired = 6,
  kMsgInstallQuestion = 7,
  kMsgDeclined = 8,
  kMsgInstallFailed = 9,
};

using MessageTable = std::array<std::string_view, 10>;

extern const MessageTable DefaultMessages;
// Spanish, Italian, German, French, Chinese, in this order.
std::span<const MessageTable> TranslatedMessages();

// The text of `index` in the language whose code is `languageCode` (the
// first translated table with exactly that code), or in English. Raises
// vtl::Error "MessageIndex is out of range!" outside 0 to 9.
std::string_view GetLocalizedMessage(int index, std::string_view languageCode);

}  // namespace vtl
