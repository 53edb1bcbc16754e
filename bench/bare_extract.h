#pragma once

// The least work that reading an encrypted, deflated archive entry needs:
// traditional PKWARE decryption and raw inflate, chunk by chunk, into the
// output buffer. It is the yardstick the archive reader is measured against,
// so it does nothing else (no archive parsing inside the loop, no copies).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtl::bench {

// One entry's raw bytes inside an archive held in memory, located through the
// central directory and the local header.
struct RawEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;  // including the 12-byte encryption header
  uint64_t size = 0;
  std::span<const uint8_t> data;  // compressedSize bytes after the local header
};

// Entries of a plain (non-ZIP64) archive. Throws std::runtime_error on
// anything it does not understand; it is for archives the benchmark made.
std::vector<RawEntry> ListRawEntries(std::span<const uint8_t> archive);

struct BareOptions {
  bool crc = true;  // also compute the CRC-32 of the output, as a checking reader must
};

struct BareResult {
  bool ok = false;
  uint64_t written = 0;
  uint32_t crc = 0;  // when BareOptions::crc
  std::string error;
};

// Decrypts and inflates `entry` into `out` (at least entry.size bytes). A
// stored entry is decrypted straight into `out`.
BareResult BareExtract(const RawEntry& entry, std::string_view password, uint8_t* out, uint64_t outSize,
                       const BareOptions& options = {});

}  // namespace vtl::bench
