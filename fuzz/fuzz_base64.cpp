// base64.decodeToFile's decoder on arbitrary text: the output size follows
// from the groups and the padding alone, and bytes encoded in the standard
// alphabet come back exactly.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/bridge/base64.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

std::string Encode(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = vtl::DecodeBase64(text);
  const size_t groups = size / 4;
  size_t padding = 0;
  if (groups > 0 && text[groups * 4 - 1] == '=') padding = text[groups * 4 - 2] == '=' ? 2 : 1;
  Require(decoded.size() == groups * 3 - padding, "three bytes a group, less the padding");
  Require(vtl::DecodeBase64(Encode(text)) == text, "encoded bytes come back");
  return 0;
}
