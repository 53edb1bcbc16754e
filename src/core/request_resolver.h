#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtl {

class MimeTypeTable;
class RuntimeZip;

// Where a file: address of the web view is looked for, in order: the
// package's web folder, the executable's folder, then the address taken as
// an absolute path.
struct ResolvedRequest {
  std::string path;          // the address without "file:///" and query, "%20" decoded
  std::string contentType;   // the type for the Content-Type header, without the charset
  std::string entryName;     // "DirName/path" in the archive; empty without a DirName
  std::string besideExe;     // the executable's folder + path with backslashes
  std::string absolutePath;  // the address without "file:///", query and escapes kept
};

// Nothing when the address is not a file:/// address.
std::optional<ResolvedRequest> ResolveRequest(std::string_view uri, std::string_view appDirName,
                                              std::string_view appDirPath, const MimeTypeTable& mimeTypes);

// Reads files beside the executable or at absolute paths.
class FileReader {
 public:
  virtual ~FileReader() = default;
  // True and the whole file in `out` when the file exists and was read.
  virtual bool ReadWholeFile(const std::string& path, std::string& out) = 0;
};

// The answer to one request.
struct WebResponse {
  int status = 200;
  std::string reason = "OK";
  std::string headers;  // "Content-Type: TYPE; charset=utf-8" ("application/wasm" alone)
  std::string body;
};

// Response bodies kept for reuse. The web view hands a body back when it is
// done with it, and a later request fills the same memory instead of
// faulting in fresh pages. Safe to use from any thread.
class BodyPool {
 public:
  explicit BodyPool(size_t maxBytes = size_t{8} << 20) : maxBytes_(maxBytes) {}
  // An empty string, with the capacity of a body given back when there is one.
  std::string Take();
  // Keeps the body's memory while all kept bodies stay within the limit.
  void Give(std::string body);

 private:
  std::mutex lock_;
  std::vector<std::string> kept_;
  size_t keptBytes_ = 0;
  const size_t maxBytes_;
};

// What a request's Range header asks of a representation of a known size,
// by the byte ranges of HTTP ("bytes=a-b", "bytes=a-", "bytes=-n").
struct RangeRequest {
  enum class Kind {
    Whole,          // no Range, one that cannot be parsed, another unit, or several ranges: answer 200
    Part,           // answer 206 with [first, first + count)
    Unsatisfiable,  // answer 416
  };
  Kind kind = Kind::Whole;
  uint64_t first = 0, count = 0;
};
RangeRequest ParseRange(std::string_view header, uint64_t size);

// The most bytes one 206 answer carries.
inline constexpr uint64_t kLargestPart = 16ull << 20;

// Answers a file:/// request from the archive, then the executable's folder,
// then the absolute path. A package path (no drive, no server) found nowhere
// is answered with status 404. Nothing when the address is not ours, or when
// an address with a drive or server names no file we can read: the web view
// then loads it itself. An entry that exists but cannot be decoded is
// answered with status 500, never with a broken 200.
// The body comes from `pool` when one is given.
//
// `range` is the request's Range header, empty when it has none. A single
// satisfiable range is answered with 206, Content-Range and Accept-Ranges
// and only its bytes (an archive entry is decoded no further than the
// range), at most kLargestPart of them: a media element opens a video with
// "bytes=0-" and asks for the rest as it plays, so a large file is never
// built whole in memory; Content-Range says what was sent. A range that
// starts past the end is answered with 416. A request with several
// ranges gets the whole body with 200, which HTTP allows (a server may
// ignore Range), and which no media element asks for.
std::optional<WebResponse> ServeRequest(std::string_view uri, const RuntimeZip* zip, std::string_view appDirName,
                                        std::string_view appDirPath, const MimeTypeTable& mimeTypes,
                                        FileReader& files, BodyPool* pool = nullptr, std::string_view range = {});

}  // namespace vtl
