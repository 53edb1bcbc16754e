#include "core/bridge/app_path.h"

namespace vtl {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "\\server\share": two backslashes, a server name, a backslash and a share name.
bool HasUncPrefix(std::string_view path) {
  if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') return false;
  const size_t serverEnd = path.find('\\', 2);
  return serverEnd != std::string_view::npos && serverEnd > 2 && serverEnd + 1 < path.size() &&
         path[serverEnd + 1] != '\\';
}

}  // namespace

bool HasDrivePart(std::string_view path) {
  return (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') || HasUncPrefix(path);
}

std::string ResolveAppPath(std::string_view path, std::string_view appDir) {
  if (HasDrivePart(path)) return std::string(path);
  std::string resolved(appDir);
  resolved.reserve(appDir.size() + path.size());
  for (const char c : path) resolved += c == '/' ? '\\' : c;
  return resolved;
}

std::string ExtractFilePath(std::string_view path) {
  const size_t at = path.find_last_of("\\/:");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

}  // namespace vtl
