// The program's own icon and version information, signing, and new
// projects: vtlpack as its users run it, checked with readers of their own
// (icoutils, osslsigncode, binutils) where one exists.

#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <nlohmann/json.hpp>

#include <regex>

#include "core/pe_image.h"
#include "exe_info.h"
#include "test_support.h"

namespace vtl {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCommand;
using test::WriteFile;

const std::string kVtlpack = VTLPACK_PATH;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A square RGBA image in 8 × 8 blocks of colour, with a transparent corner.
std::vector<uint8_t> Pattern(int size) {
  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      uint8_t* p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
      p[0] = static_cast<uint8_t>((x / 8) * 37);
      p[1] = static_cast<uint8_t>((y / 8) * 53);
      p[2] = static_cast<uint8_t>(((x / 8) ^ (y / 8)) * 29);
      p[3] = (x < size / 4 && y < size / 4) ? 0 : 255;
    }
  return rgba;
}

std::string Png(int width, int height) {
  std::string out;
  const auto rgba = Pattern(std::max(width, height));
  stbi_write_png_to_func(
      [](void* c, void* d, int n) { static_cast<std::string*>(c)->append(static_cast<char*>(d), static_cast<size_t>(n)); },
      &out, width, height, 4, rgba.data(), std::max(width, height) * 4);
  return out;
}

// An .ico file of 32-bit bitmaps, one per size, of Pattern.
std::string Ico(const std::vector<int>& sizes) {
  std::vector<std::vector<uint8_t>> images;
  for (int s : sizes) {
    const auto rgba = Pattern(s);
    std::vector<uint8_t> b(40 + static_cast<size_t>(s) * s * 4 + static_cast<size_t>((s + 31) / 32 * 4) * s, 0);
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(s));
    put32(8, static_cast<uint32_t>(2 * s));
    b[12] = 1;
    b[14] = 32;
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x) {
        const uint8_t* p = &rgba[(static_cast<size_t>(s - 1 - y) * s + x) * 4];
        uint8_t* q = &b[40 + (static_cast<size_t>(y) * s + x) * 4];
        q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = p[3];
      }
    images.push_back(std::move(b));
  }
  std::string out;
  auto add16 = [&](uint16_t v) { out += static_cast<char>(v), out += static_cast<char>(v >> 8); };
  auto add32 = [&](uint32_t v) { add16(static_cast<uint16_t>(v)), add16(static_cast<uint16_t>(v >> 16)); };
  add16(0), add16(1), add16(static_cast<uint16_t>(sizes.size()));
  uint32_t at = static_cast<uint32_t>(6 + 16 * sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    out += static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]);
    out += static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]);
    out += '\0', out += '\0';
    add16(1), add16(32), add32(static_cast<uint32_t>(images[i].size())), add32(at);
    at += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& img : images) out.append(img.begin(), img.end());
  return out;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += c, out += '\0';
  return out;
}

bool Have(const char* tool) { return RunCommand(std::string("command -v ") + tool).status == 0; }

class Packaging : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "proj/app");
    WriteFile(dir_ / "proj/vtl.ini", "[App]\nID=demo.packaging\nName=Packaging Demo\nDirName=app\n");
    WriteFile(dir_ / "proj/app/index.html", "<!doctype html><title>Demo</title>");
    fs::copy_file(VTL_FIXTURE_RUNTIME, dir_ / "runtime.exe");
    WriteFile(dir_ / "loader.dll", "MZ fake loader");
  }

  test::RunResult Pack(const std::string& extra, const std::string& out = "out.exe",
                       const std::string& runtime = "runtime.exe") {
    return RunCommand(kVtlpack + " pack " + Quote(dir_ / "proj") + " -o " + Quote(dir_ / out) + " --runtime " +
                      Quote(dir_ / runtime) + " --loader " + Quote(dir_ / "loader.dll") + " " + extra);
  }
  nlohmann::json Info(const std::string& file) {
    const auto r = RunCommand(kVtlpack + " info --json " + Quote(dir_ / file));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json{};
  }
  // A self-signed code-signing certificate, made once per test.
  void MakeCertificate() {
    const auto r = RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Vantrel-Test -keyout " +
                              Quote(dir_ / "key.pem") + " -out " + Quote(dir_ / "cert.pem") + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  test::RunResult Sign(const std::string& in, const std::string& out) {
    return RunCommand("osslsigncode sign -certs " + Quote(dir_ / "cert.pem") + " -key " + Quote(dir_ / "key.pem") +
                      " -n Demo -in " + Quote(dir_ / in) + " -out " + Quote(dir_ / out) + " 2>&1");
  }
  test::RunResult Verify(const std::string& file) {
    return RunCommand("osslsigncode verify -CAfile " + Quote(dir_ / "cert.pem") + " -in " + Quote(dir_ / file) + " 2>&1");
  }

  test::TempDir dir_;
};

TEST(FileVersion, FourNumbersOfAtMost65535) {
  EXPECT_EQ(pack::ParseFileVersion("1.2.3.4", "--file-version"), (pack::FileVersion{1, 2, 3, 4}));
  EXPECT_EQ(pack::ParseFileVersion("65535.0.0.65535", "--file-version"), (pack::FileVersion{65535, 0, 0, 65535}));
  for (const char* bad : {"", "1", "1.2.3", "1.2.3.4.5", "1.2.3.65536", "1..3.4", "1.2.3.4.", "a.b.c.d", "1.2.3.-4",
                          "1.2.3.4 ", "001234567.1.1.1"}) {
    try {
      pack::ParseFileVersion(bad, "--file-version");
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("--file-version"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("four numbers of at most 65535"), std::string::npos) << e.what();
    }
  }
}

TEST(IconFiles, PngGivesTheUsualSizesAndIcoKeepsItsOwn) {
  const auto fromPng = pack::LoadIconBytes(Bytes(Png(512, 512)), "a.png");
  std::vector<uint16_t> sizes;
  for (const auto& i : fromPng) sizes.push_back(i.width);
  EXPECT_EQ(sizes, std::vector<uint16_t>(pack::kIconSizes.begin(), pack::kIconSizes.end()));
  EXPECT_EQ(fromPng.back().data[1], 'P') << "the 256 image stays a PNG";
  EXPECT_EQ(fromPng.front().data[0], 40) << "small images are bitmaps";

  const auto fromIco = pack::LoadIconBytes(Bytes(Ico({16, 40})), "a.ico");
  ASSERT_EQ(fromIco.size(), 2u);
  EXPECT_EQ(fromIco[1].width, 40);
  EXPECT_EQ(fromIco[1].data.size(), 40u + 40 * 40 * 4 + 8 * 40);
}

TEST(IconFiles, BadIconsGiveOneClearReason) {
  const std::string png = Png(256, 256);
  std::string countZero = Ico({16});
  countZero[4] = 0;
  std::string outside = Ico({16});
  outside[6 + 12] = '\x7f';  // the image's offset past the end
  const std::vector<std::pair<std::string, const char*>> cases = {
      {"", "is empty"},
      {"plain text, not an image", "neither an .ico file nor a PNG image"},
      {std::string("\0\0\1\0\0\0", 6), "holds no images"},
      {countZero, "holds no images"},
      {outside, "lies outside the file"},
      {png.substr(0, png.size() / 2), "not a readable PNG"},
      {Png(128, 128), "at least 256 x 256"},
      {Png(300, 256), "must be square"},
  };
  for (const auto& [bytes, message] : cases) {
    try {
      pack::LoadIconBytes(Bytes(bytes), "x");
      ADD_FAILURE() << "accepted: " << message;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

TEST(ArchiveEnd, ACertificateTableBehindTheArchiveEndsIt) {
  ImageEnd image;
  image.ok = true;
  image.offset = 1000;
  struct Case {
    uint64_t certOffset, certSize, expected;
  };
  for (const auto& c : std::vector<Case>{{0, 0, 5000},         // not signed
                                         {4000, 1000, 4000},   // signed after packing
                                         {1000, 4000, 1000},   // signed, no archive
                                         {500, 100, 5000},     // inside the image: not ours to cut
                                         {4500, 1000, 5000}})  // runs past the file end
  {
    image.certificateOffset = c.certOffset;
    image.certificateSize = c.certSize;
    EXPECT_EQ(ArchiveEnd(image, 5000), c.expected) << c.certOffset << "+" << c.certSize;
  }
}

TEST_F(Packaging, IconAndVersionAreWhatReadersOfTheirOwnFind) {
  WriteFile(dir_ / "icon.ico", Ico({16, 32, 48}));
  const auto r = Pack("--icon " + Quote(dir_ / "icon.ico") +
                      " --file-version 2.5.65535.7 --product-version 3.0.0.1 --company \"ACME Corp\" --copyright \"(c) ACME\"");
  ASSERT_EQ(r.status, 0) << r.err;

  const auto j = Info("out.exe");
  EXPECT_EQ(j["signed"], false);
  ASSERT_EQ(j["icons"].size(), 1u);
  EXPECT_EQ(j["icons"][0]["name"], "MAINICON");
  EXPECT_EQ(j["icons"][0]["images"].size(), 3u);
  EXPECT_EQ(j["version"]["fileVersion"], "2.5.65535.7");
  EXPECT_EQ(j["version"]["productVersion"], "3.0.0.1");
  const auto& s = j["version"]["strings"];
  EXPECT_EQ(s["CompanyName"], "ACME Corp");
  EXPECT_EQ(s["LegalCopyright"], "(c) ACME");
  EXPECT_EQ(s["FileDescription"], "Packaging Demo");  // [App] Name
  EXPECT_EQ(s["ProductName"], "Packaging Demo");
  EXPECT_EQ(s["OriginalFilename"], "out.exe");
  EXPECT_EQ(s["InternalName"], "out");
  EXPECT_EQ(s["FileVersion"], "2.5.65535.7");
  EXPECT_EQ(s["Comments"], "");
  EXPECT_EQ(s["LegalTrademarks"], "");

  if (!Have("wrestool")) GTEST_SKIP() << "icoutils are not installed (scripts/bootstrap installs them)";
  // The icon group, as icoutils rebuilds it into an .ico file, holds the given images byte for byte.
  const auto group = RunCommand("wrestool -x -t14 -n MAINICON " + Quote(dir_ / "out.exe"));
  ASSERT_EQ(group.status, 0) << group.err;
  const auto given = pack::LoadIconBytes(Bytes(Ico({16, 32, 48})), "given");
  const auto found = pack::LoadIconBytes(Bytes(group.out), "extracted");
  ASSERT_EQ(found.size(), given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    EXPECT_EQ(found[i].width, given[i].width);
    EXPECT_TRUE(found[i].data == given[i].data) << "image " << i;
  }
  const auto version = RunCommand("wrestool -x --raw -t16 " + Quote(dir_ / "out.exe"));
  ASSERT_EQ(version.status, 0) << version.err;
  const size_t key = version.out.find(Utf16("CompanyName"));
  ASSERT_NE(key, std::string::npos);
  EXPECT_EQ(version.out.find(Utf16("ACME Corp") + std::string(2, '\0'), key), key + 2 * 12 + 2) << "key, zero, padding, value";
  EXPECT_EQ(version.out.find(Utf16(std::string(255, ' '))), std::string::npos) << "a placeholder is left";
}

TEST_F(Packaging, TheImageStaysSoundWhenItsResourcesGrow) {
  WriteFile(dir_ / "icon.png", Png(512, 512));
  ASSERT_EQ(Pack("--icon " + Quote(dir_ / "icon.png")).status, 0);
  const std::string runtime = test::ReadFile(dir_ / "runtime.exe");
  const std::string out = test::ReadFile(dir_ / "out.exe");
  ASSERT_GT(out.size(), runtime.size() + 60000) << "the icon made the resources grow";

  if (!Have("x86_64-w64-mingw32-objdump")) GTEST_SKIP() << "binutils for mingw are not installed";
  // The section table as binutils reads it: no overlaps, in order, the image
  // size the end of the last section, the relocations moved intact.
  const auto headers = RunCommand("x86_64-w64-mingw32-objdump -h -p " + Quote(dir_ / "out.exe"));
  ASSERT_EQ(headers.status, 0) << headers.err;
  const std::regex section(R"(\s+\d+\s+(\.\w+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+))");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(headers.out, m, std::regex(R"(ImageBase\s+([0-9a-f]+))")));
  const uint64_t imageBase = std::stoull(m[1], nullptr, 16);
  uint64_t lastVirtualEnd = 0, lastFileEnd = 0;
  std::vector<std::string> names;
  for (std::sregex_iterator it(headers.out.begin(), headers.out.end(), section), end; it != end; ++it) {
    const uint64_t size = std::stoull((*it)[2], nullptr, 16), vma = std::stoull((*it)[3], nullptr, 16) - imageBase,
                   file = std::stoull((*it)[4], nullptr, 16);
    names.push_back((*it)[1]);
    EXPECT_GE(vma, lastVirtualEnd) << names.back();
    if (file) {
      EXPECT_GE(file, lastFileEnd) << names.back();
    }
    lastVirtualEnd = vma + size;
    if (file) lastFileEnd = file + size;
  }
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[names.size() - 2], ".rsrc");
  EXPECT_EQ(names.back(), ".reloc");
  ASSERT_TRUE(std::regex_search(headers.out, m, std::regex(R"(SizeOfImage\s+([0-9a-f]+))")));
  EXPECT_EQ(std::stoull(m[1], nullptr, 16), (lastVirtualEnd + 0xFFF) / 0x1000 * 0x1000);
  ASSERT_TRUE(std::regex_search(headers.out, m, std::regex(R"(Entry 5 ([0-9a-f]+) ([0-9a-f]+) Base Relocation Directory \[\.reloc\])")));
  const auto reloc = [&](const std::string& file) {
    const auto r = RunCommand("x86_64-w64-mingw32-objdump -s -j .reloc " + Quote(dir_ / file) + " | tail -n +5 | awk '{$1=\"\"; print}'");
    return r.out;
  };
  EXPECT_EQ(reloc("out.exe"), reloc("runtime.exe"));
  // The archive starts where the last section ends.
  EXPECT_EQ(Info("out.exe")["archiveOffset"], (lastFileEnd + 0x1FF) / 0x200 * 0x200);
}

TEST_F(Packaging, ProjectSectionGivesOptionsAndTheCommandLineWins) {
  WriteFile(dir_ / "proj/icon.ico", Ico({16}));
  WriteFile(dir_ / "proj/vtl.ini",
            "[App]\nID=demo.packaging\nName=Packaging Demo\nDirName=app\n"
            "[Package]\nIcon=icon.ico\nCompanyName=From Ini\nFileVersion=4.3.2.1\nComments=ini comment\n");
  ASSERT_EQ(Pack("--company \"From Command Line\"").status, 0);
  const auto j = Info("out.exe");
  EXPECT_EQ(j["version"]["strings"]["CompanyName"], "From Command Line");
  EXPECT_EQ(j["version"]["strings"]["Comments"], "ini comment");
  EXPECT_EQ(j["version"]["fileVersion"], "4.3.2.1");
  EXPECT_EQ(j["icons"][0]["images"].size(), 1u);
  // The runtime never sees the section as a setting.
  const auto settings = RunCommand(kVtlpack + " settings --json " + Quote(dir_ / "out.exe"));
  EXPECT_EQ(nlohmann::json::parse(settings.out).count("CompanyName"), 0u);
}

TEST_F(Packaging, BadInputGivesOneLineAndNoOutput) {
  const std::string png = Png(256, 256);
  WriteFile(dir_ / "not-an-image.ico", "hello, I am text");
  WriteFile(dir_ / "empty.ico", "");
  WriteFile(dir_ / "truncated.png", png.substr(0, png.size() - 200));
  // A runtime whose resource tree points outside its section: the root
  // table's first entry names a subdirectory far away.
  std::string damaged = test::ReadFile(dir_ / "runtime.exe");
  {
    auto get = [&](size_t at, int n) {
      uint32_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(damaged[at + i]);
      return v;
    };
    const size_t fileHeader = get(0x3C, 4) + 4, optional = fileHeader + 20;
    const uint32_t resourceRva = get(optional + 112 + 2 * 8, 4);
    const size_t table = optional + get(fileHeader + 16, 2);
    bool found = false;
    for (size_t h = table; h < table + 40 * get(fileHeader + 2, 2); h += 40)
      if (get(h + 12, 4) == resourceRva) {
        const size_t root = get(h + 20, 4);
        for (int i = 0; i < 4; ++i) damaged[root + 20 + i] = "\xf0\xff\xff\x8f"[i];
        found = true;
      }
    ASSERT_TRUE(found);
  }
  WriteFile(dir_ / "damaged.exe", damaged);

  struct Case {
    const char* label;
    std::string args;
    std::string runtime;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"icon not an image", "--icon " + Quote(dir_ / "not-an-image.ico"), "runtime.exe", "neither an .ico file nor a PNG"},
      {"empty .ico", "--icon " + Quote(dir_ / "empty.ico"), "runtime.exe", "is empty"},
      {"truncated PNG", "--icon " + Quote(dir_ / "truncated.png"), "runtime.exe", "not a readable PNG"},
      {"missing icon", "--icon " + Quote(dir_ / "nowhere.png"), "runtime.exe", "cannot open icon"},
      {"five-part version", "--file-version 1.2.3.4.5", "runtime.exe", "\"1.2.3.4.5\" is not a version"},
      {"product version too big", "--product-version 1.0.0.70000", "runtime.exe", "--product-version"},
      {"300-character company", "--company " + std::string(300, 'C'), "runtime.exe",
       "--company ([Package] CompanyName): the value is 300 characters long; the runtime's version resource takes at "
       "most 255 for CompanyName"},
      {"damaged resource section", "", "damaged.exe", "the runtime's image is damaged: the resource directory points outside"},
  };
  for (const auto& c : cases) {
    const auto r = Pack(c.args, "out.exe", c.runtime);
    EXPECT_EQ(r.status, 1) << c.label << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.label << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.label << ": " << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.exe")) << c.label;
    for (const auto& e : fs::directory_iterator(dir_.path()))
      EXPECT_EQ(e.path().filename().string().find("out.exe."), std::string::npos) << c.label << ": " << e.path();
  }
}

TEST_F(Packaging, SignedAfterPackingStillReadsAndASignedRuntimePacks) {
  if (!Have("osslsigncode") || !Have("openssl")) GTEST_SKIP() << "osslsigncode and openssl are not installed";
  MakeCertificate();
  ASSERT_EQ(Pack("").status, 0);
  const auto unsignedInfo = Info("out.exe");

  ASSERT_EQ(Sign("out.exe", "signed.exe").status, 0);
  const auto verify = Verify("signed.exe");
  EXPECT_EQ(verify.status, 0) << verify.out;
  const auto signedInfo = Info("signed.exe");
  EXPECT_EQ(signedInfo["signed"], true);
  EXPECT_EQ(signedInfo["archiveSize"], unsignedInfo["archiveSize"]) << "the signature is not part of the archive";
  const auto cat = RunCommand(kVtlpack + " cat " + Quote(dir_ / "signed.exe") + " app/index.html");
  EXPECT_EQ(cat.status, 0) << cat.err;
  EXPECT_EQ(cat.out, "<!doctype html><title>Demo</title>");
  EXPECT_EQ(RunCommand(kVtlpack + " extract " + Quote(dir_ / "signed.exe") + " " + Quote(dir_ / "a.zip")).status, 0);
  EXPECT_EQ(test::ReadFile(dir_ / "a.zip").size(), unsignedInfo["archiveSize"].get<size_t>());

  // A signed runtime: its signature goes, in one line, and the result signs afresh.
  ASSERT_EQ(Sign("runtime.exe", "signed-runtime.exe").status, 0);
  const auto r = Pack("", "again.exe", "signed-runtime.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the runtime was signed; its signature is removed"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Info("again.exe")["signed"], false);
  EXPECT_EQ(Info("again.exe")["archiveSize"], unsignedInfo["archiveSize"]);
  ASSERT_EQ(Sign("again.exe", "again-signed.exe").status, 0);
  EXPECT_EQ(Verify("again-signed.exe").status, 0);

  // A signed package is no runtime: its archive stays in the way.
  const auto refused = Pack("", "twice.exe", "signed.exe");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("already carries an archive"), std::string::npos) << refused.err;
}

TEST_F(Packaging, NewWritesAReadyProjectAndRefusesAFullFolder) {
  for (const char* name : {"hello", "showcase"}) {
    const fs::path project = dir_ / (std::string("new-") + name);
    const auto r = RunCommand(kVtlpack + " new " + Quote(project) + " --template " + name);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* file : {"vtl.ini", "vtl.d.ts", "tsconfig.json", "app/index.html", "vtl-webviewjs"})
      EXPECT_TRUE(fs::is_regular_file(project / file)) << name << " " << file;
    EXPECT_EQ(test::ReadFile(project / "vtl.d.ts"), test::ReadFile(fs::path(VTL_SOURCE_DIR) / "types/vtl.d.ts"));
    EXPECT_EQ(test::ReadFile(project / "app/index.html"),
              test::ReadFile(fs::path(VTL_SOURCE_DIR) / "examples" / name / "app/index.html"));
    const std::string ini = test::ReadFile(project / "vtl.ini");
    EXPECT_EQ(ini.find("ID=com.example"), std::string::npos) << "the template's ID is kept";
    EXPECT_NE(ini.find("ID=app.new-" + std::string(name) + "."), std::string::npos) << ini;
    const auto packed = RunCommand(kVtlpack + " pack " + Quote(project) + " -o " + Quote(dir_ / "p.exe") + " --runtime " +
                                   Quote(dir_ / "runtime.exe") + " --loader " + Quote(dir_ / "loader.dll"));
    EXPECT_EQ(packed.status, 0) << packed.err;
  }
  // Two projects from one template do not share an ID.
  ASSERT_EQ(RunCommand(kVtlpack + " new " + Quote(dir_ / "other/new-hello")).status, 0);
  EXPECT_NE(test::ReadFile(dir_ / "new-hello/vtl.ini"), test::ReadFile(dir_ / "other/new-hello/vtl.ini"));

  const auto full = RunCommand(kVtlpack + " new " + Quote(dir_ / "new-hello"));
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("is not empty"), std::string::npos) << full.err;
  EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
  fs::create_directories(dir_ / "empty");
  EXPECT_EQ(RunCommand(kVtlpack + " new " + Quote(dir_ / "empty")).status, 0) << "an empty folder is fine";
}

}  // namespace
}  // namespace vtl
