#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vtl {

// The traditional PKWARE cipher of ZIP entries: a byte stream cipher whose
// three 32-bit keys advance with every plain byte. An encrypted entry's data
// opens with a 12-byte header whose last byte, once decrypted, repeats the
// high byte of the entry's CRC-32 or of its DOS modification time.
class ZipCrypto {
 public:
  static constexpr size_t kHeaderSize = 12;

  // The keys after taking in `password`.
  explicit ZipCrypto(std::string_view password);

  // Both work in place and carry the keys on, so a stream may be handled in
  // pieces of any size.
  void Decrypt(std::span<uint8_t> bytes);
  void Encrypt(std::span<uint8_t> bytes);

 private:
  uint32_t k0_ = 0x12345678u;
  uint32_t k1_ = 0x23456789u;
  uint32_t k2_ = 0x34567890u;
};

}  // namespace vtl
