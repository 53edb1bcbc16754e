#pragma once

// Editing a runtime image before an archive is appended to it: its resources
// (read as a flat list, written back as a rebuilt resource section), its
// signature and its checksum.
//
// The image comes from a file and is untrusted: every offset is checked, and a
// damaged header or resource tree raises vtl::Error with one line saying what
// is wrong.

#include <cstdint>
#include <string>
#include <vector>

namespace vtl::pack {

// A resource type or name: a number, or a name (UTF-16, as stored).
struct ResourceId {
  uint16_t id = 0;
  std::u16string name;  // not empty for a named resource

  static ResourceId Number(uint16_t n) { return {n, {}}; }
  static ResourceId Named(std::u16string_view s) { return {0, std::u16string(s)}; }
  bool IsName() const { return !name.empty(); }
  bool operator==(const ResourceId&) const = default;
  std::string Text() const;  // "MAINICON" or "#3"
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

inline constexpr uint16_t kRtIcon = 3;
inline constexpr uint16_t kRtGroupIcon = 14;
inline constexpr uint16_t kRtVersion = 16;

class PeImage {
 public:
  // Takes the file's bytes: the image, and whatever follows it.
  explicit PeImage(std::vector<uint8_t> bytes);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // The end of the last section's raw data.
  uint64_t ImageEnd() const;

  // The resources, in directory order. An image without a resource
  // directory has none.
  std::vector<Resource> ReadResources() const;
  // Writes `resources` as the image's resource section, in place of the old
  // one. The section grows or shrinks as needed; sections behind it (the base
  // relocations) move along, and the headers follow.
  void WriteResources(const std::vector<Resource>& resources);

  // True when the security directory names a certificate table.
  bool Signed() const;
  // Cuts the certificate table off the file and clears the security
  // directory. Padding the signer put between the image and the table goes
  // too.
  void RemoveSignature();

  // Offset of the optional header's CheckSum field.
  uint64_t ChecksumOffset() const { return optional_ + 64; }

 private:
  struct Section {
    uint64_t header;  // offset of the section header
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer, characteristics;
  };
  void ReadHeaders();
  uint32_t DirectoryRva(int index) const;
  uint32_t DirectorySize(int index) const;
  void SetDirectory(int index, uint32_t rva, uint32_t size);
  // The file offset of `size` bytes at `rva`, inside one section's raw data.
  uint64_t RvaToOffset(uint32_t rva, uint32_t size, const char* what) const;
  void Store(const Section& s);

  std::vector<uint8_t> bytes_;
  uint64_t fileHeader_ = 0, optional_ = 0, directories_ = 0;
  uint32_t directoryCount_ = 0;
  uint32_t sectionAlignment_ = 0, fileAlignment_ = 0;
  std::vector<Section> sections_;
};

// The standard image checksum, computed over a whole file as it is fed in
// (the CheckSum field itself counts as zero). Feed even-sized pieces, except
// perhaps the last.
class ImageChecksum {
 public:
  explicit ImageChecksum(uint64_t checksumOffset) : checksumOffset_(checksumOffset) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Value() const;

 private:
  uint64_t checksumOffset_;
  uint64_t position_ = 0;
  uint64_t sum_ = 0;
};

}  // namespace vtl::pack
