#include "core/bridge/arguments.h"

#include <cstdlib>
#include <optional>

#include "core/str_utils.h"

namespace vtl {
namespace {

const JsonValue kEmptyObject{JsonValue::Kind::Object};

[[noreturn]] void RaiseConversion(const JsonValue& value, std::string_view to) {
  throw EConvertError(std::string("Conversion from ") + JsonValue::KindName(value.kind()) + " to " +
                      std::string(to) + " is not supported");
}

// Text of a scalar; false for objects and arrays.
bool ScalarText(const JsonValue& value, std::string& text) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: text.clear(); return true;
    case JsonValue::Kind::True: text = "true"; return true;
    case JsonValue::Kind::False: text = "false"; return true;
    case JsonValue::Kind::Number:
    case JsonValue::Kind::String: text = value.text(); return true;
    default: return false;
  }
}

// A decimal number as JSON writes it, with optional fraction and exponent.
bool NumberIsZero(std::string_view text, bool& valid) {
  const std::string copy(text);
  char* end = nullptr;
  const double number = std::strtod(copy.c_str(), &end);
  valid = !copy.empty() && end == copy.c_str() + copy.size();
  return number == 0.0;
}

// The text with the regional decimal separator as "."; nothing when it holds
// a "." that is not the separator.
std::optional<std::string> WithDecimalPoint(const std::string& text, std::string_view separator) {
  if (separator.empty() || separator == ".") return text;
  if (text.find('.') != std::string::npos) return std::nullopt;
  std::string out;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, separator.size(), separator) == 0) {
      out += '.';
      at += separator.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

}  // namespace

std::string GetStringArg(const JsonValue& data, std::string_view key, std::string_view Default) {
  const JsonValue* member = data.Find(key);
  if (member == nullptr || member->IsNull()) return std::string(Default);
  std::string text;
  if (!ScalarText(*member, text)) RaiseConversion(*member, "string");
  return text;
}

bool GetBoolArg(const JsonValue& data, std::string_view key, bool Default, std::string_view decimalSeparator) {
  const JsonValue* member = data.Find(key);
  if (member == nullptr || member->IsNull()) return Default;
  if (member->kind() == JsonValue::Kind::True) return true;
  if (member->kind() == JsonValue::Kind::False) return false;
  const std::optional<std::string> number =
      member->IsString() ? WithDecimalPoint(member->text(), decimalSeparator) : member->text();
  if ((member->IsString() || member->IsNumber()) && number) {
    const std::string& text = *number;
    if (AsciiIEquals(text, "true")) return true;
    if (AsciiIEquals(text, "false")) return false;
    // Plain decimal text only: no blanks, no hexadecimal.
    const bool plain = !text.empty() && text.find_first_not_of("+-.0123456789eE") == std::string::npos;
    bool valid = false;
    const bool zero = plain && NumberIsZero(text, valid);
    if (plain && valid) return !zero;
  }
  RaiseConversion(*member, "boolean");
}

bool TryGetStringArg(const JsonValue& object, std::string_view key, std::string& value) {
  const JsonValue* member = object.Find(key);
  if (member == nullptr) return false;
  std::string text;
  if (!ScalarText(*member, text)) return false;
  value = std::move(text);
  return true;
}

std::string GetRequiredString(const JsonValue& message, std::string_view key) {
  if (message.Find(key) == nullptr) throw EJsonMissingValue("Value '" + std::string(key) + "' not found");
  return GetStringArg(message, key, "");
}

const JsonValue& GetObjectMember(const JsonValue& message, std::string_view key) {
  const JsonValue* member = message.Find(key);
  if (member == nullptr) throw EJsonMissingValue("Value '" + std::string(key) + "' not found");
  return member->IsObject() ? *member : kEmptyObject;
}

}  // namespace vtl
