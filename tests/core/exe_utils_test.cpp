#include "core/exe_utils.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace vtl {
namespace {

std::vector<uint8_t> Bytes(const MemoryStream& ms) { return {ms.begin(), ms.end()}; }

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(TExeUtils, ImageEndingAtItsLastSectionHasNoArchiveButOneMoreByteHas) {
  TempDir dir;
  auto image = test::MakeRuntimeImage();
  WriteFile(dir / "bare.exe", image);
  TExeUtils bare(dir / "bare.exe");
  EXPECT_EQ(bare.GetAttachedStubOffset(), image.size());
  EXPECT_FALSE(bare.ExeHasAttachedStub());
  MemoryStream ms;
  EXPECT_THROW(bare.GetZipFromExe(ms), ENoAttachedArchive);
  EXPECT_THROW(bare.ExtractZipFromExe(dir / "out.zip"), ENoAttachedArchive);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.zip"));

  image.push_back(0x42);
  WriteFile(dir / "one.exe", image);
  TExeUtils one(dir / "one.exe");
  EXPECT_TRUE(one.ExeHasAttachedStub());
  one.GetZipFromExe(ms);
  EXPECT_EQ(Bytes(ms), std::vector<uint8_t>{0x42});
}

TEST(TExeUtils, MissingExecutableHasNoArchiveAndSizeMinusOne) {
  TempDir dir;
  TExeUtils missing(dir / "nope.exe");
  EXPECT_EQ(missing.GetExeSize(), -1);
  EXPECT_FALSE(missing.ExeHasAttachedStub());
  EXPECT_EQ(TExeUtils::GetFileSizeOf(dir.path()), -1);
}

TEST(TExeUtils, DamagedHeadersRaiseInvalidImage) {
  TempDir dir;
  auto image = test::MakeRuntimeImage();
  image.resize(0x90);
  WriteFile(dir / "cut.exe", image);
  TExeUtils cut(dir / "cut.exe");
  EXPECT_THROW(cut.ExeHasAttachedStub(), EInvalidImage);
}

TEST(TExeUtils, AppendedArchiveReadsBackThroughMemoryAndFile) {
  TempDir dir;
  const auto image = test::MakeRuntimeImage();
  // A standalone archive (offsets from 0) larger than several copy chunks.
  std::string big(2 * TExeUtils::kChunkSize + 12345, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  const auto zip = test::MakeZip({{"vtl.ini", "[App]\nID=x\n"}, {"app/big.bin", big, false}}, kPackagePassword);
  WriteFile(dir / "app.zip", zip);
  WriteFile(dir / "app.exe", image);

  TExeUtils writer(dir / "app.exe");
  std::vector<int64_t> maxes, positions;
  writer.OnProgressMax = [&](int64_t m) { maxes.push_back(m); };
  writer.OnProgressPos = [&](int64_t p) { positions.push_back(p); };
  writer.AppendZipToExe(dir / "app.zip", dir / "app.exe");
  EXPECT_EQ(maxes, std::vector<int64_t>{static_cast<int64_t>(zip.size())});
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), static_cast<int64_t>(zip.size()));
  EXPECT_EQ(ReadFile(dir / "app.exe").size(), image.size() + zip.size());

  TExeUtils reader(dir / "app.exe");
  maxes.clear();
  positions.clear();
  reader.OnProgressMax = [&](int64_t m) { maxes.push_back(m); };
  reader.OnProgressPos = [&](int64_t p) { positions.push_back(p); };
  MemoryStream ms;
  ms.Allocate(5);  // old contents are replaced
  reader.GetZipFromExe(ms);
  EXPECT_EQ(Bytes(ms), zip);
  EXPECT_EQ(maxes, std::vector<int64_t>{static_cast<int64_t>(zip.size())});
  ASSERT_EQ(positions.size(), (zip.size() + TExeUtils::kChunkSize - 1) / TExeUtils::kChunkSize);
  for (size_t i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]);
  EXPECT_EQ(positions.back(), static_cast<int64_t>(zip.size()));

  RuntimeZip z;
  z.SetPassword(kPackagePassword);
  z.Open(ms);
  std::string content;
  z.Extract("app/big.bin", content);
  EXPECT_EQ(content, big);

  reader.ExtractZipFromExe(dir / "copy.zip");
  EXPECT_EQ(ReadFile(dir / "copy.zip"), std::string(zip.begin(), zip.end()));
}

TEST(TExeUtils, RunningModuleHeadersComeFromMemory) {
  TempDir dir;
  auto image = test::MakeRuntimeImage();
  const auto headers = image;  // as mapped
  image.insert(image.end(), {'Z', 'I', 'P'});
  WriteFile(dir / "self.exe", image);
  TExeUtils self(dir / "self.exe", headers);
  MemoryStream ms;
  self.GetZipFromExe(ms);
  EXPECT_EQ(std::string(ms.begin(), ms.end()), "ZIP");
}

TEST(TExeUtils, FileErrorsNameTheFile) {
  TempDir dir;
  WriteFile(dir / "app.exe", test::MakeRuntimeImage());
  TExeUtils u(dir / "app.exe");
  try {
    u.AppendZipToExe(dir / "missing.zip", dir / "app.exe");
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \""), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("missing.zip"), std::string::npos);
  }
  WriteFile(dir / "a.zip", "PK");
  EXPECT_THROW(u.AppendZipToExe(dir / "a.zip", dir / "absent.exe"), EFOpenError);
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.exe"));
}

}  // namespace
}  // namespace vtl
