// Answering a web view request for a package file through the core's request
// path (resolve the address, look the entry up, extract it, pick the type),
// against the bare extraction of the same entry; and the content-type lookup.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <array>
#include <limits>
#include <optional>
#include <stdexcept>

#include <zlib.h>

#include "bare_extract.h"
#include "core/mime_types.h"
#include "core/package_password.h"
#include "core/request_resolver.h"
#include "core/zip_crypto.h"
#include "os/file_source.h"
#include "figures.h"

namespace vtl::bench {
namespace {

// Requests of this figure never reach the disk.
class NoFiles final : public FileReader {
 public:
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
};

}  // namespace

// Reads `bytes.size()` bytes at `offset` with pread(2).
void ReadAtOffset(int fd, uint64_t offset, std::span<uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("short read");
    done += static_cast<size_t>(n);
  }
}

void FigureRequest(Context& ctx, Report& report) {
  constexpr size_t kSize = 1 << 20;
  const int runs = ctx.options().Runs(31, 9);
  const std::string text = ScriptText(kSize, 23);
  const std::vector<uint8_t> archive = test::MakeZip(
      {{"app/index.html", "<p>x", true}, {"app/js/big.js", text, true}, {"app/js/stored.js", text, false}},
      kPackagePassword);
  // Every request reads its entry from the file, as the runtime does.
  test::TempDir dir;
  const auto path = dir.path() / "archive.zip";
  test::WriteFile(path, archive);
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(OpenFileSource(path));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const std::vector<RawEntry> raws = ListRawEntries(archive);
  const MimeTypeTable& types = MimeTypeTable::BuiltIn();
  NoFiles files;

  struct Kind {
    const char* label;
    const char* url;
    const RawEntry* raw;
  };
  const Kind kinds[] = {{"deflated", "file:///js/big.js?v=1", &raws.at(1)}, {"stored", "file:///js/stored.js", &raws.at(2)}};
  std::vector<uint8_t> buf(kSize, 1), rawBuf(kSize * 2, 1);
  // As in the runtime, the web view hands each body back when it is done.
  BodyPool pool;
  for (const Kind& kind : kinds) {
    const auto check = ServeRequest(kind.url, &zip, "app", "C:\\app\\", types, files);
    if (!check || check->status != 200 || check->body != text ||
        check->headers != "Content-Type: application/javascript; charset=utf-8")
      throw std::runtime_error(std::string("the request path did not answer ") + kind.url);

    const double inf = std::numeric_limits<double>::infinity();
    double served = inf, bare = inf, fresh = inf, reused = inf;
    const int64_t index = zip.FindEntry(std::string("app/js/") + (kind.raw == &raws.at(1) ? "big.js" : "stored.js"));
    std::string kept;
    kept.reserve(kSize);
    for (int i = 0; i < runs; ++i) {
      fresh = std::min(fresh, Seconds([&] {
                         std::string body;
                         zip.ExtractEntry(index, body);
                       }));
      reused = std::min(reused, Seconds([&] {
                          kept.clear();
                          zip.ExtractEntry(index, kept);
                        }));
      std::optional<WebResponse> response;
      served = std::min(served, Seconds([&] {
                          response = ServeRequest(kind.url, &zip, "app", "C:\\app\\", types, files, &pool);
                          if (!response) throw std::runtime_error("unanswered");
                        }));
      pool.Give(std::move(response->body));
      // The bare work: read the raw bytes from the file, then decrypt and
      // inflate them.
      bare = std::min(bare, Seconds([&] {
                        RawEntry raw = *kind.raw;
                        const auto offset = static_cast<uint64_t>(raw.data.data() - archive.data());
                        const std::span<uint8_t> into(rawBuf.data(), raw.data.size());
                        ReadAtOffset(fd, offset, into);
                        raw.data = into;
                        if (!BareExtract(raw, kPackagePassword, buf.data(), kSize).ok)
                          throw std::runtime_error("bare loop failed");
                      }));
    }
    const double size = static_cast<double>(kSize);
    Row row;
    row.figure = std::string("request for a ") + Bytes(size) + " " + kind.label + " entry";
    row.measured = Rate(size / served);
    row.limit = Rate(size / bare) + " (bare read+decrypt+" + (kind.raw->method == 8 ? "inflate+" : "") + "CRC)";
    row.ratio = bare / served;
    row.goal = Row::Goal::AtLeast;
    row.goalRatio = 0.8;
    row.notes = {
        std::string("request: ServeRequest(\"") + kind.url + "\") with the entry read from the file: resolve, look up, "
            "extract into a body from the pool the web view hands bodies back to, content type; best of " +
            std::to_string(runs) + ", " + Millis(served),
        "baseline: pread(2) of the entry's raw bytes, then bare extraction into a buffer touched beforehand, " +
            Millis(bare),
        "diagnostic: RuntimeZip::ExtractEntry alone into a new string " + Millis(fresh) + ", into a string reused "
            "across runs " + Millis(reused) + "; the difference is the cost of fresh pages, which the pool avoids "
            "after the first request",
    };
    report.Add(std::move(row));
  }
}

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The folder for large benchmark inputs, kept between runs: they take
// seconds to write. Never inside the repository.
std::filesystem::path CacheDir() {
  const char* cache = std::getenv("VTL_CACHE_DIR");
  const char* home = std::getenv("HOME");
  std::filesystem::path dir = cache && *cache ? std::filesystem::path(cache)
                                              : std::filesystem::path(home ? home : "/tmp") / ".cache/vantrel";
  dir /= "bench";
  std::filesystem::create_directories(dir);
  return dir;
}

// An archive of stored, encrypted entries of incompressible bytes, written
// piece by piece so that a 1 GiB entry never has to be held: each entry puts
// its CRC and sizes in a data descriptor, and its check byte repeats the
// time's high byte, as streaming writers do.
std::filesystem::path WriteStoredArchive(const std::vector<std::pair<std::string, uint64_t>>& entries) {
  std::string key;
  for (const auto& [name, size] : entries) key += name + "-" + std::to_string(size) + ";";
  const auto path = CacheDir() / ("range-" + std::to_string(std::hash<std::string>{}(key)) + ".zip");
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return path;

  const auto partial = std::filesystem::path(path.string() + ".partial");
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  constexpr uint16_t kTime = 0x6B2A, kDate = 0x5A21;
  std::string central;
  uint64_t at = 0;
  std::string chunk;
  for (size_t e = 0; e < entries.size(); ++e) {
    const auto& [name, size] = entries[e];
    const uint64_t local = at;
    std::string header;
    Put32(header, 0x04034b50u);
    Put16(header, 20);
    Put16(header, 0x0009);  // encrypted, data descriptor
    Put16(header, 0);       // stored
    Put16(header, kTime);
    Put16(header, kDate);
    Put32(header, 0);
    Put32(header, 0);
    Put32(header, 0);
    Put16(header, static_cast<uint32_t>(name.size()));
    Put16(header, 0);
    header += name;
    ZipCrypto keys(kPackagePassword);
    std::array<uint8_t, ZipCrypto::kHeaderSize> encryptionHeader;
    for (size_t i = 0; i < encryptionHeader.size(); ++i) encryptionHeader[i] = static_cast<uint8_t>(i * 37 + e);
    encryptionHeader.back() = kTime >> 8;
    keys.Encrypt(encryptionHeader);
    header.append(reinterpret_cast<const char*>(encryptionHeader.data()), encryptionHeader.size());
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    at += header.size();
    uLong crc = crc32(0, Z_NULL, 0);
    for (uint64_t done = 0; done < size;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, 1 << 20));
      chunk = NoiseBytes(n, done / (1 << 20) * 131 + e);
      auto* bytes = reinterpret_cast<uint8_t*>(chunk.data());
      crc = crc32(crc, bytes, static_cast<uInt>(n));
      keys.Encrypt({bytes, n});
      out.write(chunk.data(), static_cast<std::streamsize>(n));
      done += n;
    }
    at += size;
    const uint64_t compressed = size + ZipCrypto::kHeaderSize;
    if (compressed > 0xFFFFFFF0u) throw std::runtime_error("the benchmark's archive writer has no ZIP64");
    std::string descriptor;
    Put32(descriptor, 0x08074b50u);
    Put32(descriptor, static_cast<uint32_t>(crc));
    Put32(descriptor, static_cast<uint32_t>(compressed));
    Put32(descriptor, static_cast<uint32_t>(size));
    out.write(descriptor.data(), static_cast<std::streamsize>(descriptor.size()));
    at += descriptor.size();

    Put32(central, 0x02014b50u);
    Put16(central, 20);
    Put16(central, 20);
    Put16(central, 0x0009);
    Put16(central, 0);
    Put16(central, kTime);
    Put16(central, kDate);
    Put32(central, static_cast<uint32_t>(crc));
    Put32(central, static_cast<uint32_t>(compressed));
    Put32(central, static_cast<uint32_t>(size));
    Put16(central, static_cast<uint32_t>(name.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0);
    Put32(central, static_cast<uint32_t>(local));
    central += name;
  }
  std::string end;
  Put32(end, 0x06054b50u);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(at));
  Put16(end, 0);
  out.write(central.data(), static_cast<std::streamsize>(central.size()));
  out.write(end.data(), static_cast<std::streamsize>(end.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + partial.string());
  std::filesystem::rename(partial, path);
  return path;
}

}  // namespace

void FigureRange(Context& ctx, Report& report) {
  constexpr uint64_t kRange = 1 << 20;
  const uint64_t bigSize = ctx.quick() ? 64ull << 20 : 1ull << 30;
  const int runs = ctx.options().Runs(15, 5);
  const auto path = WriteStoredArchive({{"app/small.mp4", kRange}, {"app/big.mp4", bigSize}});
  const MimeTypeTable& types = MimeTypeTable::BuiltIn();
  NoFiles files;
  BodyPool pool;

  auto open = [&] {
    auto zip = std::make_unique<RuntimeZip>();
    zip->SetPassword(kPackagePassword);
    zip->Open(OpenFileSource(path));
    return zip;
  };
  auto serve = [&](const RuntimeZip& zip, const char* url, const std::string& range, int status) {
    auto response = ServeRequest(url, &zip, "app", "C:\\app\\", types, files, &pool, range);
    if (!response || response->status != status || response->body.size() != kRange)
      throw std::runtime_error(std::string("the range was not answered: ") + url + " " + range +
                               (response ? " " + std::to_string(response->status) + " " + response->body.substr(0, 200)
                                         : ""));
    pool.Give(std::move(response->body));
  };
  const uint64_t middle = bigSize / 2;
  auto rangeAt = [&](uint64_t first) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(first + kRange - 1);
  };

  // The page cache holds the file: both sides read it from memory.
  const auto warmUp = open();
  serve(*warmUp, "file:///small.mp4", "", 200);
  const auto fresh = open();
  const double cold = Seconds([&] { serve(*fresh, "file:///big.mp4", rangeAt(middle), 206); });
  const double inf = std::numeric_limits<double>::infinity();
  double whole = inf, warm = inf;
  for (int i = 0; i < runs; ++i) {
    whole = std::min(whole, Seconds([&] { serve(*fresh, "file:///small.mp4", "", 200); }));
    const uint64_t first = middle - (static_cast<uint64_t>(i) * 7919 * 4096) % (middle / 2);
    warm = std::min(warm, Seconds([&] { serve(*fresh, "file:///big.mp4", rangeAt(first), 206); }));
  }

  // A media element opens a video with "bytes=0-": one answer carries at
  // most kLargestPart bytes, whatever the entry's size.
  size_t opened = 0;
  const double open0 = Seconds([&] {
    auto response = ServeRequest("file:///big.mp4", fresh.get(), "app", "C:\\app\\", types, files, &pool, "bytes=0-");
    if (!response || response->status != 206) throw std::runtime_error("bytes=0- of the big entry was not answered 206");
    opened = response->body.size();
    pool.Give(std::move(response->body));
  });

  Row row;
  row.figure = "1 MiB range of a " + Bytes(static_cast<double>(bigSize)) + " stored entry";
  row.measured = Millis(warm);
  row.limit = Millis(2 * whole) + " (2 x a whole 1 MiB stored entry)";
  row.ratio = warm / (2 * whole);
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.0;
  row.notes = {
      "ServeRequest with Range \"bytes=a-b\" of 1 MiB in the entry's second half, read from the file; best of " +
          std::to_string(runs) + " ranges at different offsets; the whole 1 MiB entry " + Millis(whole),
      "the cipher's keys are kept every " + std::to_string(RuntimeZip::kKeyStep >> 20) +
          " MiB once an entry is decoded that far; the first range in the middle of an entry decoded nowhere "
          "before took " + Millis(cold) + " (x" + Fixed(cold / whole, 1) + " of the whole 1 MiB entry)",
      "\"bytes=0-\" of the " + Bytes(static_cast<double>(bigSize)) + " entry, as a video element opens it: " +
          Bytes(static_cast<double>(opened)) + " answered in " + Millis(open0) + " (the most one answer carries)",
      "fixture " + path.string() + " (kept between runs)",
  };
  report.Add(std::move(row));
}

void FigureMimeLookup(Context& ctx, Report& report) {
  const MimeTypeTable& types = MimeTypeTable::BuiltIn();
  constexpr std::array<std::string_view, 8> kNames = {"index.html", "js/app.js", "css/site.css", "img/logo.PNG",
                                                      "fonts/a.woff2", "data.json", "README", "C:\\x\\y.svg"};
  const long calls = ctx.quick() ? 200000 : 2000000;
  size_t sink = 0;
  double best = std::numeric_limits<double>::infinity();
  for (int run = 0; run < ctx.options().Runs(5, 3); ++run) {
    best = std::min(best, Seconds([&] {
                      for (long i = 0; i < calls; ++i) sink += types.Find(kNames[static_cast<size_t>(i) % kNames.size()]).size();
                    }));
  }
  if (sink == 0) throw std::runtime_error("no types found");
  const double perCall = best / static_cast<double>(calls);
  Row row;
  row.figure = "content type of a file name";
  row.measured = Fixed(perCall * 1e9, 1) + " ns/call";
  row.limit = "1000 ns/call (budget)";
  row.ratio = perCall / 1e-6;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.0;
  row.notes = {"MimeTypeTable::Find over " + std::to_string(kNames.size()) + " names in turn, " + std::to_string(calls) +
               " calls per run, best run"};
  report.Add(std::move(row));
}

}  // namespace vtl::bench
