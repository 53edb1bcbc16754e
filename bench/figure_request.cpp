// Answering a web view request for a package file through the core's request
// path (resolve the address, look the entry up, extract it, pick the type),
// against the bare extraction of the same entry; and the content-type lookup.

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <stdexcept>

#include "bare_extract.h"
#include "core/mime_types.h"
#include "core/package_password.h"
#include "core/request_resolver.h"
#include "figures.h"

namespace vtl::bench {
namespace {

// Requests of this figure never reach the disk.
class NoFiles final : public FileReader {
 public:
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
};

}  // namespace

void FigureRequest(Context& ctx, Report& report) {
  constexpr size_t kSize = 1 << 20;
  const int runs = ctx.options().Runs(31, 9);
  const std::string text = ScriptText(kSize, 23);
  const std::vector<uint8_t> archive = test::MakeZip(
      {{"app/index.html", "<p>x", true}, {"app/js/big.js", text, true}, {"app/js/stored.js", text, false}},
      kPackagePassword);
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(archive);
  const std::vector<RawEntry> raws = ListRawEntries(archive);
  const MimeTypeTable& types = MimeTypeTable::BuiltIn();
  NoFiles files;

  struct Kind {
    const char* label;
    const char* url;
    const RawEntry* raw;
  };
  const Kind kinds[] = {{"deflated", "file:///js/big.js?v=1", &raws.at(1)}, {"stored", "file:///js/stored.js", &raws.at(2)}};
  std::vector<uint8_t> buf(kSize, 1);
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
      bare = std::min(bare, Seconds([&] {
                        if (!BareExtract(*kind.raw, kPackagePassword, buf.data(), kSize).ok)
                          throw std::runtime_error("bare loop failed");
                      }));
    }
    const double size = static_cast<double>(kSize);
    Row row;
    row.figure = std::string("request for a ") + Bytes(size) + " " + kind.label + " entry";
    row.measured = Rate(size / served);
    row.limit = Rate(size / bare) + " (bare decrypt+" + (kind.raw->method == 8 ? "inflate+" : "") + "CRC)";
    row.ratio = bare / served;
    row.goal = Row::Goal::AtLeast;
    row.goalRatio = 0.8;
    row.notes = {
        std::string("request: ServeRequest(\"") + kind.url + "\") from the archive in memory: resolve, look up, "
            "extract into a body from the pool the web view hands bodies back to, content type; best of " +
            std::to_string(runs) + ", " + Millis(served),
        "baseline: bare extraction of the same entry into a buffer touched beforehand, " + Millis(bare),
        "diagnostic: RuntimeZip::ExtractEntry alone into a new string " + Millis(fresh) + ", into a string reused "
            "across runs " + Millis(reused) + "; the difference is the cost of fresh pages, which the pool avoids "
            "after the first request",
    };
    report.Add(std::move(row));
  }
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
