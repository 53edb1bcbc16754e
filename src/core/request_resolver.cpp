#include "core/request_resolver.h"

#include <algorithm>
#include <span>

#include "core/mime_types.h"
#include "core/runtime_zip.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

constexpr std::string_view kFilePrefix = "file:///";

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  for (size_t hit; (hit = text.find(from, at)) != std::string_view::npos; at = hit + from.size()) {
    out.append(text, at, hit - at);
    out.append(to);
  }
  out.append(text, at);
  return out;
}

constexpr std::string_view kWasmType = "application/wasm";

// Every type carries "; charset=utf-8", except WebAssembly: the engine
// compiles a module while it streams in only when the type is exactly
// "application/wasm", and refuses it with any parameter.
std::string ContentTypeHeader(std::string_view type) {
  if (type == kWasmType) return "Content-Type: " + std::string(type);
  return "Content-Type: " + std::string(type) + "; charset=utf-8";
}

// A path with a drive ("C:/...") or a server ("//server/share") names a file
// the web view may still find itself; anything else is a path inside the
// package.
bool IsPackagePath(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z')) return false;
  return path.empty() || (path.front() != '/' && path.front() != '\\');
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal number of at most 19 digits; nothing for anything else.
std::optional<uint64_t> Number(std::string_view s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return n;
}

// The headers of a 206 or 416 answer, after the content type.
std::string RangeHeaders(const WebResponse& response, std::string_view contentRange) {
  return response.headers + "\r\nContent-Range: bytes " + std::string(contentRange) + "\r\nAccept-Ranges: bytes";
}

void MakePartial(WebResponse& response, const RangeRequest& range, uint64_t size) {
  response.status = 206;
  response.reason = "Partial Content";
  response.headers = RangeHeaders(response, std::to_string(range.first) + "-" +
                                                std::to_string(range.first + range.count - 1) + "/" +
                                                std::to_string(size));
}

void MakeUnsatisfiable(WebResponse& response, uint64_t size) {
  response.status = 416;
  response.reason = "Range Not Satisfiable";
  response.headers = RangeHeaders(response, "*/" + std::to_string(size));
  response.body.clear();
}

// The range to answer: at most kLargestPart bytes from its start.
RangeRequest AnsweredRange(std::string_view header, uint64_t size) {
  RangeRequest range = ParseRange(header, size);
  if (range.kind == RangeRequest::Kind::Part) range.count = std::min(range.count, kLargestPart);
  return range;
}

// Cuts a whole body down to what the range asks for.
void ApplyRange(WebResponse& response, std::string_view header) {
  const uint64_t size = response.body.size();
  const RangeRequest range = AnsweredRange(header, size);
  if (range.kind == RangeRequest::Kind::Unsatisfiable) return MakeUnsatisfiable(response, size);
  if (range.kind != RangeRequest::Kind::Part) return;
  response.body.erase(0, static_cast<size_t>(range.first));
  response.body.resize(static_cast<size_t>(range.count));
  MakePartial(response, range, size);
}

}  // namespace

std::optional<ResolvedRequest> ResolveRequest(std::string_view uri, std::string_view appDirName,
                                              std::string_view appDirPath, const MimeTypeTable& mimeTypes) {
  if (uri.size() < kFilePrefix.size() || !AsciiIEquals(uri.substr(0, kFilePrefix.size()), kFilePrefix))
    return std::nullopt;

  ResolvedRequest r;
  r.absolutePath = ReplaceAll(uri, kFilePrefix, "");
  std::string_view path = r.absolutePath;
  if (const size_t query = path.find('?'); query != std::string_view::npos) path = path.substr(0, query);
  r.path = ReplaceAll(path, "%20", " ");

  // The type comes from the file name after the last backslash or colon;
  // forward slashes do not end it.
  const size_t nameStart = r.path.find_last_of("\\:");
  const std::string_view fileName =
      nameStart == std::string::npos ? std::string_view(r.path) : std::string_view(r.path).substr(nameStart + 1);
  r.contentType = std::string(mimeTypes.Find(fileName));
  if (const size_t dot = r.path.rfind('.'); dot != std::string::npos && AsciiLower(r.path.substr(dot)) == ".js")
    r.contentType = "application/javascript";

  if (!appDirName.empty()) r.entryName = std::string(appDirName) + "/" + r.path;
  r.besideExe = std::string(appDirPath) + ReplaceAll(r.path, "/", "\\");
  return r;
}

std::string BodyPool::Take() {
  const std::lock_guard guard(lock_);
  if (kept_.empty()) return {};
  std::string body = std::move(kept_.back());
  kept_.pop_back();
  keptBytes_ -= body.capacity();
  body.clear();
  return body;
}

void BodyPool::Give(std::string body) {
  const size_t bytes = body.capacity();
  const std::lock_guard guard(lock_);
  if (bytes > maxBytes_ - keptBytes_) return;  // freed here instead
  keptBytes_ += bytes;
  kept_.push_back(std::move(body));
}

RangeRequest ParseRange(std::string_view header, uint64_t size) {
  RangeRequest whole;
  header = Trim(header);
  const size_t equals = header.find('=');
  if (equals == std::string_view::npos || !AsciiIEquals(Trim(header.substr(0, equals)), "bytes")) return whole;
  const std::string_view set = Trim(header.substr(equals + 1));
  if (set.find(',') != std::string_view::npos) return whole;  // several ranges: the whole body
  const size_t dash = set.find('-');
  if (dash == std::string_view::npos) return whole;
  const std::string_view from = Trim(set.substr(0, dash)), to = Trim(set.substr(dash + 1));

  RangeRequest r;
  r.kind = RangeRequest::Kind::Part;
  if (from.empty()) {  // the last n bytes
    const auto n = Number(to);
    if (!n) return whole;
    if (*n == 0 || size == 0) return {RangeRequest::Kind::Unsatisfiable, 0, 0};
    r.count = std::min(*n, size);
    r.first = size - r.count;
    return r;
  }
  const auto first = Number(from);
  if (!first) return whole;
  std::optional<uint64_t> last;
  if (!to.empty()) {
    last = Number(to);
    if (!last || *last < *first) return whole;  // not a valid range: ignored
  }
  if (*first >= size) return {RangeRequest::Kind::Unsatisfiable, 0, 0};
  r.first = *first;
  r.count = (last && *last < size ? *last + 1 : size) - *first;
  return r;
}

std::optional<WebResponse> ServeRequest(std::string_view uri, const RuntimeZip* zip, std::string_view appDirName,
                                        std::string_view appDirPath, const MimeTypeTable& mimeTypes,
                                        FileReader& files, BodyPool* pool, std::string_view rangeHeader) {
  const auto resolved = ResolveRequest(uri, appDirName, appDirPath, mimeTypes);
  if (!resolved) return std::nullopt;

  WebResponse response;
  if (pool) response.body = pool->Take();
  response.headers = ContentTypeHeader(resolved->contentType);
  if (zip && !resolved->entryName.empty()) {
    if (const int64_t index = zip->FindEntry(resolved->entryName); index >= 0) {
      std::string error;
      const uint64_t size = zip->Entry(static_cast<size_t>(index)).size;
      const RangeRequest range = AnsweredRange(rangeHeader, size);
      bool ok = false;
      if (range.kind == RangeRequest::Kind::Whole) {
        ok = zip->ExtractEntry(index, response.body, &error);
      } else if (range.kind == RangeRequest::Kind::Unsatisfiable) {
        MakeUnsatisfiable(response, size);
        return response;
      } else {
        response.body.reserve(static_cast<size_t>(range.count));
        ok = zip->ExtractRange(
            index, range.first, range.count,
            [&](std::span<const uint8_t> chunk) {
              response.body.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
              return true;
            },
            &error);
        if (ok && response.body.size() != range.count) {
          ok = false;
          error = "the entry's size does not match its header";
        }
        if (ok) MakePartial(response, range, size);
      }
      if (ok) return response;
      // The page must not be told that a broken file is fine.
      response.status = 500;
      response.reason = "Internal Server Error";
      response.headers = ContentTypeHeader("text/plain");
      response.body = "The package file \"" + resolved->entryName + "\" cannot be read: " + error;
      return response;
    }
  }
  if (files.ReadWholeFile(resolved->besideExe, response.body) ||
      files.ReadWholeFile(resolved->absolutePath, response.body)) {
    ApplyRange(response, rangeHeader);
    return response;
  }
  if (pool) pool->Give(std::move(response.body));
  if (!IsPackagePath(resolved->path)) return std::nullopt;
  // A page asking for a file its package lacks sees a failed answer it can
  // test (fetch's response.ok), not a network error.
  WebResponse missing;
  missing.status = 404;
  missing.reason = "Not Found";
  missing.headers = ContentTypeHeader("text/plain");
  missing.body = "The file \"" + resolved->path + "\" is not in the package.";
  return missing;
}

}  // namespace vtl
