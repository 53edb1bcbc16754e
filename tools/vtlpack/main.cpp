// vtlpack: builds a packaged application from a project folder, and looks
// inside packaged applications.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define VTL_ISATTY _isatty
#define VTL_FILENO _fileno
#else
#include <unistd.h>
#define VTL_ISATTY isatty
#define VTL_FILENO fileno
#endif

#include "core/errors.h"
#include "core/exe_utils.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "os/file_source.h"
#include "exe_info.h"
#include "packer.h"
#include "pe_edit.h"
#include "templates.h"
#include "temp_file.h"

namespace fs = std::filesystem;
using namespace vtl;

namespace {

constexpr const char* kUsage = R"(vtlpack - build and inspect packaged web applications

Usage:
  vtlpack new DIR [--template hello|showcase]
  vtlpack pack PROJECT_DIR -o OUT.exe [--runtime EXE] [--loader DLL] [--installer EXE]
               [--icon FILE] [--file-version N.N.N.N] [--product-version N.N.N.N]
               [--company TEXT] [--description TEXT] [--product TEXT] [--copyright TEXT]
               [--trademarks TEXT] [--comments TEXT] [--internal-name TEXT]
               [--original-filename TEXT]
  vtlpack info FILE [--json]
  vtlpack cat FILE ENTRY
  vtlpack extract FILE OUT.zip
  vtlpack settings FILE [--json]
  vtlpack help [COMMAND]

Commands:
  new       Write a ready project into DIR (new or empty): vtl.ini with a fresh
            ID, the web folder, tsconfig.json and vtl.d.ts for the editor.
  pack      Append an encrypted archive of PROJECT_DIR to a copy of the runtime.
            PROJECT_DIR holds vtl.ini, the web folder named by its [App] DirName,
            and optionally vtl-webviewjs (a script injected into every page).
            The program gets its own icon and version information; vtl.ini's
            [Package] section may hold them too (the options override it).
  info      Show where the runtime image ends, the file size, whether the file
            is signed, its icon sizes, its version information and the entries.
  cat       Write one entry's plain bytes to standard output. Names are matched
            ignoring letter case, as the runtime does. Exit status 1 if missing.
  extract   Write the attached archive exactly as it is stored.
  settings  Show every [App] setting as the runtime reads it, defaults applied.

Options:
  -o, --output OUT   the packaged program to write (pack)
  --runtime EXE      the runtime to copy (default: VantrelRuntime.exe beside
                     vtlpack, else the project's Windows build)
  --loader DLL       the WebView2 loader to carry (default: the SDK's x64 loader)
  --installer EXE    a WebView2 runtime installer to carry (optional)
  --template NAME    the project to start from: hello (default) or showcase
  --icon FILE        the program's icon: an .ico file, or a PNG of at least
                     256 x 256 pixels from which the usual sizes are made
  --file-version V, --product-version V
                     four numbers of at most 65535 (default 1.0.0.0)
  --company, --description, --product, --copyright, --trademarks, --comments,
  --internal-name, --original-filename TEXT
                     version strings, at most 255 characters each; the
                     description and the product default to [App] Name, the
                     original file name to OUT.exe's name, the internal name to
                     its stem; the rest are empty
  --json             machine-readable output (info, settings)
  -h, --help         show this help
  --version          show the version
)";

struct Usage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Utf8(const fs::path& p) {
  const auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

fs::path SelfDir(const char* argv0) {
  std::error_code ec;
#if !defined(_WIN32)
  if (auto self = fs::read_symlink("/proc/self/exe", ec); !ec) return self.parent_path();
#endif
  return fs::absolute(argv0, ec).parent_path();
}

fs::path FirstExisting(std::initializer_list<fs::path> candidates) {
  std::error_code ec;
  for (const auto& c : candidates)
    if (!c.empty() && fs::is_regular_file(c, ec)) return c;
  return {};
}

// The package's archive, opened in place the way the runtime opens it: only
// the end records and the central directory are read.
struct OpenedPackage {
  std::shared_ptr<const ByteSource> archive;
  RuntimeZip zip;
  uint64_t offset = 0;
  int64_t size = 0;
};

void OpenPackage(const fs::path& file, OpenedPackage& p, bool requireArchive = true) {
  if (TExeUtils::GetFileSizeOf(file) < 0) throw Error("\"" + Utf8(file) + "\" does not exist");
  TExeUtils exe(file);
  p.offset = exe.GetAttachedStubOffset();
  p.size = exe.GetExeSize();
  if (!exe.ExeHasAttachedStub()) {
    if (requireArchive) throw Error("\"" + Utf8(file) + "\" carries no archive");
    return;
  }
  p.archive = exe.AttachedArchive(OpenFileSource(file));
  p.zip.SetPassword(kPackagePassword);
  p.zip.Open(p.archive);
}

std::string MethodName(uint16_t m) {
  switch (m) {
    case 0: return "store";
    case 8: return "deflate";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "lzma";
    case 93: return "zstd";
    case 95: return "xz";
    default: return "method " + std::to_string(m);
  }
}

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { Finish(); }
  void operator()(uint64_t done, uint64_t total) {
    if (!enabled_ || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_) return;
    last_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\rpacking [%.*s%*s] %3d%%", filled, "##############################", kWidth - filled, "",
                 percent);
    std::fflush(stderr);
    drawn_ = true;
  }
  void Finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  bool enabled_;
  bool drawn_ = false;
  int last_ = -1;
};

const char* PackageKeyFor(const std::string& option) {
  for (const auto& k : pack::PackageKeys())
    if (option == k.option) return k.key;
  return nullptr;
}

int CmdPack(const std::vector<std::string>& args, const char* argv0) {
  pack::PackOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> fs::path {
      if (i + 1 >= args.size()) throw Usage(a + " needs a value");
      const std::string& v = args[++i];
      return fs::path(std::u8string(v.begin(), v.end()));
    };
    if (a == "-o" || a == "--output") o.output = value();
    else if (a == "--runtime") o.runtime = value();
    else if (a == "--loader") o.loader = value();
    else if (a == "--installer") o.installer = value();
    else if (auto key = PackageKeyFor(a)) {
      if (i + 1 >= args.size()) throw Usage(a + " needs a value");
      o.package.emplace_back(key, args[++i]);
    }
    else if (!a.empty() && a[0] == '-') throw Usage("unknown option " + a);
    else if (o.projectDir.empty()) o.projectDir = fs::path(std::u8string(a.begin(), a.end()));
    else throw Usage("unexpected argument " + a);
  }
  if (o.projectDir.empty()) throw Usage("pack needs a PROJECT_DIR");
  if (o.output.empty()) throw Usage("pack needs -o OUT.exe");

  std::error_code ec;
  if (!fs::is_directory(o.projectDir, ec))
    throw Error("project folder \"" + Utf8(o.projectDir) + "\" does not exist");

  const fs::path self = SelfDir(argv0);
  if (o.runtime.empty()) {
    o.runtime = FirstExisting({self / "VantrelRuntime.exe", fs::path(VTL_SOURCE_DIR) / "build/windows/VantrelRuntime.exe"});
    if (o.runtime.empty()) throw Error("no runtime found: build the windows preset or pass --runtime EXE");
  }
  if (o.loader.empty()) o.loader = FirstExisting({self / "WebView2LoaderWin64.dll", fs::path(VTL_DEFAULT_LOADER)});

  if (fs::equivalent(o.output, o.runtime, ec)) throw Error("the output must not be the runtime itself");

  pack::InstallTempFileCleanup();
  ProgressBar bar(VTL_ISATTY(VTL_FILENO(stderr)) != 0);
  const auto r = pack::Pack(o, [&](uint64_t done, uint64_t total) { bar(done, total); });
  bar.Finish();
  if (r.signatureRemoved)
    std::fprintf(stderr, "vtlpack: the runtime was signed; its signature is removed, so sign the packaged program afresh\n");
  std::printf("packed %zu entries (%llu archive bytes) into %s (%llu bytes)\n", r.entries,
              static_cast<unsigned long long>(r.archiveSize), Utf8(o.output).c_str(),
              static_cast<unsigned long long>(r.outputSize));
  return 0;
}

bool TakeJsonFlag(std::vector<std::string>& args) {
  const auto before = args.size();
  std::erase(args, std::string("--json"));
  return args.size() != before;
}

void Expect(const std::vector<std::string>& args, size_t n, const char* what) {
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw Usage("unknown option " + a);
  if (args.size() != n) throw Usage(std::string("expected ") + what);
}

// The program's icon, version information and signature, read from the
// image in front of the archive.
struct ImageFacts {
  bool isSigned = false;
  std::vector<pack::IconGroupInfo> icons;
  pack::VersionReport version;
};

ImageFacts ReadImageFacts(const fs::path& file, uint64_t imageEnd) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(imageEnd));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<uint64_t>(in.gcount()) != imageEnd) throw Error("cannot read the image of \"" + Utf8(file) + "\"");
  // An image whose resources cannot be read still shows its archive.
  ImageFacts facts;
  try {
    const pack::PeImage image(std::move(bytes));
    facts.isSigned = image.Signed();
    const auto resources = image.ReadResources();
    facts.icons = pack::ReadIconGroups(resources);
    facts.version = pack::ReadVersionInfo(resources);
  } catch (const Error&) {
  }
  return facts;
}

// A fresh application ID: the folder's name (letters, digits, dashes) and 64
// random bits, so that two projects made from one template never share data
// folders or the single-instance lock.
std::string FreshAppId(const fs::path& dir) {
  std::string name;
  for (char c : Utf8(fs::absolute(dir).filename()))
    name += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : '-';
  if (name.empty() || name.find_first_not_of('-') == std::string::npos) name = "app";
  std::random_device device;
  const uint64_t bits = (uint64_t{device()} << 32) ^ device();
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
  return "app." + name + "." + hex;
}

constexpr const char* kProjectTsconfig = R"({
  "compilerOptions": {
    "target": "ES2020",
    "lib": ["ES2020", "DOM"],
    "types": [],
    "allowJs": true,
    "noEmit": true
  },
  "include": ["vtl.d.ts", "app/**/*"]
}
)";

int CmdNew(const std::vector<std::string>& args) {
  std::string dirText, templateName = "hello";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--template") {
      if (i + 1 >= args.size()) throw Usage("--template needs a value");
      templateName = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw Usage("unknown option " + args[i]);
    } else if (dirText.empty()) {
      dirText = args[i];
    } else {
      throw Usage("unexpected argument " + args[i]);
    }
  }
  if (dirText.empty()) throw Usage("new needs a DIR");
  if (templateName != "hello" && templateName != "showcase")
    throw Usage("unknown template \"" + templateName + "\": choose hello or showcase");
  const fs::path dir(std::u8string(dirText.begin(), dirText.end()));
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) throw Error("\"" + dirText + "\" exists and is not a folder");
    if (!fs::is_empty(dir, ec) || ec) throw Error("\"" + dirText + "\" is not empty; give a new or empty folder");
  }
  const std::string id = FreshAppId(dir);
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& f : pack::EmbeddedFiles()) {
    if (f.group != templateName) continue;
    std::string bytes(f.bytes);
    if (f.path == "vtl.ini") {
      // The template's own ID gives way to a fresh one.
      std::string out;
      size_t at = 0;
      while (at < bytes.size()) {
        size_t eol = bytes.find('\n', at);
        eol = eol == std::string::npos ? bytes.size() : eol + 1;
        std::string line = bytes.substr(at, eol - at);
        if (line.rfind("ID=", 0) == 0) line = "ID=" + id + (line.back() == '\n' ? (line.size() > 1 && line[line.size() - 2] == '\r' ? "\r\n" : "\n") : "");
        out += line;
        at = eol;
      }
      bytes = out;
    }
    files.emplace_back(fs::path(std::string(f.path)), std::move(bytes));
  }
  for (const auto& f : pack::EmbeddedFiles())
    if (f.group == "types") files.emplace_back(fs::path(std::string(f.path)), std::string(f.bytes));
  files.emplace_back("tsconfig.json", kProjectTsconfig);

  const bool existed = fs::exists(dir, ec);
  try {
    for (const auto& [relative, bytes] : files) {
      const fs::path target = dir / relative;
      fs::create_directories(target.parent_path());
      std::ofstream out(target, std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (!out) throw Error("cannot write \"" + Utf8(target) + "\"");
    }
  } catch (const std::exception& e) {
    // Leave the folder as it was: empty, or not there.
    if (existed) {
      for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
    } else {
      fs::remove_all(dir, ec);
    }
    throw Error(e.what());
  }
  std::printf("created %s from the %s template (ID %s); build it with: vtlpack pack %s -o %s.exe\n", dirText.c_str(),
              templateName.c_str(), id.c_str(), dirText.c_str(), Utf8(fs::absolute(dir).filename()).c_str());
  return 0;
}

int CmdInfo(std::vector<std::string> args) {
  const bool json = TakeJsonFlag(args);
  Expect(args, 1, "FILE");
  OpenedPackage p;
  OpenPackage(args[0], p, false);
  const uint64_t archiveSize = p.archive ? p.archive->Size() : 0;
  const ImageFacts facts = ReadImageFacts(args[0], p.offset);
  if (json) {
    nlohmann::ordered_json j;
    j["size"] = p.size;
    j["archiveOffset"] = p.offset;
    j["archiveSize"] = archiveSize;
    j["signed"] = facts.isSigned;
    j["icons"] = nlohmann::json::array();
    for (const auto& g : facts.icons) {
      nlohmann::ordered_json sizes = nlohmann::json::array();
      for (size_t i = 0; i < g.sizes.size(); ++i)
        sizes.push_back({{"width", g.sizes[i].first}, {"height", g.sizes[i].second}, {"bitCount", g.bitCounts[i]}});
      j["icons"].push_back({{"name", g.name}, {"images", sizes}});
    }
    if (facts.version.present) {
      nlohmann::ordered_json strings = nlohmann::json::object();
      for (const auto& [key, value] : facts.version.strings) strings[key] = value;
      j["version"] = {{"fileVersion", facts.version.fileVersion},
                      {"productVersion", facts.version.productVersion},
                      {"strings", strings}};
    } else {
      j["version"] = nullptr;
    }
    j["entries"] = nlohmann::json::array();
    for (size_t i = 0; i < p.zip.EntryCount(); ++i) {
      const auto& e = p.zip.Entry(i);
      j["entries"].push_back(nlohmann::ordered_json{{"name", e.name},
                                                    {"size", e.size},
                                                    {"compressedSize", e.compressedSize},
                                                    {"method", MethodName(e.method)},
                                                    {"encrypted", e.encrypted}});
    }
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  std::printf("file:           %s\n", args[0].c_str());
  std::printf("size:           %lld\n", static_cast<long long>(p.size));
  std::printf("image end:      %llu\n", static_cast<unsigned long long>(p.offset));
  std::printf("archive size:   %llu\n", static_cast<unsigned long long>(archiveSize));
  std::printf("signed:         %s\n", facts.isSigned ? "yes" : "no");
  for (const auto& g : facts.icons) {
    std::string sizes;
    for (size_t i = 0; i < g.sizes.size(); ++i)
      sizes += (i ? ", " : "") + std::to_string(g.sizes[i].first) + "x" + std::to_string(g.sizes[i].second);
    std::printf("icon %-10s %s\n", (g.name + ":").c_str(), sizes.c_str());
  }
  if (facts.version.present) {
    std::printf("versions:       file %s, product %s\n", facts.version.fileVersion.c_str(),
                facts.version.productVersion.c_str());
    for (const auto& [key, value] : facts.version.strings) std::printf("  %-17s %s\n", (key + ":").c_str(), value.c_str());
  }
  if (archiveSize == 0) {
    std::printf("no archive attached\n");
    return 0;
  }
  std::printf("entries:        %zu\n\n", p.zip.EntryCount());
  std::printf("%12s %12s  %-8s %-4s  %s\n", "size", "compressed", "method", "enc", "name");
  for (size_t i = 0; i < p.zip.EntryCount(); ++i) {
    const auto& e = p.zip.Entry(i);
    std::printf("%12llu %12llu  %-8s %-4s  %s\n", static_cast<unsigned long long>(e.size),
                static_cast<unsigned long long>(e.compressedSize), MethodName(e.method).c_str(),
                e.encrypted ? "yes" : "no", e.name.c_str());
  }
  return 0;
}

int CmdCat(std::vector<std::string> args) {
  Expect(args, 2, "FILE ENTRY");
  OpenedPackage p;
  OpenPackage(args[0], p);
  const int64_t index = p.zip.FindEntry(args[1]);
  if (index < 0) {
    std::fprintf(stderr, "vtlpack: no entry \"%s\" in %s\n", args[1].c_str(), args[0].c_str());
    return 1;
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  auto write = [](std::span<const uint8_t> bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) throw Error("cannot write to standard output");
    return true;
  };
  std::string error;
  // An entry is checked whole before any of it is written; only an entry too
  // large to hold goes out as it is decoded, and a fault found at its end
  // then follows what was written.
  constexpr uint64_t kHeldWhole = 64 << 20;
  if (p.zip.Entry(static_cast<size_t>(index)).size <= kHeldWhole) {
    std::string bytes;
    if (!p.zip.ExtractEntry(index, bytes, &error)) throw Error("cannot read entry \"" + args[1] + "\": " + error);
    write({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  } else if (!p.zip.ExtractEntry(index, write, &error)) {
    std::fflush(stdout);
    throw Error("cannot read entry \"" + args[1] + "\": " + error);
  }
  if (std::fflush(stdout) != 0) throw Error("cannot write to standard output");
  return 0;
}

int CmdExtract(std::vector<std::string> args) {
  Expect(args, 2, "FILE OUT.zip");
  const fs::path in(args[0]), out(args[1]);
  if (TExeUtils::GetFileSizeOf(in) < 0) throw Error("\"" + args[0] + "\" does not exist");
  TExeUtils exe(in);
  if (!exe.ExeHasAttachedStub()) throw Error("\"" + args[0] + "\" carries no archive");
  pack::InstallTempFileCleanup();
  pack::TempFile tmp(out, "zip");
  exe.ExtractZipFromExe(tmp.path());
  tmp.Commit();
  return 0;
}

int CmdSettings(std::vector<std::string> args) {
  const bool json = TakeJsonFlag(args);
  Expect(args, 1, "FILE");
  OpenedPackage p;
  OpenPackage(args[0], p);
  IniDocument ini;
  LoadRuntimeINI(p.zip, ini);
  const auto s = AppSettings::Read(ini);
  nlohmann::ordered_json j;
  for (const auto& k : AppSettingKeys()) {
    switch (k.type) {
      case AppSettingKey::Type::String: j[std::string(k.name)] = s.*k.text; break;
      case AppSettingKey::Type::Integer: j[std::string(k.name)] = s.*k.number; break;
      case AppSettingKey::Type::Boolean: j[std::string(k.name)] = s.*k.flag; break;
    }
  }
  if (json) {
    std::cout << j.dump(2) << "\n";
  } else {
    for (const auto& [key, value] : j.items())
      std::cout << key << " = " << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string cmd = args.front();
  args.erase(args.begin());
  if (cmd == "-h" || cmd == "--help" || cmd == "help" ||
      std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "--version") {
    std::printf("vtlpack %s\n", VTL_VERSION);
    return 0;
  }
  try {
    if (cmd == "pack") return CmdPack(args, argv[0]);
    if (cmd == "new") return CmdNew(args);
    if (cmd == "info") return CmdInfo(args);
    if (cmd == "cat") return CmdCat(args);
    if (cmd == "extract") return CmdExtract(args);
    if (cmd == "settings") return CmdSettings(args);
    throw Usage("unknown command " + cmd);
  } catch (const Usage& e) {
    std::fprintf(stderr, "vtlpack: %s\nRun 'vtlpack --help' for usage.\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vtlpack: %s\n", e.what());
    return 1;
  }
}
