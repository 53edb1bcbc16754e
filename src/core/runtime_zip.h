#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/byte_source.h"
#include "core/zip_crypto.h"

struct zip;  // libzip's archive handle

namespace vtl {

class EntryOutput;  // where an extraction puts its bytes

// The package archive reader. It reads a ZIP archive through a ByteSource:
// opening reads the end records and the central directory, and every
// extraction reads that entry's bytes when it is asked for, so neither the
// time to open nor the memory held grows with the entries' sizes. It
// decrypts with the package password and inflates.
//
// The four operations the runtime relies on keep their quiet manners:
// Open raises when the bytes are no archive; FindEntry answers −1; Extract of
// an unknown name writes nothing, and a decoding failure is not reported.
// Callers that need to know about failures use ExtractEntry.
class RuntimeZip {
 public:
  struct EntryInfo {
    std::string name;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint16_t method = 0;      // 0 stored, 8 deflated, ...
    bool encrypted = false;
    uint16_t encryptionMethod = 0;  // 0 none, 1 traditional PKWARE, 0x66xx AES
  };

  // Receives the decoded bytes of an entry, chunk by chunk. Returning false
  // stops the extraction (it then counts as failed).
  using Sink = std::function<bool(std::span<const uint8_t>)>;

  RuntimeZip();
  ~RuntimeZip();
  RuntimeZip(const RuntimeZip&) = delete;
  RuntimeZip& operator=(const RuntimeZip&) = delete;

  // Applies to every later extraction.
  void SetPassword(std::string_view password);

  // Reads the end records and the central directory from `archive`, which
  // the reader keeps for later extractions. Raises EZipError when the bytes
  // hold no archive the reader recognises, or cannot be read.
  void Open(std::shared_ptr<const ByteSource> archive);
  // The same over bytes in memory, which must outlive the reader.
  void Open(std::span<const uint8_t> archive);
  bool IsOpen() const { return source_ != nullptr; }

  // Index of the entry whose whole name equals `name`, ignoring ASCII letter
  // case; "/" is the folder separator as stored. −1 when there is none. When
  // two names differ only in case, the first in the archive wins.
  int64_t FindEntry(std::string_view name) const;

  // Appends the entry's plain bytes to `target`. Unknown names and decoding
  // failures are silent; the target may then be left incomplete.
  void Extract(std::string_view name, std::string& target) const;

  // Streams the entry's plain bytes into `sink`. Returns false and sets
  // `error` when the entry cannot be read (wrong password, damaged data,
  // a size or checksum that does not match).
  bool ExtractEntry(int64_t index, const Sink& sink, std::string* error = nullptr) const;
  // The same into a string; `target` holds what was decoded before a failure.
  bool ExtractEntry(int64_t index, std::string& target, std::string* error = nullptr) const;

  // Streams the plain bytes [first, first + count) of the entry into `sink`,
  // `count` clipped to the entry's end. Only what the range needs is read:
  // a stored entry from the nearest point where the cipher's keys are known
  // (they are kept every kKeyStep bytes of a large entry once decoded that
  // far), a deflated one inflated up to the range's end. The CRC covers the
  // whole entry, so a range is checked against it only when it reaches from
  // the first byte to the last; the check byte is always checked.
  bool ExtractRange(int64_t index, uint64_t first, uint64_t count, const Sink& sink,
                    std::string* error = nullptr) const;
  static constexpr uint64_t kKeyStep = 1 << 20;

  size_t EntryCount() const { return entries_.size(); }
  const EntryInfo& Entry(size_t index) const { return entries_[index]; }

 private:
  struct ZipCloser {
    void operator()(::zip* z) const;
  };
  // What an entry is checked against when the reader decodes it itself
  // rather than through the archive library.
  struct Checks {
    uint32_t crc = 0;
    uint16_t dosTime = 0;       // the encryption header's check byte may repeat its high byte
    bool complete = false;      // the library reported sizes, method, cipher and CRC
    bool located = false;       // the central directory agrees: dosTime and localHeader are known
    uint64_t localHeader = 0;   // offset of the entry's local header in the archive
  };
  struct Decoding;
  bool DecodesItself(size_t index) const;
  bool OpenLibrary(std::string* error) const;
  bool ExtractThroughLibrary(int64_t index, const Sink& sink, std::string* error) const;
  bool ExtractRangeThroughLibrary(int64_t index, uint64_t first, uint64_t count, const Sink& sink,
                                  std::string* error) const;
  bool Decode(size_t index, EntryOutput& out, uint64_t first, uint64_t count, std::string* error) const;

  std::shared_ptr<const ByteSource> source_;
  mutable std::mutex libraryLock_;
  mutable std::unique_ptr<::zip, ZipCloser> zip_;  // opened when an entry needs the library
  std::string password_;
  ZipCrypto passwordKeys_{""};
  uint64_t archiveSize_ = 0;
  std::vector<EntryInfo> entries_;
  std::vector<Checks> checks_;
  std::unordered_map<std::string, int64_t> index_;  // ASCII-lower-cased name -> first index
  // The cipher's keys at every kKeyStep plain bytes of large stored entries,
  // as far as they have been decoded: keys_[index][k] holds the keys before
  // byte (k + 1) * kKeyStep.
  mutable std::mutex keysLock_;
  mutable std::unordered_map<size_t, std::vector<ZipCrypto>> keys_;
};

}  // namespace vtl
