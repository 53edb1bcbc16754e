#include "core/bridge/browser_external_module.h"

#include <array>
#include <charconv>
#include <utility>

#include "core/bridge/arguments.h"
#include "core/bridge/command_table.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

// Decimal, with an optional sign, and within int.
bool ParseCommandId(const std::string& text, int& id) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, id);
  return error == std::errc() && end == last && first != last;
}

// GetRequiredString without a copy where the text is already in the document.
const std::string& ScalarTextRef(const JsonValue& message, std::string_view key, std::string& copy) {
  const JsonValue* member = message.Find(key);
  if (member != nullptr && (member->IsString() || member->IsNumber())) return member->text();
  copy = GetRequiredString(message, key);
  return copy;
}

// Printable ASCII that the JSON string writer copies unchanged: every uuid the
// bridge script makes is such text, and it skips the writer's UTF-16 pass.
constexpr std::array<bool, 256> kCopiedUnescaped = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c <= 0x7E; ++c) plain[c] = c != '"' && c != '\\' && c != '/';
  return plain;
}();

bool CopiesUnescaped(std::string_view text) {
  for (const char c : text) {
    if (!kCopiedUnescaped[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

std::string ClickScript(std::string_view handler, long long itemId) {
  return "vtl.events." + std::string(handler) + "(\"" + std::to_string(itemId) + "\");";
}

}  // namespace

void TBrowserExternalModule::EdgeBrowserWebMessageReceived(std::string_view json, std::string_view source) {
  if (Scope != BridgeScope::All && !AnswersSource(source)) return;
  const Route outer = std::exchange(route_, Route{});
  Dispatch(json);
  route_ = outer;
}

void TBrowserExternalModule::EdgeBrowserWebMessageReceived(std::string_view json, std::weak_ptr<ReplyTarget> frame,
                                                           std::string_view source) {
  if (Scope != BridgeScope::All && !AnswersSource(source)) return;
  const Route outer = std::exchange(route_, Route{true, std::move(frame)});
  Dispatch(json);
  route_ = outer;
}

TBrowserExternalModule::LateReply TBrowserExternalModule::ReplyLater(std::string uuid) {
  return [this, alive = Lifetime(), route = route_, uuid = std::move(uuid)](std::string_view result, bool success) {
    if (alive.expired()) return;
    const Route outer = std::exchange(route_, route);
    SendResponse(uuid, result, success);
    route_ = outer;
  };
}

void TBrowserExternalModule::Dispatch(std::string_view json) {
  try {
    // Text that is not JSON leaves no document; reading "id" then fails.
    const std::optional<JsonValue> document = ParseJson(json);
    static const JsonValue kNoDocument;
    const JsonValue& message = document ? *document : kNoDocument;
    // Strings and numbers are read in place; other kinds go through the reader
    // for its conversion rules and errors.
    std::string idCopy, uuidCopy;
    const std::string& idText = ScalarTextRef(message, "id", idCopy);
    const std::string& uuid = ScalarTextRef(message, "uuid", uuidCopy);
    const JsonValue& data = GetObjectMember(message, "data");
    int id = 0;
    if (!ParseCommandId(idText, id)) return;
    const BridgeCommand* command = FindCommand(id);
    if (command == nullptr) return;
    command->handler(*this, uuid, data);
  } catch (const std::exception& error) {
    if (OnUnhandledError) OnUnhandledError(error.what());
  } catch (...) {
    if (OnUnhandledError) OnUnhandledError("Unknown error");
  }
}

void TBrowserExternalModule::SendResponse(std::string_view uuid, std::string_view result, bool success) {
  std::shared_ptr<ReplyTarget> frame;
  if (route_.toFrame && !(frame = route_.frame.lock())) return;  // the frame is gone
  ReplyTarget* target = frame ? frame.get() : services_.webView;
  if (target == nullptr) return;
  // One buffer serves every reply, so a reply costs no allocation; a reply
  // sent while another is being posted (a modal loop inside the web view)
  // gets a buffer of its own.
  std::string local;
  const bool nested = replyBusy_;
  std::string& reply = nested ? local : replyBuffer_;
  replyBusy_ = true;
  reply.clear();
  reply += "{\"uuid\": ";
  // The uuid is written as a JSON string, so that no uuid can break the reply;
  // an ordinary one comes out exactly as it went in.
  if (CopiesUnescaped(uuid)) {
    reply += '"';
    reply += uuid;
    reply += '"';
  } else {
    reply += TStrUtils::StringToJsonString(uuid);
  }
  reply += ", \"success\": ";
  reply += success ? "true" : "false";
  reply += ", \"result\": ";
  reply += result;
  reply += '}';
  struct Release {
    bool& busy;
    bool nested;
    ~Release() {
      if (!nested) busy = false;
    }
  } release{replyBusy_, nested};
  target->PostWebMessageAsJson(reply);
}

void TBrowserExternalModule::RaiseEvent(const std::string& script) {
  if (services_.webView != nullptr) services_.webView->ExecuteScript(script);
}

// The script's value is true only when the page has the bridge's handler and
// it ran without throwing; a page without it, an error page, or a handler that
// throws gives null.
std::string CloseQueryEventScript() { return "vtl.events.onCloseQuery(); true;"; }

std::string MainMenuItemClickEventScript(long long itemId) { return ClickScript("onMainMenuItemClick", itemId); }

std::string TrayIconClickEventScript() { return "vtl.events.onTrayIconClick();"; }

std::string TrayMenuItemClickEventScript(long long itemId) { return ClickScript("onTrayMenuItemClick", itemId); }

std::string NotificationClickEventScript(std::string_view name) {
  std::string script = "vtl.events.onNotificationClick(\"";
  for (const char c : name) {
    switch (c) {
      case '\\': script += "\\\\"; break;
      case '"': script += "\\\""; break;
      case '\n': script += "\\n"; break;
      case '\r': script += "\\r"; break;
      default: script += c;
    }
  }
  // U+2028 and U+2029 end a line inside a script too.
  for (const std::string_view separator : {"\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    for (size_t at = script.find(separator); at != std::string::npos; at = script.find(separator, at)) {
      script.replace(at, separator.size(), separator == "\xE2\x80\xA8" ? "\\u2028" : "\\u2029");
    }
  }
  script += "\");";
  return script;
}

}  // namespace vtl
