#include "core/zip_crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/package_password.h"
#include "test_support.h"

namespace vtl {
namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + static_cast<size_t>(i));
  return v;
}

// An entry as written: its raw data (encryption header included) and what
// the check byte may repeat.
struct RawEntry {
  std::vector<uint8_t> data;
  uint16_t flags;
  uint16_t dosTime;
  uint32_t crc;
};

// The entries of a small archive, found through its central directory.
std::vector<RawEntry> RawEntries(const std::vector<uint8_t>& zip) {
  const size_t end = zip.size() - 22;
  EXPECT_EQ(Le(zip, end, 4), 0x06054b50u);
  std::vector<RawEntry> entries;
  size_t at = Le(zip, end + 16, 4);
  for (uint32_t i = 0, n = Le(zip, end + 10, 2); i < n; ++i) {
    EXPECT_EQ(Le(zip, at, 4), 0x02014b50u);
    const size_t local = Le(zip, at + 42, 4);
    const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    const auto begin = zip.begin() + static_cast<std::ptrdiff_t>(data);
    entries.push_back({std::vector<uint8_t>(begin, begin + Le(zip, at + 20, 4)),
                       static_cast<uint16_t>(Le(zip, at + 8, 2)), static_cast<uint16_t>(Le(zip, at + 12, 2)),
                       Le(zip, at + 16, 4)});
    at += 46 + Le(zip, at + 28, 2) + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
  }
  return entries;
}

std::string Text(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

// libzip encrypts stored entries; decrypting them must give the plain text
// back, whatever the password's bytes and however the data is cut up.
TEST(ZipCrypto, DecryptsWhatTheArchiveLibraryEncrypted) {
  const std::vector<std::string> passwords = {std::string(kPackagePassword), "p", "p\xC3\xA4sswörd \xFF"};
  const std::vector<std::string> texts = {"", "x", Text(5000), Text(70000)};
  const std::vector<size_t> pieces = {1, 13, 4096, 1 << 20};
  for (const auto& password : passwords) {
    std::vector<test::ZipFile> files;
    for (size_t i = 0; i < texts.size(); ++i) files.push_back({"f" + std::to_string(i), texts[i], false});
    const auto entries = RawEntries(test::MakeZip(files, password));
    ASSERT_EQ(entries.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      const RawEntry& e = entries[i];
      ASSERT_EQ(e.data.size(), ZipCrypto::kHeaderSize + texts[i].size());
      for (const size_t piece : pieces) {
        std::vector<uint8_t> plain = e.data;
        ZipCrypto keys(password);
        for (size_t at = 0; at < plain.size(); at += piece)
          keys.Decrypt(std::span(plain).subspan(at, std::min(piece, plain.size() - at)));
        const uint8_t check = plain[ZipCrypto::kHeaderSize - 1];
        EXPECT_EQ(check, (e.flags & 8) ? e.dosTime >> 8 : e.crc >> 24) << password << " entry " << i;
        EXPECT_EQ(std::string(plain.begin() + ZipCrypto::kHeaderSize, plain.end()), texts[i])
            << password << " entry " << i << " in pieces of " << piece;
      }
    }
  }
}

TEST(ZipCrypto, EncryptsAsTheArchiveLibraryDoes) {
  const auto entries = RawEntries(test::MakeZip({{"a", Text(3000), false}}, kPackagePassword));
  ASSERT_EQ(entries.size(), 1u);
  std::vector<uint8_t> bytes = entries[0].data;
  ZipCrypto(kPackagePassword).Decrypt(bytes);
  ZipCrypto(kPackagePassword).Encrypt(bytes);
  EXPECT_EQ(bytes, entries[0].data);
}

TEST(ZipCrypto, OtherPasswordsAndRandomDataRoundTrip) {
  std::mt19937 random(7);
  std::vector<uint8_t> plain(100000);
  for (auto& b : plain) b = static_cast<uint8_t>(random());
  auto bytes = plain;
  ZipCrypto("secret").Encrypt(bytes);
  EXPECT_NE(bytes, plain);
  auto wrong = bytes;
  ZipCrypto("Secret").Decrypt(wrong);
  EXPECT_NE(wrong, plain);
  ZipCrypto("secret").Decrypt(bytes);
  EXPECT_EQ(bytes, plain);
}

}  // namespace
}  // namespace vtl
