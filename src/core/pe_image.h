#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vtl {

// Where an executable image ends in its file: the largest
// PointerToRawData + SizeOfRawData over all section headers. Whatever follows
// that point in the file is the attached archive.
//
// The bytes are untrusted: every offset is checked against the span and the
// arithmetic is done in 64 bits, so a damaged or truncated header yields an
// error instead of a read out of bounds or a wrapped sum.
struct ImageEnd {
  bool ok = false;
  uint64_t offset = 0;     // valid when ok
  uint16_t sections = 0;   // number of section headers read
  // The certificate table (the signature) that the security directory names,
  // as a file offset and size; both 0 when the image is not signed.
  uint64_t certificateOffset = 0;
  uint64_t certificateSize = 0;
  std::string error;       // one line, when !ok
};

//
// `headers` is the start of the file (or of the mapped module); `fileSize`, when
// larger, is the size of the whole file, so that an offset pointing into the
// file but past the header window is told apart from one past the end.
ImageEnd ReadImageEnd(std::span<const uint8_t> headers, uint64_t fileSize = 0);

// Where the attached archive ends in a file of `fileSize` bytes. A signature
// added after packing lies behind the archive, and the security directory
// names it: the archive ends where the certificate table begins. Without one
// (or with one that does not lie between the image end and the file end) the
// archive runs to the end of the file.
uint64_t ArchiveEnd(const ImageEnd& image, uint64_t fileSize);

// How much of a file on disk is read to find its image end. Real images keep
// their headers in the first few kilobytes; a header further in is refused.
inline constexpr uint64_t kImageHeaderWindow = 1 << 20;

// Images with more section headers than this are refused as damaged.
inline constexpr uint16_t kMaxSections = 96;

}  // namespace vtl
