#include "core/runtime_zip.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "core/package_password.h"
#include "test_support.h"

namespace vtl {
namespace {

const std::string kPassword(kPackagePassword);

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>("abcdefgh<>\n"[i % 11] ^ ((i / 4096) & 1));
  return s;
}

struct Opened {
  std::vector<uint8_t> bytes;
  RuntimeZip zip;
  explicit Opened(std::vector<uint8_t> b, std::string_view password = kPackagePassword) : bytes(std::move(b)) {
    zip.SetPassword(password);
    zip.Open(bytes);
  }
};

TEST(RuntimeZip, FindsWholeNamesIgnoringAsciiCaseOnly) {
  Opened o(test::MakeZip({{"vtl.ini", "[App]"}, {"app/index.html", "<p>"}, {"app/Ünï.txt", "u"}}, kPassword));
  struct Case {
    const char* name;
    int64_t index;
  };
  for (const auto& c : std::vector<Case>{{"vtl.ini", 0},
                                         {"VTL.INI", 0},
                                         {"APP/Index.HTML", 1},
                                         {"app\\index.html", -1},
                                         {"index.html", -1},
                                         {"app/", -1},
                                         {"app/ünï.txt", -1},  // non-ASCII letters keep their case
                                         {"APP/Ünï.TXT", 2},
                                         {"", -1}})
    EXPECT_EQ(o.zip.FindEntry(c.name), c.index) << c.name;
}

TEST(RuntimeZip, ExtractsStoredAndDeflatedEntries) {
  const std::string big = Pattern(300000);
  Opened o(test::MakeZip({{"a.bin", big, false}, {"b.bin", big, true}, {"empty", "", true}}, kPassword));
  for (const char* name : {"a.bin", "B.BIN"}) {
    std::string out = "prefix:";
    o.zip.Extract(name, out);
    EXPECT_EQ(out, "prefix:" + big) << name;  // written at the stream's position
  }
  std::string empty;
  o.zip.Extract("empty", empty);
  EXPECT_TRUE(empty.empty());
  EXPECT_TRUE(o.zip.Entry(0).encrypted);
  EXPECT_EQ(o.zip.Entry(0).method, 0);
  EXPECT_EQ(o.zip.Entry(1).method, 8);
  EXPECT_EQ(o.zip.Entry(0).compressedSize, big.size() + 12);  // the encryption header
}

TEST(RuntimeZip, UnknownNameWritesNothingAndRaisesNothing) {
  Opened o(test::MakeZip({{"vtl.ini", "x"}}, kPassword));
  std::string out;
  EXPECT_NO_THROW(o.zip.Extract("missing.txt", out));
  EXPECT_TRUE(out.empty());
  std::string error;
  EXPECT_FALSE(o.zip.ExtractEntry(-1, out, &error));
  EXPECT_FALSE(o.zip.ExtractEntry(7, out, &error));
}

TEST(RuntimeZip, WrongPasswordIsSilentForExtractAndReportedByExtractEntry) {
  Opened o(test::MakeZip({{"vtl.ini", Pattern(5000)}}, kPassword), "not-the-password");
  std::string out;
  EXPECT_NO_THROW(o.zip.Extract("vtl.ini", out));
  EXPECT_NE(out, Pattern(5000));
  std::string error;
  out.clear();
  EXPECT_FALSE(o.zip.ExtractEntry(0, out, &error));
  EXPECT_FALSE(error.empty());
}

TEST(RuntimeZip, DamagedEntryDataIsReported) {
  for (bool deflate : {false, true}) {
    auto bytes = test::MakeZip({{"a.txt", Pattern(20000), deflate}}, kPassword);
    const size_t data = 30 + (bytes[26] | bytes[27] << 8) + (bytes[28] | bytes[29] << 8);
    const size_t compressed = bytes[18] | bytes[19] << 8 | bytes[20] << 16;
    bytes[data + 12 + (compressed - 12) / 2] ^= 0x55;  // the middle of the entry's data
    Opened o(std::move(bytes));
    std::string out, error;
    EXPECT_FALSE(o.zip.ExtractEntry(0, out, &error)) << deflate;
    EXPECT_FALSE(error.empty());
  }
}

TEST(RuntimeZip, OpenRefusesWhatIsNoArchive) {
  const auto good = test::MakeZip({{"vtl.ini", "x"}, {"b", "y"}}, kPassword);
  std::vector<std::vector<uint8_t>> bad = {
      {},
      {'M', 'Z', 0, 0},
      std::vector<uint8_t>(good.begin(), good.end() - 10),     // end record cut
      std::vector<uint8_t>(good.begin(), good.begin() + 40),  // central directory gone
  };
  auto cdCut = good;
  // Point the end record's central directory offset past the data.
  const size_t eocd = cdCut.size() - 22;
  cdCut[eocd + 16] = 0xFF;
  cdCut[eocd + 17] = 0xFF;
  bad.push_back(cdCut);
  for (const auto& b : bad) {
    RuntimeZip z;
    z.SetPassword(kPassword);
    EXPECT_THROW(z.Open(b), EZipError) << "case of " << b.size() << " bytes";
    EXPECT_EQ(z.FindEntry("vtl.ini"), -1);
  }
}

// Finds the central directory header of the first entry.
size_t CentralHeader(const std::vector<uint8_t>& b) {
  for (size_t i = 0; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], "PK\1\2", 4) == 0) return i;
  return std::string::npos;
}

TEST(RuntimeZip, AbsurdDeclaredSizeNeitherAllocatesNorSucceeds) {
  auto bytes = test::MakeZip({{"a.txt", Pattern(1000), true}}, kPassword);
  const size_t cd = CentralHeader(bytes);
  ASSERT_NE(cd, std::string::npos);
  for (int i = 0; i < 4; ++i) bytes[cd + 24 + i] = 0xFE;  // uncompressed size ~4 GB
  Opened o(std::move(bytes));
  EXPECT_GT(o.zip.Entry(0).size, 4000000000u);
  std::string out, error;
  EXPECT_FALSE(o.zip.ExtractEntry(0, out, &error));
  EXPECT_LT(out.capacity(), 64u << 20);
}

TEST(RuntimeZip, NamesDifferingInCaseResolveToTheFirst) {
  Opened o(test::MakeZip({{"app/A.txt", "first"}, {"app/a.txt", "second"}}, kPassword));
  std::string out;
  o.zip.Extract("APP/a.TXT", out);
  EXPECT_EQ(out, "first");
}

// Archives written by other ZIP tools, given the password, read back.
class ForeignArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir_ / "hello.txt", std::string(3000, 'h') + "\nbye\n");
    test::WriteFile(dir_ / "tiny.txt", "t");
  }
  void Check(const std::string& command, const char* tool) {
    if (test::RunCommand(std::string("command -v ") + tool).status != 0) GTEST_SKIP() << tool << " is not installed";
    const auto r = test::RunCommand("cd " + test::Quote(dir_.path()) + " && " + command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    const std::string data = test::ReadFile(dir_ / "out.zip");
    Opened o(std::vector<uint8_t>(data.begin(), data.end()));
    for (const char* name : {"hello.txt", "tiny.txt"}) {
      std::string out, error;
      EXPECT_TRUE(o.zip.ExtractEntry(o.zip.FindEntry(name), out, &error)) << command << ": " << error;
      EXPECT_EQ(out, test::ReadFile(dir_ / name)) << command;
      EXPECT_TRUE(o.zip.Entry(static_cast<size_t>(o.zip.FindEntry(name))).encrypted);
    }
  }
  test::TempDir dir_;
};

TEST_F(ForeignArchives, InfoZipDeflated) { Check("zip -q -P " + kPassword + " out.zip hello.txt tiny.txt", "zip"); }
TEST_F(ForeignArchives, InfoZipStored) { Check("zip -q -0 -P " + kPassword + " out.zip hello.txt tiny.txt", "zip"); }
TEST_F(ForeignArchives, InfoZipStreamedWithDataDescriptors) {
  // Written to a pipe, the archive cannot be rewound: sizes and CRCs follow
  // each entry's data in a data descriptor.
  Check("zip -q -P " + kPassword + " - hello.txt tiny.txt | cat > out.zip", "zip");
}
TEST_F(ForeignArchives, SevenZipZipCryptoDeflated) {
  Check("7z a -bd -tzip -mem=ZipCrypto -mm=Deflate -p" + kPassword + " out.zip hello.txt tiny.txt >/dev/null", "7z");
}
TEST_F(ForeignArchives, SevenZipZipCryptoStored) {
  Check("7z a -bd -tzip -mem=ZipCrypto -mm=Copy -p" + kPassword + " out.zip hello.txt tiny.txt >/dev/null", "7z");
}

}  // namespace
}  // namespace vtl
