#include "core/byte_source.h"

#include <cstring>

namespace vtl {
namespace {

bool Within(uint64_t offset, uint64_t count, uint64_t size) { return offset <= size && count <= size - offset; }

bool ReadFromMemory(std::span<const uint8_t> from, uint64_t offset, std::span<uint8_t> bytes, std::string* error) {
  if (!Within(offset, bytes.size(), from.size())) {
    if (error) *error = PastEndText(offset, bytes.size(), from.size());
    return false;
  }
  if (!bytes.empty()) std::memcpy(bytes.data(), from.data() + offset, bytes.size());
  return true;
}

}  // namespace

std::string PastEndText(uint64_t offset, uint64_t count, uint64_t size) {
  return "cannot read " + std::to_string(count) + " bytes at offset " + std::to_string(offset) + " of " +
         std::to_string(size);
}

bool MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error) const {
  return ReadFromMemory(bytes_, offset, bytes, error);
}

bool OwnedMemorySource::ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error) const {
  return ReadFromMemory({reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()}, offset, bytes, error);
}

bool SourceWindow::ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error) const {
  if (!Within(offset, bytes.size(), length_)) {
    if (error) *error = PastEndText(offset, bytes.size(), length_);
    return false;
  }
  return whole_->ReadAt(offset_ + offset, bytes, error);
}

}  // namespace vtl
