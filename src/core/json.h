#pragma once

// A small JSON document model for the bridge's messages. Numbers keep the text
// they were written with, because commands read them back as text. Object
// members keep their order; a lookup finds the first member of a name.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vtl {

class JsonValue {
 public:
  enum class Kind { Null, False, True, Number, String, Array, Object };

  JsonValue() = default;
  explicit JsonValue(Kind kind) : kind_(kind) {}

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsBool() const { return kind_ == Kind::False || kind_ == Kind::True; }
  bool IsNumber() const { return kind_ == Kind::Number; }
  bool IsString() const { return kind_ == Kind::String; }
  bool IsArray() const { return kind_ == Kind::Array; }
  bool IsObject() const { return kind_ == Kind::Object; }

  // The string's UTF-8 text, or the number exactly as written.
  const std::string& text() const { return text_; }
  const std::vector<JsonValue>& items() const { return items_; }
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }

  // The first member named `key`, or null when this is no object or has none.
  const JsonValue* Find(std::string_view key) const;

  // Lower-case name of the kind, for error texts: "null", "boolean", ...
  static const char* KindName(Kind kind);

 private:
  friend class JsonParser;
  Kind kind_ = Kind::Null;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// Deeper documents are refused as a whole: a message nested a million levels
// must cost neither the stack nor the time to build it.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Strict RFC 8259 text; surrounding blanks are allowed. Escaped surrogate
// pairs become one character and an unpaired escaped surrogate becomes U+FFFD;
// unescaped bytes are copied as they are. Returns nothing for anything that is
// not exactly one JSON value, or that nests deeper than kMaxJsonDepth.
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace vtl
