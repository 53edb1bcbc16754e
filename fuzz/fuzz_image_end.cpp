// ReadImageEnd over arbitrary bytes. The input is the header window; the same
// bytes are also read as the start of larger files. The file size only changes
// the wording of an error, never whether or where the image ends.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "core/pe_image.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_image_end: invariant broken: %s\n", what);
    std::abort();
  }
}

void CheckOne(const vtl::ImageEnd& r) {
  Require(r.ok == r.error.empty(), "an error text exactly when not ok");
  if (r.ok) Require(r.sections >= 1 && r.sections <= vtl::kMaxSections, "section count within 1..kMaxSections");
  // Each section adds at most 2 * (2^32 - 1).
  if (r.ok) Require(r.offset <= 2 * uint64_t{UINT32_MAX}, "offset within one section's 32-bit reach");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const vtl::ImageEnd plain = vtl::ReadImageEnd(bytes);
  CheckOne(plain);

  for (const uint64_t fileSize : {uint64_t{0}, uint64_t{size} / 2, uint64_t{size} + 1, uint64_t{size} + (1u << 20),
                                  uint64_t{UINT64_MAX}}) {
    const vtl::ImageEnd r = vtl::ReadImageEnd(bytes, fileSize);
    CheckOne(r);
    Require(r.ok == plain.ok, "the file size does not change whether the headers read");
    if (r.ok) Require(r.offset == plain.offset && r.sections == plain.sections, "the file size does not move the end");
  }
  return 0;
}
