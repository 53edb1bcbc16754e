#include "core/request_resolver.h"

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

std::optional<WebResponse> ServeRequest(std::string_view uri, const RuntimeZip* zip, std::string_view appDirName,
                                        std::string_view appDirPath, const MimeTypeTable& mimeTypes,
                                        FileReader& files, BodyPool* pool) {
  const auto resolved = ResolveRequest(uri, appDirName, appDirPath, mimeTypes);
  if (!resolved) return std::nullopt;

  WebResponse response;
  if (pool) response.body = pool->Take();
  response.headers = ContentTypeHeader(resolved->contentType);
  if (zip && !resolved->entryName.empty()) {
    if (const int64_t index = zip->FindEntry(resolved->entryName); index >= 0) {
      std::string error;
      if (zip->ExtractEntry(index, response.body, &error)) return response;
      // The page must not be told that a broken file is fine.
      response.status = 500;
      response.reason = "Internal Server Error";
      response.headers = ContentTypeHeader("text/plain");
      response.body = "The package file \"" + resolved->entryName + "\" cannot be read: " + error;
      return response;
    }
  }
  if (files.ReadWholeFile(resolved->besideExe, response.body)) return response;
  if (files.ReadWholeFile(resolved->absolutePath, response.body)) return response;
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
