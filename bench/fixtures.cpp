#include "fixtures.h"

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string_view>

#include "core/exe_utils.h"
#include "core/package_password.h"
#include "os/file_source.h"
#include "test_support.h"

namespace vtl::bench {
namespace {

constexpr std::array<std::string_view, 24> kKeywords = {
    "const ", "let ", "function ", "return ", "if (", "} else {", "for (let i = 0; i < ", "await ",
    "new ",   "this.", "=> ",      "typeof ", "null", "undefined", "true", "false",
    "async ", "class ", "export ", "import ", "while (", "switch (", "case ", "break;"};

constexpr std::array<std::string_view, 40> kWords = {
    "element", "value",   "options", "handler", "window",  "document", "state",   "render", "update",  "index",
    "length",  "result",  "config",  "request", "response", "target",  "event",   "button", "listener", "context",
    "item",    "items",   "node",    "parent",  "children", "style",   "width",   "height", "offset",  "visible",
    "data",    "payload", "message", "error",   "callback", "promise", "timeout", "queue",  "cache",   "store"};

constexpr std::array<std::string_view, 10> kPunct = {" = ", ", ", "(", ")", "; ", ".", " + ", " === ", " && ", ": "};

}  // namespace

std::string ScriptText(size_t bytes, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string out;
  out.reserve(bytes + 256);
  int depth = 0;
  while (out.size() < bytes) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    const int tokens = 3 + static_cast<int>(rng() % 10);
    for (int t = 0; t < tokens; ++t) {
      const uint64_t r = rng() % 100;
      if (r < 18) {
        out += kKeywords[rng() % kKeywords.size()];
      } else if (r < 62) {
        out += kWords[rng() % kWords.size()];
        // camelCase compounds make the vocabulary wider, as real code is
        if (rng() % 3 == 0) {
          std::string_view w = kWords[rng() % kWords.size()];
          out += static_cast<char>(w[0] - 'a' + 'A');
          out += w.substr(1);
        }
      } else if (r < 84) {
        out += kPunct[rng() % kPunct.size()];
      } else if (r < 93) {
        out += std::to_string(rng() % 100000);
      } else {
        out += '"';
        const int n = 4 + static_cast<int>(rng() % 20);
        for (int i = 0; i < n; ++i) out += static_cast<char>('a' + rng() % 26);
        out += '"';
      }
    }
    const uint64_t end = rng() % 10;
    if (end < 2 && depth < 8) {
      out += " {\n";
      ++depth;
    } else if (end < 4 && depth > 0) {
      out += ";\n";
      --depth;
      out.append(static_cast<size_t>(depth) * 2, ' ');
      out += "}\n";
    } else {
      out += ";\n";
    }
  }
  out.resize(bytes);
  return out;
}

std::string NoiseBytes(size_t bytes, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string out(bytes, '\0');
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    const uint64_t v = rng();
    std::memcpy(out.data() + i, &v, 8);
  }
  for (; i < bytes; ++i) out[i] = static_cast<char>(rng());
  return out;
}

PackageFile WritePackage(const std::filesystem::path& dir, const std::string& name, uint64_t archiveBytes) {
  PackageFile p;
  p.path = dir / name;
  p.appName = "Bench " + name;

  std::vector<test::ZipFile> files;
  files.push_back({"vtl.ini",
                   "[App]\r\nID=bench.vantrel\r\nName=" + p.appName +
                       "\r\nIndexHtml=index.html\r\nWidth=1024\r\nHeight=768\r\nAllowZoom=1\r\n"
                       "InstallFormColor=$FF00001A\r\nWindowPosition=1\r\n",
                   true});
  // A few percent of script and markup, deflated; the rest stored assets of
  // 1 MiB each, the way images, fonts and media are packed.
  const uint64_t scripts = archiveBytes / 32;
  files.push_back({"index.html", "<!doctype html><html><head><script src=\"app.js\"></script></head></html>\n", true});
  files.push_back({"app.js", ScriptText(static_cast<size_t>(scripts), 7), true});
  // Script text deflates to about a third; the assets make up the rest.
  const uint64_t assets = archiveBytes - scripts / 3;
  constexpr uint64_t kAsset = 1 << 20;
  for (uint64_t i = 0, left = assets; left > 0; ++i) {
    const uint64_t n = std::min(left, kAsset);
    files.push_back({"assets/img" + std::to_string(i) + ".png", NoiseBytes(static_cast<size_t>(n), 100 + i), false});
    left -= n;
  }
  p.entries = files.size();

  const std::vector<uint8_t> image = test::MakeRuntimeImage();
  const std::vector<uint8_t> zip = test::MakeZip(files, kPackagePassword);
  files.clear();
  std::ofstream out(p.path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + p.path.string());
  p.archiveOffset = image.size();
  p.fileSize = image.size() + zip.size();
  return p;
}

std::unique_ptr<LoadedPackage> LoadPackage(const std::filesystem::path& path, LoadStages* stages) {
  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  auto loaded = std::make_unique<LoadedPackage>();

  auto t = Clock::now();
  TExeUtils exe(path);
  exe.GetAttachedStubOffset();
  const double offset = since(t);

  t = Clock::now();
  loaded->archive = exe.AttachedArchive(OpenFileSource(path));
  const double file = since(t);

  t = Clock::now();
  loaded->zip.SetPassword(kPackagePassword);
  loaded->zip.Open(loaded->archive);
  const double open = since(t);

  t = Clock::now();
  IniDocument ini;
  LoadRuntimeINI(loaded->zip, ini);
  loaded->settings = AppSettings::Read(ini);
  const double settings = since(t);

  if (stages) *stages = {offset, file, open, settings};
  return loaded;
}

}  // namespace vtl::bench
