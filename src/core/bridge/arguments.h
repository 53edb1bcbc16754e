#pragma once

// The argument readers every bridge command uses. `data` is the request's
// "data" member (always an object, see GetObjectMember).

#include <string>
#include <string_view>

#include "core/errors.h"
#include "core/json.h"

namespace vtl {

// A JSON value of a kind that cannot be read as the type asked for:
// "Conversion from %0:s to %1:s is not supported".
class EConvertError : public Error {
 public:
  using Error::Error;
};

// A required member of the request is absent: "Value '%s' not found".
class EJsonMissingValue : public Error {
 public:
  using Error::Error;
};

// Absent or null: Default. String: its text. Number: its text as written.
// true/false: "true"/"false". Object or array: EConvertError.
std::string GetStringArg(const JsonValue& data, std::string_view key, std::string_view Default);

// Absent or null: Default. Booleans as they are. A string or number is read
// as text: "true"/"false" in any letter case, or a number (zero is false).
// Anything else: EConvertError. A number in a string is written with
// `decimalSeparator` (the menus pass the user's regional one); a JSON number
// is always written with ".".
bool GetBoolArg(const JsonValue& data, std::string_view key, bool Default, std::string_view decimalSeparator = ".");

// False when the member is absent or is an object or array; null gives true
// and an empty string. Never raises.
bool TryGetStringArg(const JsonValue& object, std::string_view key, std::string& value);

// For "id" and "uuid": absent raises EJsonMissingValue; null gives "";
// otherwise as GetStringArg.
std::string GetRequiredString(const JsonValue& message, std::string_view key);

// For "data": absent raises EJsonMissingValue; a member that is not an object
// reads as an object without members.
const JsonValue& GetObjectMember(const JsonValue& message, std::string_view key);

}  // namespace vtl
