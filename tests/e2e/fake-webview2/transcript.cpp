#include "transcript.h"

#include <windows.h>
#include <bcrypt.h>

#include "unique_handle.h"
#include "win32/text.h"

namespace vtl::fake {
namespace {

using File = e2e::UniqueHandle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

std::string EscapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    switch (field[++i]) {
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      default: out += field[i];  // "\\" and anything unknown
    }
  }
  return out;
}

std::string FormatLine(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (auto f : fields) {
    if (!first) line += '\t';
    first = false;
    line += EscapeField(f);
  }
  return line + '\n';
}

TranscriptLine ParseLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  TranscriptLine fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.push_back(UnescapeField(line.substr(0, tab)));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

bool AppendLine(const std::string& path, std::initializer_list<std::string_view> fields) {
  return AppendLines(path, FormatLine(fields));
}

bool AppendLines(const std::string& path, std::string_view lines) {
  const std::wstring widePath = win32::Widen(path);
  // Another process may hold the file for a moment (a reader, a virus
  // scanner on Windows); try a few times.
  for (int attempt = 0; attempt < 50; ++attempt) {
    File f(CreateFileW(widePath.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr));
    if (!f) {
      Sleep(10);
      continue;
    }
    DWORD written = 0;
    return WriteFile(f.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
           written == lines.size();
  }
  return false;
}

std::vector<TranscriptLine> ReadTranscript(const std::string& path) {
  std::vector<TranscriptLine> lines;
  File f(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return lines;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    lines.push_back(ParseLine(std::string_view(bytes).substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[32] = {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
    BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
               static_cast<ULONG>(bytes.size()), digest, sizeof digest);
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

}  // namespace vtl::fake
