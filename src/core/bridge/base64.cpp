#include "core/bridge/base64.h"

#include <array>
#include <cstdint>

namespace vtl {
namespace {

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> table{};
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < alphabet.size(); ++i) table[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
  return table;
}
constexpr std::array<uint8_t, 256> kValue = MakeTable();

}  // namespace

std::string DecodeBase64(std::string_view text) {
  const size_t groups = text.size() / 4;
  std::string bytes;
  bytes.resize(groups * 3);
  char* out = bytes.data();
  for (size_t g = 0; g < groups; ++g) {
    const auto* in = reinterpret_cast<const uint8_t*>(text.data()) + g * 4;
    const uint32_t v = (uint32_t{kValue[in[0]]} << 18) | (uint32_t{kValue[in[1]]} << 12) |
                       (uint32_t{kValue[in[2]]} << 6) | uint32_t{kValue[in[3]]};
    *out++ = static_cast<char>(v >> 16);
    *out++ = static_cast<char>(v >> 8);
    *out++ = static_cast<char>(v);
  }
  const size_t used = groups * 4;
  if (used > 0 && text[used - 1] == '=') {
    bytes.pop_back();
    if (text[used - 2] == '=') bytes.pop_back();
  }
  return bytes;
}

}  // namespace vtl
