#include "bare_extract.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace vtl::bench {
namespace {

uint16_t Le16(std::span<const uint8_t> b, size_t at) {
  if (at + 2 > b.size()) throw std::runtime_error("archive truncated");
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  if (at + 4 > b.size()) throw std::runtime_error("archive truncated");
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// CRC-32 (reflected, polynomial 0xEDB88320), one byte at a time: the step the
// traditional cipher's key schedule is built from.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

struct Keys {
  uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;

  void Update(uint8_t plain) {
    k0 = kCrcTable[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = kCrcTable[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  // Kept in registers for the hot loop.
  void Decrypt(const uint8_t* in, uint8_t* out, size_t n) {
    uint32_t a = k0, b = k1, c = k2;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t t = c | 2;
      const auto p = static_cast<uint8_t>(in[i] ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
      out[i] = p;
      a = kCrcTable[(a ^ p) & 0xFF] ^ (a >> 8);
      b = (b + (a & 0xFF)) * 134775813u + 1;
      c = kCrcTable[(c ^ (b >> 24)) & 0xFF] ^ (c >> 8);
    }
    k0 = a;
    k1 = b;
    k2 = c;
  }
};

}  // namespace

std::vector<RawEntry> ListRawEntries(std::span<const uint8_t> a) {
  if (a.size() < 22) throw std::runtime_error("no end of central directory");
  size_t eocd = a.size() - 22;
  for (;;) {
    if (Le32(a, eocd) == 0x06054b50u) break;
    if (eocd == 0 || a.size() - eocd > 22 + 0xFFFF) throw std::runtime_error("no end of central directory");
    --eocd;
  }
  const uint16_t count = Le16(a, eocd + 10);
  size_t at = Le32(a, eocd + 16);
  std::vector<RawEntry> out;
  for (uint16_t i = 0; i < count; ++i) {
    if (Le32(a, at) != 0x02014b50u) throw std::runtime_error("bad central directory header");
    RawEntry e;
    e.flags = Le16(a, at + 8);
    e.method = Le16(a, at + 10);
    e.modTime = Le16(a, at + 12);
    e.crc = Le32(a, at + 16);
    e.compressedSize = Le32(a, at + 20);
    e.size = Le32(a, at + 24);
    const uint16_t nameLen = Le16(a, at + 28), extraLen = Le16(a, at + 30), commentLen = Le16(a, at + 32);
    const size_t local = Le32(a, at + 42);
    if (at + 46 + nameLen > a.size()) throw std::runtime_error("name past the end");
    e.name.assign(reinterpret_cast<const char*>(a.data() + at + 46), nameLen);
    if (e.compressedSize == 0xFFFFFFFFu || e.size == 0xFFFFFFFFu || local == 0xFFFFFFFFu)
      throw std::runtime_error("ZIP64 entries are not handled here");
    if (Le32(a, local) != 0x04034b50u) throw std::runtime_error("bad local header");
    const size_t data = local + 30 + Le16(a, local + 26) + Le16(a, local + 28);
    if (data + e.compressedSize > a.size()) throw std::runtime_error("entry data past the end");
    e.data = a.subspan(data, static_cast<size_t>(e.compressedSize));
    out.push_back(std::move(e));
    at += 46 + nameLen + extraLen + commentLen;
  }
  return out;
}

BareResult BareExtract(const RawEntry& entry, std::string_view password, uint8_t* out, uint64_t outSize,
                       const BareOptions& options) {
  BareResult r;
  if ((entry.method != 8 && entry.method != 0) || !(entry.flags & 1)) {
    r.error = "expects an encrypted entry, stored or deflated";
    return r;
  }
  if (entry.data.size() < 12 || outSize < entry.size) {
    r.error = "entry too short or output too small";
    return r;
  }

  Keys keys;
  for (char c : password) keys.Update(static_cast<uint8_t>(c));
  uint8_t header[12];
  keys.Decrypt(entry.data.data(), header, 12);
  // The last header byte repeats the CRC's top byte, or the time's with a
  // data descriptor: the cheap wrong-password check every reader does.
  const auto check = static_cast<uint8_t>((entry.flags & 8) ? entry.modTime >> 8 : entry.crc >> 24);
  if (header[11] != check) {
    r.error = "wrong password";
    return r;
  }

  const uint8_t* in = entry.data.data() + 12;
  size_t left = entry.data.size() - 12;
  uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
  if (entry.method == 0) {
    if (left != entry.size) {
      r.error = "stored entry with a size mismatch";
      return r;
    }
    constexpr size_t kStep = 64 * 1024;  // CRC while the bytes are still in cache
    for (size_t at = 0; at < left; at += kStep) {
      const size_t n = std::min(kStep, left - at);
      keys.Decrypt(in + at, out + at, n);
      if (options.crc) crc = static_cast<uint32_t>(crc32_z(crc, out + at, n));
    }
    r.written = left;
    r.crc = crc;
    r.ok = true;
    return r;
  }

  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) {
    r.error = "inflateInit2 failed";
    return r;
  }
  constexpr size_t kChunk = 64 * 1024;
  uint8_t plain[kChunk];
  z.next_out = out;
  z.avail_out = static_cast<uInt>(std::min<uint64_t>(outSize, UINT32_MAX));
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (left == 0) break;
      const size_t n = std::min(left, kChunk);
      keys.Decrypt(in, plain, n);
      in += n;
      left -= n;
      z.next_in = plain;
      z.avail_in = static_cast<uInt>(n);
    }
    uint8_t* const before = z.next_out;
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    if (options.crc) crc = static_cast<uint32_t>(crc32(crc, before, static_cast<uInt>(z.next_out - before)));
  }
  r.written = z.total_out;
  inflateEnd(&z);
  if (status != Z_STREAM_END) {
    r.error = "inflate failed";
    return r;
  }
  r.crc = crc;
  r.ok = true;
  return r;
}

}  // namespace vtl::bench
