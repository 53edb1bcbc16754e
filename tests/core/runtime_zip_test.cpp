#include "core/runtime_zip.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstring>
#include <optional>

#include "core/byte_source.h"
#include "core/errors.h"
#include "core/package_password.h"
#include "core/zip_crypto.h"
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
    std::string again = "prefix:", error;
    EXPECT_TRUE(o.zip.ExtractEntry(o.zip.FindEntry(name), again, &error)) << name << ": " << error;
    EXPECT_EQ(again, out) << name;
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

TEST(RuntimeZip, PasswordMayBeSetAfterOpenAndChanged) {
  const std::string text = Pattern(5000);
  const auto bytes = test::MakeZip({{"a", text, false}, {"b", text, true}}, kPassword);
  RuntimeZip zip;
  zip.Open(bytes);
  for (const auto& [password, readable] : std::vector<std::pair<std::string, bool>>{
           {"", false}, {kPassword, true}, {"not-the-password", false}, {kPassword, true}}) {
    zip.SetPassword(password);
    for (int64_t i : {0, 1}) {
      std::string out, error;
      EXPECT_EQ(zip.ExtractEntry(i, out, &error), readable) << "\"" << password << "\" entry " << i << ": " << error;
      if (readable) EXPECT_EQ(out, text);
      else EXPECT_FALSE(error.empty());
    }
  }
}

TEST(RuntimeZip, SinkGetsChunksAndMayStopTheExtraction) {
  const std::string text = Pattern(500000);
  Opened o(test::MakeZip({{"s", text, false}, {"d", text, true}}, kPassword));
  for (int64_t i : {0, 1}) {
    std::string streamed, error;
    size_t chunks = 0;
    EXPECT_TRUE(o.zip.ExtractEntry(
        i,
        [&](std::span<const uint8_t> chunk) {
          EXPECT_FALSE(chunk.empty());
          ++chunks;
          streamed.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
          return true;
        },
        &error))
        << error;
    EXPECT_EQ(streamed, text) << i;
    EXPECT_GT(chunks, 1u) << i;  // streamed, not gathered whole

    size_t calls = 0;
    EXPECT_FALSE(o.zip.ExtractEntry(i, [&](std::span<const uint8_t>) { return ++calls < 2; }, &error));
    EXPECT_EQ(calls, 2u) << i;
    EXPECT_EQ(error, "extraction stopped");
  }
}

// Bytes in memory that count what is read from them.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string* error) const override {
    read += out.size();
    ++calls;
    return MemorySource(bytes_).ReadAt(offset, out, error);
  }
  mutable uint64_t read = 0, calls = 0;

 private:
  std::vector<uint8_t> bytes_;
};

TEST(RuntimeZip, ReadsTheDirectoryAtOpenAndEachRangeWhenAsked) {
  const uint64_t step = RuntimeZip::kKeyStep;
  const std::string big = Pattern(static_cast<size_t>(3 * step + step / 2)), text = Pattern(300000);
  auto source = std::make_shared<CountingSource>(
      test::MakeZip({{"big.mp4", big, false}, {"page.js", text, true}, {"small", "0123456789", false}}, kPassword));
  RuntimeZip zip;
  zip.SetPassword(kPassword);
  zip.Open(source);
  EXPECT_LT(source->read, 200u * 1024) << "opening reads the end records and the directory only";

  auto range = [&](int64_t index, uint64_t first, uint64_t count) {
    std::string got, error;
    EXPECT_TRUE(zip.ExtractRange(
        index, first, count,
        [&](std::span<const uint8_t> c) {
          got.append(reinterpret_cast<const char*>(c.data()), c.size());
          return true;
        },
        &error))
        << error;
    return got;
  };
  struct Case {
    int64_t index;
    uint64_t first, count;
  };
  const std::string* plain[] = {&big, &text};
  const std::string small = "0123456789";
  for (const auto& c : std::vector<Case>{{0, 0, 10},
                                         {0, step - 5, 10},  // across the first point where keys are kept
                                         {0, 3 * step + 7, 1000},
                                         {0, big.size() - 3, 100},  // clipped at the end
                                         {0, 0, big.size()},
                                         {1, 0, 1},
                                         {1, 123456, 70000},
                                         {1, text.size() - 1, 1},
                                         {2, 3, 4},
                                         {2, 10, 5}}) {  // past the end: nothing
    const std::string& all = c.index == 2 ? small : *plain[c.index];
    const std::string want = c.first < all.size() ? all.substr(c.first, c.count) : "";
    EXPECT_EQ(range(c.index, c.first, c.count), want) << c.index << " " << c.first;
  }

  // A range deep in a stored entry starts from the keys kept nearest before
  // it; a fresh reader that has decoded nothing there reads from the start.
  RuntimeZip fresh;
  fresh.SetPassword(kPassword);
  fresh.Open(source);
  source->read = 0;
  std::string part;
  ASSERT_TRUE(fresh.ExtractRange(0, 3 * step + 100, 100, [&](std::span<const uint8_t> c) {
    part.append(reinterpret_cast<const char*>(c.data()), c.size());
    return true;
  }));
  EXPECT_EQ(part, big.substr(3 * step + 100, 100));
  EXPECT_GT(source->read, 3 * step);
  source->read = 0;
  EXPECT_EQ(range(0, 3 * step + 100, 100), big.substr(3 * step + 100, 100));
  EXPECT_LT(source->read, 64u * 1024) << "the keys at " << 3 * step << " were kept";

  // A deflated range inflates no further than its end.
  source->read = 0;
  range(1, 0, 100);
  EXPECT_LT(source->read, 70u * 1024);
}

// More entries than the classic end record can count: the ZIP64 end record
// gives the count, and the reader still walks the directory in a few reads.
TEST(RuntimeZip, WalksAZip64DirectoryOfManyEntriesInAFewReads) {
  std::vector<test::ZipFile> files;
  for (int i = 0; i < 65600; ++i) files.push_back({"app/t/" + std::to_string(i), std::to_string(i), false});
  auto source = std::make_shared<CountingSource>(test::MakeZip(files, kPassword));
  RuntimeZip zip;
  zip.SetPassword(kPassword);
  zip.Open(source);
  EXPECT_LE(source->calls, 5u);
  ASSERT_EQ(zip.EntryCount(), 65600u);
  std::string last, error;
  EXPECT_TRUE(zip.ExtractEntry(zip.FindEntry("APP/T/65599"), last, &error)) << error;
  EXPECT_EQ(last, "65599");
}

// ---- Archives written by hand, to control what libzip would write right --

constexpr uint16_t kDosTime = 0xA3C5, kDosDate = 0x5A21;  // 20:30:10 on 1 Jan 2025

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Crafted {
  std::string data;
  bool deflate = true;
  bool encrypt = true;
  bool descriptor = true;     // sizes and CRC follow the data; the check byte repeats the time
  bool checkByteFromCrc = false;  // against the usual rule for `descriptor`
  bool wrongCheckByte = false;
  int64_t sizeDelta = 0;       // declared size minus the real one
  uint32_t crcXor = 0;
  std::string trailing{};      // after the entry's compressed bytes
  std::string name = "a.txt";  // as stored, without the UTF-8 flag
  size_t cut = 0;              // compressed bytes dropped at the end
  uint64_t DeclaredSize() const { return data.size() + static_cast<uint64_t>(sizeDelta); }
};

std::vector<uint8_t> CraftArchive(const Crafted& c) {
  std::vector<uint8_t> out;
  auto put = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const std::string& name = c.name;
  const auto crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(c.data.data()), static_cast<uInt>(c.data.size())));
  std::string body = (c.deflate ? RawDeflate(c.data) : c.data) + c.trailing;
  body.resize(body.size() - c.cut);
  if (c.encrypt) {
    std::string header = "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB";
    const bool fromCrc = c.descriptor == c.checkByteFromCrc;
    header += static_cast<char>((fromCrc ? crc >> 24 : kDosTime >> 8) ^ (c.wrongCheckByte ? 0x5A : 0));
    body = header + body;
    ZipCrypto(kPassword).Encrypt({reinterpret_cast<uint8_t*>(body.data()), body.size()});
  }
  const uint16_t flags = (c.encrypt ? 1 : 0) | (c.descriptor ? 8 : 0);
  const uint32_t declaredCrc = crc ^ c.crcXor;
  auto common = [&](bool local) {
    put(flags, 2);
    put(c.deflate ? 8 : 0, 2);
    put(kDosTime, 2);
    put(kDosDate, 2);
    const bool later = local && c.descriptor;
    put(later ? 0 : declaredCrc, 4);
    put(later ? 0 : body.size(), 4);
    put(later ? 0 : c.DeclaredSize(), 4);
    put(name.size(), 2);
    put(0, 2);  // extra field
  };
  put(0x04034b50, 4);
  put(20, 2);
  common(true);
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), body.begin(), body.end());
  if (c.descriptor) {
    put(0x08074b50, 4);
    put(declaredCrc, 4);
    put(body.size(), 4);
    put(c.DeclaredSize(), 4);
  }
  const size_t central = out.size();
  put(0x02014b50, 4);
  put(20, 2);
  put(20, 2);
  common(false);
  put(0, 2);   // comment
  put(0, 2);   // disk
  put(0, 2);   // internal attributes
  put(0, 4);   // external attributes
  put(0, 4);   // local header offset
  out.insert(out.end(), name.begin(), name.end());
  const size_t centralSize = out.size() - central;
  put(0x06054b50, 4);
  put(0, 4);
  put(1, 2);
  put(1, 2);
  put(centralSize, 4);
  put(central, 4);
  put(0, 2);
  return out;
}

// What libzip itself decodes from the first entry, to vouch for an archive written by hand.
std::optional<std::string> ArchiveLibraryReads(const std::vector<uint8_t>& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* z = zip_open_from_source(source, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (!z) {
    zip_source_free(source);
    return std::nullopt;
  }
  std::optional<std::string> out;
  if (zip_file_t* f = zip_fopen_index_encrypted(z, 0, 0, kPassword.c_str())) {
    std::string data;
    char buffer[4096];
    zip_int64_t n;
    while ((n = zip_fread(f, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<size_t>(n));
    if (n == 0) out = std::move(data);
    zip_fclose(f);
  }
  zip_discard(z);
  return out;
}

TEST(RuntimeZip, DecodesAndChecksEntriesWrittenByHand) {
  const std::string big = Pattern(700000), small = "hello, hello, hello";
  struct Case {
    const char* what;
    Crafted entry;
    const char* error;  // a part of the message; null when the entry reads
  };
  const std::vector<Case> cases = {
      {"plain, stored", {.data = big, .deflate = false, .encrypt = false, .descriptor = false}, nullptr},
      {"plain, deflated", {.data = big, .encrypt = false}, nullptr},
      {"plain, deflated, empty", {.data = "", .encrypt = false}, nullptr},
      {"stored, check byte from the CRC", {.data = big, .deflate = false, .descriptor = false}, nullptr},
      {"stored, check byte from the time", {.data = small, .deflate = false}, nullptr},
      {"deflated, check byte from the CRC", {.data = big, .descriptor = false}, nullptr},
      {"deflated, check byte from the time", {.data = big}, nullptr},
      {"deflated, empty", {.data = ""}, nullptr},
      // Which value the check byte repeats is not recorded reliably.
      {"descriptor, check byte from the CRC", {.data = small, .checkByteFromCrc = true}, nullptr},
      {"no descriptor, check byte from the time", {.data = small, .descriptor = false, .checkByteFromCrc = true},
       nullptr},
      {"check byte repeats neither", {.data = big, .wrongCheckByte = true}, "password"},
      {"stored, check byte repeats neither", {.data = small, .deflate = false, .wrongCheckByte = true}, "password"},
      {"declares fewer bytes than it inflates to", {.data = big, .sizeDelta = -300000}, "size"},
      {"declares 1 byte and inflates to more", {.data = big, .sizeDelta = 1 - 700000}, "size"},
      {"declares 0 bytes and inflates to more", {.data = small, .sizeDelta = -19}, "size"},
      {"declares more bytes than it inflates to", {.data = big, .sizeDelta = 1}, "size"},
      {"stored, declares fewer bytes than it holds", {.data = big, .deflate = false, .sizeDelta = -1}, "size"},
      {"stored, declares more bytes than it holds", {.data = small, .deflate = false, .sizeDelta = 1}, "size"},
      {"wrong CRC", {.data = big, .crcXor = 1}, "checksum"},
      {"stored, wrong CRC", {.data = big, .deflate = false, .crcXor = 0x80000000}, "checksum"},
      {"plain, wrong CRC", {.data = small, .encrypt = false, .crcXor = 4}, "checksum"},
      {"bytes after the deflate stream", {.data = big, .trailing = "xyz"}, "past its end"},
      {"plain, bytes after the deflate stream", {.data = small, .encrypt = false, .trailing = "x"}, "past its end"},
      {"deflate stream cut short", {.data = big, .cut = 2}, "cut short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto bytes = CraftArchive(c.entry);
    // Proof that the archive is written right: libzip reads the good ones.
    if (!c.error) {
      ASSERT_EQ(ArchiveLibraryReads(bytes), c.entry.data);
    }
    Opened o(bytes);
    ASSERT_EQ(o.zip.EntryCount(), 1u);
    ASSERT_EQ(o.zip.Entry(0).encrypted, c.entry.encrypt);

    std::string out, error;
    const bool ok = o.zip.ExtractEntry(0, out, &error);
    std::string streamed, streamError;
    const bool streamOk = o.zip.ExtractEntry(
        0,
        [&](std::span<const uint8_t> chunk) {
          streamed.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
          return true;
        },
        &streamError);
    EXPECT_EQ(streamOk, ok);
    EXPECT_EQ(streamed, out);
    EXPECT_EQ(streamError, error);
    if (!c.error) {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(out, c.entry.data);
      continue;
    }
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    // What came out before the failure is the entry's own beginning, never
    // beyond the declared size.
    EXPECT_LE(out.size(), c.entry.DeclaredSize());
    EXPECT_EQ(c.entry.data.compare(0, out.size(), out), 0);
  }
}

// A name that is not UTF-8 and carries no UTF-8 flag is in the old DOS code
// page; the archive library reads such directories and translates the name.
TEST(RuntimeZip, DosCodePageNamesAreLookedUpAsTranslated) {
  Opened o(CraftArchive({.data = "hello", .name = "\x81" "ber.txt"}));
  ASSERT_EQ(o.zip.EntryCount(), 1u);
  EXPECT_EQ(o.zip.Entry(0).name, "\xC3\xBC" "ber.txt");
  std::string out, error;
  EXPECT_TRUE(o.zip.ExtractEntry(o.zip.FindEntry("\xC3\xBC" "BER.TXT"), out, &error)) << error;
  EXPECT_EQ(out, "hello");
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
