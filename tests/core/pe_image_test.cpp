#include "core/pe_image.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vtl {
namespace {

using test::MakePeImage;

TEST(ReadImageEnd, TakesTheLargestSectionEndWhateverTheOrder) {
  for (const auto& sections : std::vector<std::vector<test::SectionSpec>>{
           {{0x400, 0x200}, {0x600, 0x800}, {0x2000, 0x100}},
           {{0x2000, 0x100}, {0x400, 0x200}, {0x600, 0x800}},
           {{0x600, 0x800}, {0x2000, 0x100}, {0x400, 0x200}},
       }) {
    const auto r = ReadImageEnd(MakePeImage(sections));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.offset, 0x2100u);
  }
}

TEST(ReadImageEnd, SectionWithNoRawDataCountsByItsPointer) {
  // Uninitialised-data sections have SizeOfRawData 0.
  const auto r = ReadImageEnd(MakePeImage({{0x400, 0x200}, {0x3000, 0}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.offset, 0x3000u);
}

TEST(ReadImageEnd, SumsThatWouldWrapIn32BitsStayExact) {
  auto image = MakePeImage({{0x400, 0x200}});
  // Rewrite the section: pointer 0xFFFFFF00, size 0x200. A 32-bit sum wraps to 0x100.
  const size_t h = 0x80 + 4 + 20 + 240;
  for (int i = 0; i < 4; ++i) image[h + 20 + i] = static_cast<uint8_t>(0xFFFFFF00u >> (8 * i));
  const auto r = ReadImageEnd(image);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.offset, 0x100000100ull);
}

TEST(ReadImageEnd, OptionalHeaderSizeMovesTheSectionTable) {
  const auto r = ReadImageEnd(MakePeImage({{0x400, 0x1200}}, 112));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.offset, 0x1600u);
}

struct BadHeader {
  const char* label;
  std::vector<uint8_t> bytes;
  const char* message;
};

std::vector<uint8_t> Truncated(std::vector<uint8_t> b, size_t n) {
  b.resize(n);
  return b;
}

std::vector<uint8_t> WithSections(uint16_t n) {
  auto b = MakePeImage({{0x400, 0x200}});
  b[0x80 + 6] = static_cast<uint8_t>(n);
  b[0x80 + 7] = static_cast<uint8_t>(n >> 8);
  return b;
}

TEST(ReadImageEnd, RefusesDamagedHeadersWithAClearReason) {
  const auto good = MakePeImage({{0x400, 0x200}, {0x600, 0x200}});
  auto noMz = good;
  noMz[0] = 'X';
  auto noPe = good;
  noPe[0x80] = 'X';
  auto farLfanew = good;
  farLfanew[0x3C + 3] = 0x7F;  // e_lfanew far beyond the file
  auto hugeOptional = good;
  hugeOptional[0x80 + 4 + 16] = 0xFF;
  hugeOptional[0x80 + 4 + 17] = 0xFF;

  const std::vector<BadHeader> cases = {
      {"empty", {}, "too short"},
      {"dos header cut", Truncated(good, 0x3F), "too short"},
      {"no MZ", noMz, "no MZ signature"},
      {"e_lfanew past the end", farLfanew, "past the end of the file"},
      {"cut inside the PE header", Truncated(good, 0x80 + 10), "past the end of the file"},
      {"no PE signature", noPe, "no PE signature"},
      {"cut inside the section table", Truncated(good, 0x80 + 4 + 20 + 240 + 50), "section table"},
      {"optional header past the end", hugeOptional, "section table"},
      {"no sections", WithSections(0), "no sections"},
      {"too many sections", WithSections(97), "97 sections"},
  };
  for (const auto& c : cases) {
    const auto r = ReadImageEnd(c.bytes);
    EXPECT_FALSE(r.ok) << c.label;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.label << ": " << r.error;
  }
}

TEST(ReadImageEnd, TellsAHeaderBeyondTheWindowFromOnePastTheFile) {
  auto b = MakePeImage({{0x400, 0x200}});
  const auto r = ReadImageEnd(std::span(b).first(0x60), 1 << 20);
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find("where the headers must be"), std::string::npos) << r.error;
}

}  // namespace
}  // namespace vtl
