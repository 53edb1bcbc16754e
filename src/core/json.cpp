#include "core/json.h"

#include <cstdint>

namespace vtl {

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const auto& [name, value] : members_) {
    if (name == key) return &value;
  }
  return nullptr;
}

const char* JsonValue::KindName(Kind kind) {
  switch (kind) {
    case Kind::Null: return "null";
    case Kind::False:
    case Kind::True: return "boolean";
    case Kind::Number: return "number";
    case Kind::String: return "string";
    case Kind::Array: return "array";
    case Kind::Object: return "object";
  }
  return "value";
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  std::optional<JsonValue> Document() {
    JsonValue value;
    SkipBlanks();
    if (!Value(value, 1)) return std::nullopt;
    SkipBlanks();
    if (p_ != end_) return std::nullopt;
    return value;
  }

 private:
  const char* p_;
  const char* end_;

  void SkipBlanks() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  bool Literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
    p_ += word.size();
    return true;
  }

  bool Value(JsonValue& out, size_t depth) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{': return Object(out, depth);
      case '[': return Array(out, depth);
      case '"': out.kind_ = JsonValue::Kind::String; return String(out.text_);
      case 't': out.kind_ = JsonValue::Kind::True; return Literal("true");
      case 'f': out.kind_ = JsonValue::Kind::False; return Literal("false");
      case 'n': out.kind_ = JsonValue::Kind::Null; return Literal("null");
      default: out.kind_ = JsonValue::Kind::Number; return Number(out.text_);
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool Number(std::string& out) {
    const char* start = p_;
    if (p_ != end_ && *p_ == '-') ++p_;
    if (p_ == end_ || !IsDigit(*p_)) return false;
    if (*p_ == '0') {
      ++p_;
    } else {
      while (p_ != end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ != end_ && IsDigit(*p_)) ++p_;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ != end_ && IsDigit(*p_)) ++p_;
    }
    out.assign(start, p_);
    return true;
  }

  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool Hex4(uint32_t& unit) {
    if (end_ - p_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *p_++;
      unit <<= 4;
      if (c >= '0' && c <= '9') unit |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') unit |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') unit |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool String(std::string& out) {
    ++p_;  // opening quote
    out.clear();
    for (;;) {
      // Copy the run of plain bytes in one go.
      const char* run = p_;
      while (p_ != end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
      out.append(run, p_);
      if (p_ == end_ || static_cast<unsigned char>(*p_) < 0x20) return false;
      if (*p_ == '"') {
        ++p_;
        return true;
      }
      ++p_;  // backslash
      if (p_ == end_) return false;
      const char e = *p_++;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t unit = 0;
          if (!Hex4(unit)) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
            const char* save = p_;
            p_ += 2;
            uint32_t low = 0;
            if (!Hex4(low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF) {
              AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
              break;
            }
            p_ = save;  // the next escape stands on its own
          }
          AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
          break;
        }
        default: return false;
      }
    }
  }

  bool Array(JsonValue& out, size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out.kind_ = JsonValue::Kind::Array;
    ++p_;
    SkipBlanks();
    if (p_ != end_ && *p_ == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      out.items_.emplace_back();
      if (!Value(out.items_.back(), depth + 1)) return false;
      SkipBlanks();
      if (p_ == end_) return false;
      if (*p_ == ']') {
        ++p_;
        return true;
      }
      if (*p_++ != ',') return false;
    }
  }

  bool Object(JsonValue& out, size_t depth) {
    if (depth > kMaxJsonDepth) return false;
    out.kind_ = JsonValue::Kind::Object;
    ++p_;
    SkipBlanks();
    if (p_ != end_ && *p_ == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      if (p_ == end_ || *p_ != '"') return false;
      out.members_.emplace_back();
      auto& member = out.members_.back();
      if (!String(member.first)) return false;
      SkipBlanks();
      if (p_ == end_ || *p_++ != ':') return false;
      SkipBlanks();
      if (!Value(member.second, depth + 1)) return false;
      SkipBlanks();
      if (p_ == end_) return false;
      if (*p_ == '}') {
        ++p_;
        return true;
      }
      if (*p_++ != ',') return false;
    }
  }
};

std::optional<JsonValue> ParseJson(std::string_view text) { return JsonParser(text).Document(); }

}  // namespace vtl
