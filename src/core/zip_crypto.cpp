#include "core/zip_crypto.h"

#include <array>

namespace vtl {
namespace {

// CRC-32 (reflected, polynomial 0xEDB88320), one byte per step.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

struct Keys {
  uint32_t a, b, c;

  uint8_t Stream() const {
    const uint32_t t = c | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
  void Update(uint8_t plain) {
    a = kCrcTable[(a ^ plain) & 0xFF] ^ (a >> 8);
    b = (b + (a & 0xFF)) * 134775813u + 1;
    c = kCrcTable[(c ^ (b >> 24)) & 0xFF] ^ (c >> 8);
  }
};

}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) {
  Keys k{k0_, k1_, k2_};
  for (const char ch : password) k.Update(static_cast<uint8_t>(ch));
  k0_ = k.a;
  k1_ = k.b;
  k2_ = k.c;
}

// The keys live in locals so that the loop keeps them in registers.
void ZipCrypto::Decrypt(std::span<uint8_t> bytes) {
  Keys k{k0_, k1_, k2_};
  for (uint8_t& byte : bytes) {
    byte = static_cast<uint8_t>(byte ^ k.Stream());
    k.Update(byte);
  }
  k0_ = k.a;
  k1_ = k.b;
  k2_ = k.c;
}

void ZipCrypto::Encrypt(std::span<uint8_t> bytes) {
  Keys k{k0_, k1_, k2_};
  for (uint8_t& byte : bytes) {
    const uint8_t plain = byte;
    byte = static_cast<uint8_t>(plain ^ k.Stream());
    k.Update(plain);
  }
  k0_ = k.a;
  k1_ = k.b;
  k2_ = k.c;
}

}  // namespace vtl
