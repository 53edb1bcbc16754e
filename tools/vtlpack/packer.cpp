#include "packer.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <optional>

#include "core/bridge/bridge_scope.h"
#include "core/errors.h"
#include "core/exe_utils.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "core/str_utils.h"
#include "os/file_source.h"
#include "exe_info.h"
#include "pe_edit.h"
#include "temp_file.h"

namespace fs = std::filesystem;

namespace vtl::pack {
namespace {

std::string Utf8(const fs::path& p) {
  const auto u8 = p.generic_u8string();
  return std::string(u8.begin(), u8.end());
}

fs::path PathFromUtf8(std::string_view s) { return fs::path(std::u8string(s.begin(), s.end())); }

uint64_t RegularFileSize(const fs::path& p, const char* role) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) throw Error(std::string(role) + " \"" + Utf8(p) + "\" is not a file");
  const auto size = fs::file_size(p, ec);
  if (ec) throw Error(std::string("cannot read ") + role + " \"" + Utf8(p) + "\": " + ec.message());
  return size;
}

std::string ReadFileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + Utf8(p) + "\".");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ZipWriter {
  zip_t* z = nullptr;
  ~ZipWriter() {
    if (z) zip_discard(z);
  }
};

IniDocument ReadProjectIni(const fs::path& ini) {
  const std::string bytes = ReadFileBytes(ini);
  IniDocument doc;
  doc.Load(DecodeSettingsText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
  return doc;
}

std::vector<uint8_t> ReadRuntime(const fs::path& p) {
  const uint64_t size = RegularFileSize(p, "runtime");
  if (size > (uint64_t{1} << 30)) throw Error("runtime \"" + Utf8(p) + "\" is too large to be the runtime");
  std::ifstream in(p, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + Utf8(p) + "\".");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<uint64_t>(in.gcount()) != size) throw EInOutError("Read error in \"" + Utf8(p) + "\"");
  return bytes;
}

// The runtime's image made the program's own: no signature, the given icon,
// the version information. Checked before anything is written.
struct PreparedImage {
  std::vector<uint8_t> bytes;
  uint64_t checksumOffset = 0;
  bool signatureRemoved = false;
};

PreparedImage PrepareImage(const PackOptions& o) {
  const fs::path ini = o.projectDir / "vtl.ini";
  const IniDocument doc = ReadProjectIni(ini);
  const auto settings = AppSettings::Read(doc);
  // [Package] first, then the command line over it.
  std::vector<std::pair<std::string, std::string>> values;
  auto set = [&](const std::string& key, std::string value) {
    std::erase_if(values, [&](const auto& kv) { return kv.first == key; });
    values.emplace_back(key, std::move(value));
  };
  std::optional<fs::path> icon;
  for (const auto& k : PackageKeys()) {
    const std::string none = "\x01(none)";
    const std::string v = doc.ReadString("Package", k.key, none);
    if (v == none) continue;
    if (std::string_view(k.key) == "Icon") icon = v.empty() ? fs::path() : o.projectDir / PathFromUtf8(v);
    else set(k.key, v);
  }
  for (const auto& [key, value] : o.package) {
    if (key == "Icon") icon = PathFromUtf8(value);
    else set(key, value);
  }
  auto valueOf = [&](const char* key, std::string def) {
    for (const auto& [k, v] : values)
      if (k == key) return v;
    return def;
  };
  auto optionOf = [](std::string_view key) {
    for (const auto& k : PackageKeys())
      if (key == k.key) return std::string(k.option) + " ([Package] " + k.key + ")";
    return std::string(key);
  };

  ExeInfo info;
  info.fileVersion = ParseFileVersion(valueOf("FileVersion", "1.0.0.0"), optionOf("FileVersion"));
  info.productVersion = ParseFileVersion(valueOf("ProductVersion", "1.0.0.0"), optionOf("ProductVersion"));
  const std::string fileName = Utf8(o.output.filename());
  const std::string stem = Utf8(o.output.stem());
  for (auto [key, def] : std::initializer_list<std::pair<const char*, std::string>>{
           {"CompanyName", ""},
           {"FileDescription", settings.Name},
           {"InternalName", stem},
           {"LegalCopyright", ""},
           {"LegalTrademarks", ""},
           {"OriginalFilename", fileName},
           {"ProductName", settings.Name},
           {"Comments", ""}})
    info.strings.emplace_back(key, valueOf(key, def));

  std::vector<IconImage> iconImages;
  if (icon && !icon->empty()) iconImages = LoadIconFile(*icon);

  PreparedImage out;
  try {
    PeImage image(ReadRuntime(o.runtime));
    if (image.Signed()) {
      image.RemoveSignature();
      out.signatureRemoved = true;
    }
    if (image.Bytes().size() > image.ImageEnd()) throw Error("it already carries an archive; use a clean runtime");
    auto resources = image.ReadResources();
    if (!iconImages.empty()) ChangeExeIcon(resources, iconImages);
    UpdateExeInfo(resources, info);
    image.WriteResources(resources);
    out.checksumOffset = image.ChecksumOffset();
    out.bytes = image.Bytes();
  } catch (const ValueTooLong& e) {
    throw Error(optionOf(e.key) + ": the value is " + std::to_string(e.length) +
                " characters long; the runtime's version resource takes at most " + std::to_string(e.limit) + " for " +
                e.key);
  } catch (const Error& e) {
    throw Error("runtime \"" + Utf8(o.runtime) + "\": " + e.what());
  }
  return out;
}

// Signers put the certificate table on an 8-byte boundary, padding the file
// with zeros first; those zeros would then count as part of the archive. A
// file that ends on the boundary needs none: the archive's end record takes
// the few bytes as its comment.
void AlignArchiveEnd(const fs::path& zip, uint64_t imageSize) {
  const uint64_t size = fs::file_size(zip);
  const uint64_t pad = (8 - (imageSize + size) % 8) % 8;
  if (pad == 0) return;
  std::fstream io(zip, std::ios::binary | std::ios::in | std::ios::out);
  char end[22];
  io.seekg(static_cast<std::streamoff>(size - sizeof end));
  io.read(end, sizeof end);
  if (!io || std::memcmp(end, "PK\x05\x06", 4) != 0 || end[20] != 0 || end[21] != 0)
    throw Error("the archive written has no end record where expected");
  const char length[2] = {static_cast<char>(pad), 0};
  io.seekp(static_cast<std::streamoff>(size - 2));
  io.write(length, 2);
  io.seekp(0, std::ios::end);
  io.write("        ", static_cast<std::streamsize>(pad));
  io.close();
  if (!io) throw EInOutError("Write error in \"" + Utf8(zip) + "\"");
}

// Writes the image's checksum, computed over the whole file.
void StoreChecksum(const fs::path& file, uint64_t checksumOffset) {
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  if (!io) throw EFOpenError("Cannot open file \"" + Utf8(file) + "\".");
  ImageChecksum sum(checksumOffset);
  std::vector<char> buffer(1 << 20);
  while (io.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || io.gcount() > 0)
    sum.Add(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(io.gcount()));
  io.clear();
  const uint32_t value = sum.Value();
  const char field[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 24)};
  io.seekp(static_cast<std::streamoff>(checksumOffset));
  io.write(field, 4);
  io.close();
  if (!io) throw EInOutError("Write error in \"" + Utf8(file) + "\"");
}

}  // namespace

const std::vector<PackageKey>& PackageKeys() {
  static const std::vector<PackageKey> keys = {
      {"Icon", "--icon"},
      {"FileVersion", "--file-version"},
      {"ProductVersion", "--product-version"},
      {"CompanyName", "--company"},
      {"FileDescription", "--description"},
      {"ProductName", "--product"},
      {"LegalCopyright", "--copyright"},
      {"LegalTrademarks", "--trademarks"},
      {"Comments", "--comments"},
      {"InternalName", "--internal-name"},
      {"OriginalFilename", "--original-filename"},
  };
  return keys;
}

bool IsStoredUncompressed(std::string_view name) {
  static constexpr std::array kStored = {".png", ".jpg", ".jpeg", ".gif", ".webp", ".ico", ".zip", ".gz",
                                         ".7z",  ".mp3", ".mp4",  ".webm", ".ogg", ".woff", ".woff2", ".avif"};
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || name.find('/', dot) != std::string_view::npos) return false;
  const std::string ext = AsciiLower(name.substr(dot));
  return std::find(kStored.begin(), kStored.end(), ext) != kStored.end();
}

std::vector<PackEntry> CollectEntries(const PackOptions& o) {
  std::error_code ec;
  if (!fs::is_directory(o.projectDir, ec)) throw Error("project folder \"" + Utf8(o.projectDir) + "\" does not exist");

  const fs::path ini = o.projectDir / "vtl.ini";
  std::vector<PackEntry> entries;
  entries.push_back({"vtl.ini", ini, RegularFileSize(ini, "settings file")});

  const std::string bytes = ReadFileBytes(ini);
  IniDocument doc;
  doc.Load(DecodeSettingsText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
  const auto settings = AppSettings::Read(doc);
  for (auto [key, value] : {std::pair{"ID", &settings.ID}, {"Name", &settings.Name}, {"DirName", &settings.DirName}})
    if (value->empty())
      throw Error(Utf8(ini) + ": [App] " + key + " is missing or empty; the program would end at once");
  if (settings.DirName.find_first_of("/\\:") != std::string::npos || settings.DirName == "." || settings.DirName == "..")
    throw Error(Utf8(ini) + ": [App] DirName must name one folder, not \"" + settings.DirName + "\"");

  const fs::path web = o.projectDir / PathFromUtf8(settings.DirName);
  if (!fs::is_directory(web, ec)) throw Error("web folder \"" + Utf8(web) + "\" named by [App] DirName does not exist");
  if (settings.IndexHtml.empty() || !fs::is_regular_file(web / PathFromUtf8(settings.IndexHtml), ec))
    std::fprintf(stderr, "vtlpack: warning: start page \"%s/%s\" is not in the project\n", settings.DirName.c_str(),
                 settings.IndexHtml.c_str());

  const std::string scope = doc.ReadString(kAppSection, "BridgeScope", "all");
  if (ParseBridgeScope(scope) == BridgeScope::Package && !AsciiIEquals(scope, "package"))
    std::fprintf(stderr, "vtlpack: warning: [App] BridgeScope=%s is neither \"all\" nor \"package\"; the program reads it as \"package\"\n",
                 scope.c_str());

  const fs::path userScript = o.projectDir / "vtl-webviewjs";
  if (fs::exists(userScript, ec)) entries.push_back({"vtl-webviewjs", userScript, RegularFileSize(userScript, "user script")});

  std::vector<PackEntry> webFiles;
  for (auto it = fs::recursive_directory_iterator(web, fs::directory_options::follow_directory_symlink, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const fs::path rel = fs::relative(it->path(), web, ec);
    webFiles.push_back({settings.DirName + "/" + Utf8(rel), it->path(), it->file_size(ec)});
  }
  if (ec) throw Error("cannot read the web folder \"" + Utf8(web) + "\": " + ec.message());
  std::sort(webFiles.begin(), webFiles.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  entries.insert(entries.end(), webFiles.begin(), webFiles.end());

  if (o.loader.empty()) throw Error("no WebView2 loader library: pass --loader DLL");
  entries.push_back({"WebView2LoaderWin64.dll", o.loader, RegularFileSize(o.loader, "loader library")});
  if (!o.installer.empty())
    entries.push_back({"WebView2Installer.exe", o.installer, RegularFileSize(o.installer, "installer")});

  // Two files whose names differ only in letter case would shadow each other,
  // since the runtime looks names up ignoring case.
  std::vector<std::string> lowered;
  for (const auto& e : entries) lowered.push_back(AsciiLower(e.name));
  std::sort(lowered.begin(), lowered.end());
  if (auto dup = std::adjacent_find(lowered.begin(), lowered.end()); dup != lowered.end())
    throw Error("two files would share the entry name \"" + *dup + "\" (names are matched ignoring case)");
  return entries;
}

PackResult Pack(const PackOptions& o, const Progress& progress) {
  // The runtime must be a clean image: an archive already attached would put
  // this one's offsets in the wrong place.
  if (TExeUtils::GetFileSizeOf(o.runtime) < 0) throw Error("runtime \"" + Utf8(o.runtime) + "\" does not exist");
  const auto entries = CollectEntries(o);
  const PreparedImage image = PrepareImage(o);
  const uint64_t runtimeSize = image.bytes.size();
  uint64_t inputBytes = 0;
  for (const auto& e : entries) inputBytes += e.size;

  TempFile zipFile(o.output, "zip");
  TempFile exeFile(o.output, "exe");

  // Progress: the archive is written first (counted by input bytes), then
  // appended (counted by archive bytes). Both halves map onto one total.
  struct State {
    const Progress* progress;
    uint64_t inputBytes;
  } state{&progress, inputBytes};

  {
    ZipWriter w;
    int err = 0;
    w.z = zip_open(zipFile.path().string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!w.z) {
      zip_error_t ze;
      zip_error_init_with_code(&ze, err);
      std::string text = zip_error_strerror(&ze);
      zip_error_fini(&ze);
      throw EFCreateError("Cannot create file \"" + Utf8(zipFile.path()) + "\". " + text);
    }
    const std::string password(kPackagePassword);
    for (const auto& e : entries) {
      zip_source_t* src = zip_source_file(w.z, e.source.string().c_str(), 0, -1);
      if (!src) throw Error("cannot read \"" + Utf8(e.source) + "\": " + zip_strerror(w.z));
      const zip_int64_t index = zip_file_add(w.z, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
      if (index < 0) {
        zip_source_free(src);
        throw Error("cannot add \"" + e.name + "\": " + zip_strerror(w.z));
      }
      const auto i = static_cast<zip_uint64_t>(index);
      if (zip_set_file_compression(w.z, i, IsStoredUncompressed(e.name) ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9) < 0 ||
          zip_file_set_encryption(w.z, i, ZIP_EM_TRAD_PKWARE, password.c_str()) < 0)
        throw Error("cannot prepare \"" + e.name + "\": " + zip_strerror(w.z));
    }
    if (progress) {
      zip_register_progress_callback_with_state(
          w.z, 0.001,
          [](zip_t*, double fraction, void* ud) {
            auto* s = static_cast<State*>(ud);
            (*s->progress)(static_cast<uint64_t>(fraction * static_cast<double>(s->inputBytes)), s->inputBytes * 2);
          },
          nullptr, &state);
    }
    if (zip_close(w.z) < 0) throw Error(std::string("cannot write the archive: ") + zip_strerror(w.z));
    w.z = nullptr;
  }
  AlignArchiveEnd(zipFile.path(), runtimeSize);

  {
    std::ofstream out(exeFile.path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) throw EFCreateError("Cannot create file \"" + Utf8(exeFile.path()) + "\".");
  }

  TExeUtils writer(exeFile.path());
  uint64_t archiveSize = 0;
  if (progress) {
    writer.OnProgressMax = [&](int64_t max) { archiveSize = static_cast<uint64_t>(max); };
    writer.OnProgressPos = [&](int64_t pos) {
      const double share = archiveSize ? static_cast<double>(pos) / static_cast<double>(archiveSize) : 1.0;
      progress(inputBytes + static_cast<uint64_t>(share * static_cast<double>(inputBytes)), inputBytes * 2);
    };
  }
  writer.AppendZipToExe(zipFile.path(), exeFile.path());
  StoreChecksum(exeFile.path(), image.checksumOffset);

  // Read the result back the way the runtime will before calling it done.
  TExeUtils check(exeFile.path());
  if (check.GetAttachedStubOffset() != runtimeSize)
    throw Error("the packaged file does not start its archive where the runtime image ends");
  const auto archive = check.AttachedArchive(OpenFileSource(exeFile.path()));
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(archive);
  std::string ini;
  if (zip.EntryCount() != entries.size() || !zip.ExtractEntry(zip.FindEntry("vtl.ini"), ini))
    throw Error("the packaged archive does not read back");

  exeFile.Commit();
  PackResult r;
  r.signatureRemoved = image.signatureRemoved;
  r.entries = entries.size();
  r.archiveSize = archive->Size();
  r.outputSize = runtimeSize + archive->Size();
  return r;
}

}  // namespace vtl::pack
