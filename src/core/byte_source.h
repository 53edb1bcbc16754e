#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vtl {

// Bytes read at offsets: the package file on disk, a window of it, or bytes
// in memory. Readers parse through this instead of holding a whole file, so
// a large package costs only what is read from it.
//
// ReadAt may be called from any thread; implementations keep no position.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // The size as it was when the source was opened.
  virtual uint64_t Size() const = 0;

  // Fills all of `bytes` from `offset`. False, with a one-line reason in
  // `error` when given, when the bytes cannot all be read: past the end,
  // the file shrank, a read error, a locked region.
  virtual bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error = nullptr) const = 0;
};

// Bytes in memory, not owned: they must outlive the source.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error = nullptr) const override;

 private:
  std::span<const uint8_t> bytes_;
};

// Bytes in memory, owned.
class OwnedMemorySource final : public ByteSource {
 public:
  explicit OwnedMemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error = nullptr) const override;

 private:
  std::string bytes_;
};

// The part [offset, offset + length) of another source, read as a source of
// its own: the archive inside the executable, whose offsets count from its
// first byte.
class SourceWindow final : public ByteSource {
 public:
  SourceWindow(std::shared_ptr<const ByteSource> whole, uint64_t offset, uint64_t length)
      : whole_(std::move(whole)), offset_(offset), length_(length) {}
  uint64_t Size() const override { return length_; }
  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error = nullptr) const override;

 private:
  std::shared_ptr<const ByteSource> whole_;
  uint64_t offset_, length_;
};

// The reason text for a read past the end of a source of `size` bytes.
std::string PastEndText(uint64_t offset, uint64_t count, uint64_t size);

}  // namespace vtl
