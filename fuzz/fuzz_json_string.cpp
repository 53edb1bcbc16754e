// StringToJsonString over arbitrary bytes: the result is always one valid
// JSON string literal that reads back as the input's text (ill-formed UTF-8
// replaced by U+FFFD).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/str_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string literal = vtl::TStrUtils::StringToJsonString(text);
  const auto parsed = nlohmann::json::parse(literal, nullptr, false);
  if (!parsed.is_string() || parsed.get<std::string>() != vtl::Utf16ToUtf8(vtl::Utf8ToUtf16(text))) {
    std::fprintf(stderr, "fuzz_json_string: the literal does not read back\n");
    std::abort();
  }
  for (char c : literal)
    if (static_cast<unsigned char>(c) < 0x20) {
      std::fprintf(stderr, "fuzz_json_string: a raw control character in the literal\n");
      std::abort();
    }
  return 0;
}
