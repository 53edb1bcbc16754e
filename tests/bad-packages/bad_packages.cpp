#include "bad_packages.h"

#include <zip.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "core/package_password.h"
#include "core/startup.h"

namespace vtl::badpackages {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

uint16_t Get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}
uint32_t Get32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(Get16(b, at)) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}
void Put16(std::string& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<char>(v & 0xFF);
  b.at(at + 1) = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v & 0xFFFF));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// An archive in memory, every entry stored and encrypted with `password`:
// stored entries keep the offsets below simple to patch.
std::string MakeArchive(const Entries& entries, const std::string& password) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!buffer) throw std::runtime_error("zip_source_buffer_create");
  zip_source_keep(buffer);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (!archive) {
    zip_source_free(buffer);
    throw std::runtime_error("zip_open_from_source");
  }
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    const zip_int64_t index = source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0 || zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) < 0 ||
        zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE, password.c_str()) < 0) {
      zip_discard(archive);
      zip_source_free(buffer);
      throw std::runtime_error("cannot add " + name);
    }
  }
  if (zip_close(archive) < 0) {
    zip_discard(archive);
    zip_source_free(buffer);
    throw std::runtime_error("zip_close");
  }
  std::string bytes;
  zip_stat_t st;
  if (zip_source_stat(buffer, &st) == 0 && zip_source_open(buffer) == 0) {
    bytes.resize(static_cast<size_t>(st.size));
    const zip_int64_t got = zip_source_read(buffer, bytes.data(), bytes.size());
    zip_source_close(buffer);
    if (got != static_cast<zip_int64_t>(bytes.size())) bytes.clear();
  }
  zip_source_free(buffer);
  if (bytes.empty()) throw std::runtime_error("cannot read the archive back");
  return bytes;
}

struct CentralEntry {
  std::string name;
  size_t at;  // offset of the central record in the archive
  uint32_t localHeader;
};

struct Directory {
  size_t start = 0;  // of the central directory
  size_t size = 0;
  size_t end = 0;  // of the end record
  std::vector<CentralEntry> entries;
};

Directory ReadDirectory(const std::string& zip) {
  Directory d;
  d.end = zip.rfind(std::string("PK\x05\x06", 4));
  if (d.end == std::string::npos) throw std::runtime_error("no end record");
  d.size = Get32(zip, d.end + 12);
  d.start = Get32(zip, d.end + 16);
  for (size_t at = d.start; at < d.start + d.size;) {
    const size_t nameLength = Get16(zip, at + 28);
    d.entries.push_back({zip.substr(at + 46, nameLength), at, Get32(zip, at + 42)});
    at += 46 + nameLength + Get16(zip, at + 30) + Get16(zip, at + 32);
  }
  return d;
}

const CentralEntry& EntryNamed(const Directory& d, const std::string& name) {
  for (const auto& e : d.entries) {
    if (e.name == name) return e;
  }
  throw std::runtime_error("no entry " + name);
}

std::string Utf16(const std::string& ascii_and_latin1, bool bigEndian) {
  // The texts here are Latin-1 code points given as UTF-8.
  std::u16string units;
  for (size_t i = 0; i < ascii_and_latin1.size(); ++i) {
    const auto c = static_cast<uint8_t>(ascii_and_latin1[i]);
    if (c < 0x80) {
      units += static_cast<char16_t>(c);
    } else {
      units += static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<uint8_t>(ascii_and_latin1[++i]) & 0x3F));
    }
  }
  std::string out = bigEndian ? std::string("\xFE\xFF", 2) : std::string("\xFF\xFE", 2);
  for (const char16_t u : units) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

std::string Latin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<uint8_t>(utf8[i]);
    out += c < 0x80 ? static_cast<char>(c)
                    : static_cast<char>(((c & 0x1F) << 6) | (static_cast<uint8_t>(utf8[++i]) & 0x3F));
  }
  return out;
}

}  // namespace

std::vector<BadPackage> MakeBadPackages(const std::string& runtime, const std::string& loader,
                                        const std::string& appIdPrefix) {
  const std::string password(kPackagePassword);
  auto settings = [&](const std::string& label, const std::string& name, const std::string& more = "") {
    return "[App]\r\nID=" + appIdPrefix + "." + label + "\r\nName=" + name + "\r\nDirName=app\r\n" + more;
  };
  auto entries = [&](const std::string& ini) -> Entries {
    return {{"vtl.ini", ini}, {"app/index.html", "<!doctype html><title>Bad</title><p>bad package"},
            {std::string(kLoaderEntry), loader}};
  };
  const std::string good = MakeArchive(entries(settings("good", "Good")), password);
  std::vector<BadPackage> corpus;
  auto add = [&](std::string name, std::string bytes, int packerStatus, std::string packerSays,
                 RuntimeOutcome outcome = RuntimeOutcome::ApplicationError, std::string shows = {}) {
    corpus.push_back({std::move(name), std::move(bytes), packerStatus, std::move(packerSays), outcome, std::move(shows)});
  };

  // Cut inside the headers: the system cannot load what is left.
  const uint32_t peOffset = Get32(runtime, 0x3C);
  const uint16_t sectionCount = Get16(runtime, peOffset + 6);
  const uint16_t optionalSize = Get16(runtime, peOffset + 20);
  const size_t sectionTable = peOffset + 24 + optionalSize;
  const std::pair<const char*, size_t> cuts[] = {
      {"cut-in-dos-header", 0x20},
      {"cut-before-pe-signature", peOffset},
      {"cut-in-file-header", peOffset + 12},
      {"cut-in-optional-header", peOffset + 24 + optionalSize / 2},
      {"cut-in-section-table", sectionTable + 40 * sectionCount / 2},
      {"cut-after-section-table", sectionTable + 40 * sectionCount},
  };
  for (const auto& [name, size] : cuts) {
    // The archive goes with the cut.
    add(name, runtime.substr(0, size), 1, "", RuntimeOutcome::SystemRefuses);
  }
  for (const uint16_t count : {uint16_t{0}, uint16_t{97}}) {
    std::string bytes = runtime + good;
    Put16(bytes, peOffset + 6, count);
    add("sections-" + std::to_string(count), bytes, 1, "section", RuntimeOutcome::SystemRefuses);
  }

  std::string noise(4096, '\0');
  uint32_t state = 0x2545F491u;
  for (char& c : noise) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    c = static_cast<char>(state);
  }
  add("not-a-zip", runtime + noise, 1, "Cannot open the package archive");

  {  // The end record stays, but the directory it points at lost its tail.
    const Directory d = ReadDirectory(good);
    std::string zip = good;
    zip.erase(d.start + d.size - 20, 20);
    add("cut-central-directory", runtime + zip, 1, "Cannot open the package archive");
  }
  {  // vtl.ini's record points at the loader's data.
    const Directory d = ReadDirectory(good);
    std::string zip = good;
    Put32(zip, EntryNamed(d, "vtl.ini").at + 42, EntryNamed(d, std::string(kLoaderEntry)).localHeader);
    add("overlapping-entries", runtime + zip, 1, "vtl.ini");
  }
  {  // vtl.ini claims almost 4 GB.
    const Directory d = ReadDirectory(good);
    std::string zip = good;
    const CentralEntry& ini = EntryNamed(d, "vtl.ini");
    Put32(zip, ini.at + 24, 0xFFFFFFF0u);
    Put32(zip, ini.localHeader + 22, 0xFFFFFFF0u);
    add("declared-size-4gb", runtime + zip, 1, "vtl.ini");
  }
  add("wrong-password", runtime + MakeArchive(entries(settings("pw", "Wrong")), "not the password"), 1,
                    "vtl.ini");

  // Settings in every encoding the runtime reads: each names the window.
  const std::string name = "Caf\xC3\xA9 \xC3\x9Cn\xC3\xAF";  // UTF-8
  const std::pair<const char*, std::string> encodings[] = {
      {"utf8-bom", "\xEF\xBB\xBF" + settings("u8bom", name)},
      {"utf8", settings("u8", name)},
      {"utf16le", Utf16(settings("u16le", name), false)},
      {"utf16be", Utf16(settings("u16be", name), true)},
      {"ansi", Latin1(settings("ansi", name))},
  };
  for (const auto& [label, ini] : encodings) {
    // Without a byte-order mark the text is read in the system's ANSI code
    // page (Windows-1252 here), so UTF-8 without one comes out garbled.
    const std::string shown = std::string(label) == "utf8" ? "Caf\xC3\x83\xC2\xA9 \xC3\x83\xC5\x93n\xC3\x83\xC2\xAF" : name;
    add(std::string("settings-") + label, runtime + MakeArchive(entries(ini), password), 0, "Name = " + shown + "\n",
        RuntimeOutcome::MainWindow, shown);
  }
  {
    std::string garbage(2048, '\0');
    for (char& c : garbage) {
      state ^= state << 13, state ^= state >> 17, state ^= state << 5;
      c = static_cast<char>(state);
    }
    add("settings-garbage", runtime + MakeArchive(entries(garbage), password), 0, "DirName = \n",
                      RuntimeOutcome::EndsSilently);
  }
  {
    Entries noLoader = entries(settings("noloader", "No loader", "EdgeInstaller=0\r\n"));
    noLoader.pop_back();
    add("missing-loader", runtime + MakeArchive(noLoader, password), 0, "No loader", RuntimeOutcome::Message,
        "WebView2 runtime is required");
  }
  return corpus;
}

}  // namespace vtl::badpackages
