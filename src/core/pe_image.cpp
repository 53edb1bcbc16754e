#include "core/pe_image.h"

#include <cstring>

namespace vtl {
namespace {

uint16_t Le16(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Le32(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

ImageEnd Fail(std::string why) {
  ImageEnd r;
  r.error = std::move(why);
  return r;
}

}  // namespace

ImageEnd ReadImageEnd(std::span<const uint8_t> b, uint64_t fileSize) {
  const uint64_t size = b.size();
  if (fileSize < size) fileSize = size;
  // `needed` is the end of the bytes that were needed and are missing.
  auto past = [&](const std::string& what, uint64_t needed) {
    return Fail(what + (needed <= fileSize ? " lies beyond the first " + std::to_string(size) +
                                                         " bytes, where the headers must be"
                                                   : " lies past the end of the file"));
  };
  if (size < 0x40) return Fail("the file is too short to be a Windows executable");
  if (b[0] != 'M' || b[1] != 'Z') return Fail("the file is not a Windows executable (no MZ signature)");

  const uint64_t pe = Le32(b, 0x3C);
  const uint64_t fileHeader = pe + 4;
  if (fileHeader + 20 > size) return past("the PE header at offset " + std::to_string(pe), fileHeader + 20);
  if (std::memcmp(b.data() + pe, "PE\0\0", 4) != 0)
    return Fail("the file is not a Windows executable (no PE signature)");

  const uint16_t sections = Le16(b, fileHeader + 2);
  const uint16_t optionalHeader = Le16(b, fileHeader + 16);
  if (sections == 0) return Fail("the executable has no sections");
  if (sections > kMaxSections)
    return Fail("the executable declares " + std::to_string(sections) + " sections, more than " +
                std::to_string(kMaxSections));

  const uint64_t table = fileHeader + 20 + optionalHeader;
  const uint64_t tableEnd = table + uint64_t{sections} * 40;
  if (tableEnd > size) return past("the section table", tableEnd);

  uint64_t end = 0;
  for (uint64_t s = table; s < tableEnd; s += 40) {
    const uint64_t last = uint64_t{Le32(b, s + 20)} + uint64_t{Le32(b, s + 16)};
    if (last > end) end = last;
  }
  ImageEnd r;
  r.ok = true;
  r.offset = end;
  r.sections = sections;

  // The security directory (data directory 4) holds a file offset, not an
  // address. Its place in the optional header depends on PE32 or PE32+.
  const uint64_t optional = fileHeader + 20;
  if (optionalHeader >= 2) {
    const uint16_t magic = Le16(b, optional);
    const uint64_t countAt = magic == 0x20b ? 108 : magic == 0x10b ? 92 : 0;
    if (countAt && optionalHeader >= countAt + 4 && Le32(b, optional + countAt) > 4 &&
        optionalHeader >= countAt + 4 + 5 * 8) {
      const uint64_t dir = optional + countAt + 4 + 4 * 8;
      r.certificateOffset = Le32(b, dir);
      r.certificateSize = Le32(b, dir + 4);
      if (r.certificateSize == 0) r.certificateOffset = 0;
    }
  }
  return r;
}

uint64_t ArchiveEnd(const ImageEnd& image, uint64_t fileSize) {
  if (image.certificateSize == 0 || image.certificateOffset < image.offset ||
      image.certificateOffset > fileSize || image.certificateSize > fileSize - image.certificateOffset)
    return fileSize;
  return image.certificateOffset;
}

}  // namespace vtl
