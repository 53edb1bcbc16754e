// Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.
//
//   vtl_fuzz_seeds DIR      (scripts/fuzz --seeds runs it on fuzz/corpus)
//
// The archives are encrypted with a random header, as every writer does, so a
// second run writes different bytes for the same content; the seeds are
// committed once and only remade when their content should change.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/package_password.h"
#include "test_support.h"

namespace fs = std::filesystem;
using vtl::test::MakePeImage;
using vtl::test::MakeZip;
using vtl::test::WriteFile;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Cut(std::vector<uint8_t> b, size_t n) {
  b.resize(std::min(n, b.size()));
  return b;
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> Utf16(std::u16string_view text, bool bigEndian) {
  std::vector<uint8_t> out = bigEndian ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
  for (char16_t c : text) {
    const auto lo = static_cast<uint8_t>(c), hi = static_cast<uint8_t>(c >> 8);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

void Write(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(dir);
  WriteFile(dir / name, bytes);
  std::printf("  %-40s %6zu bytes\n", (dir.filename() / name).string().c_str(), bytes.size());
}

void ImageSeeds(const fs::path& dir) {
  // Headers only: the section data is zeros and adds nothing to explore.
  const auto runtime = vtl::test::MakeRuntimeImage();
  Write(dir, "runtime-headers", Cut(runtime, 0x200));
  Write(dir, "runtime-whole", runtime);
  Write(dir, "one-section-no-optional-header", MakePeImage({{0x200, 0x100}}, 0, 0x40));
  Write(dir, "far-pe-header", Cut(MakePeImage({{0x1000, 0x200}, {0x1200, 0x400}}, 240, 0x600), 0x800));
  // Offsets and sizes near 2^32: the end only fits in 64 bits. Patched in,
  // since MakePeImage would pad the file out to that end.
  auto wide = MakePeImage({{0x400, 0x10}, {0x410, 0x10}});
  const size_t table = 0x80 + 4 + 20 + 240;
  Put32(wide, table + 16, 0xFFFFFFFFu);
  Put32(wide, table + 20, 0xFFFFFF00u);
  Write(dir, "wide-sections", wide);
  // The most sections an image may declare, each header filled in.
  auto many = MakePeImage({{0x400, 0x200}});
  many.resize(table + 96 * 40);
  many[0x80 + 4 + 2] = 96;
  for (uint32_t i = 0; i < 96; ++i) {
    Put32(many, table + i * 40 + 16, 0x200);
    Put32(many, table + i * 40 + 20, 0x400 + i * 0x200);
  }
  Write(dir, "ninety-six-sections", many);
  // Truncated in the DOS header, the PE header and the section table.
  Write(dir, "cut-in-dos-header", Cut(runtime, 0x30));
  Write(dir, "cut-in-pe-header", Cut(runtime, 0x90));
  Write(dir, "cut-in-section-table", Cut(runtime, 0x80 + 4 + 20 + 240 + 60));
}

void ZipSeeds(const fs::path& dir) {
  const std::string pw(vtl::kPackagePassword);
  const std::string ini = "[App]\r\nID=seed.app\r\nName=Seed\r\nWidth=640\r\n";
  const std::string html = "<!doctype html><title>seed</title><script src=\"app.js\"></script>\n";
  const std::string js = "document.title = 'seed'; for (let i = 0; i < 3; ++i) console.log(i);\n";

  const auto deflated = MakeZip({{"vtl.ini", ini}, {"index.html", html}, {"app.js", js}}, pw);
  Write(dir, "encrypted-deflated.zip", deflated);
  Write(dir, "encrypted-stored.zip",
        MakeZip({{"vtl.ini", ini, false}, {"img/dot.png", "\x89PNG\r\n\x1a\n", false}}, pw));
  Write(dir, "plain.zip", MakeZip({{"vtl.ini", ini}, {"index.html", html, false}}, ""));
  Write(dir, "case-twins.zip", MakeZip({{"App.js", js}, {"app.JS", "other"}, {"", "nameless"}}, pw));
  Write(dir, "empty-entries.zip", MakeZip({{"empty.txt", ""}, {"dir/", "", false}}, pw));
  Write(dir, "wrong-password.zip", MakeZip({{"vtl.ini", ini}}, "not the package password"));
  Write(dir, "utf16-ini.zip", MakeZip({{"VTL.INI", std::string("\xFF\xFE[\0A\0p\0p\0]\0", 12)}}, pw));
  Write(dir, "truncated.zip", Cut(deflated, deflated.size() - 9));
  // The first entry flagged for strong encryption, a cipher the reader lacks.
  auto strong = deflated;
  const std::string_view central("PK\x01\x02", 4);
  const auto at = std::search(strong.begin(), strong.end(), central.begin(), central.end()) - strong.begin();
  strong[static_cast<size_t>(at) + 8] |= 0x40;
  Write(dir, "unsupported-cipher.zip", strong);
  // A whole package: the reader is meant to get the archive alone, but
  // leading bytes must not throw it off its guard.
  Write(dir, "behind-image.zip", Join(Cut(vtl::test::MakeRuntimeImage(), 0x200), deflated));
}

void SettingsSeeds(const fs::path& dir) {
  const std::string ini =
      "; written by hand\r\n[App]\r\nID=seed.app\r\nName=Café €\r\nWidth=1024\r\nHeight = 0x300\r\n"
      "InstallFormColor=$FF00001A\r\nAllowZoom=1\r\nTop=-2147483648\r\nLeft=2147483648\r\n\r\n[Other]\r\nKey=v\r\n";
  Write(dir, "utf8-bom.ini", Join({0xEF, 0xBB, 0xBF}, Bytes(ini)));
  Write(dir, "utf16le-bom.ini",
        Utf16(u"[App]\r\nName=Café € \U0001F600\r\nWidth=800\r\nAllowDebug=0\r\n", false));
  Write(dir, "utf16be-bom.ini", Utf16(u"[app]\nNAME=x\nheight=$1e0\n", true));
  Write(dir, "ansi.ini", Bytes("[App]\nName=Caf\xE9 \x80 \x81\x8D\x8F\x90\x9D\nTheme=Dark\n"));
  Write(dir, "messy.ini",
        Bytes("Orphan=1\r[ App ]\rWidth\r=\r[APP]\nwidth=+12\nWidth=13\n[]\n[App\nHeight=0x\n"
              "MaxWidth=$\nMinWidth=99999999999\n   ; note\n\tMinHeight\t=\t-0\t\n"));
  Write(dir, "odd-utf16.ini", {0xFF, 0xFE, '[', 0, 'A', 0, 0x00, 0xD8, ']', 0, 'x'});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vtl_fuzz_seeds CORPUS_DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  ImageSeeds(root / "fuzz_image_end");
  ZipSeeds(root / "fuzz_runtime_zip");
  SettingsSeeds(root / "fuzz_settings");
  return 0;
}
