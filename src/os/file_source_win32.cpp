#include <windows.h>

#include <string>

#include "core/errors.h"
#include "os/file_source.h"

namespace vtl {
namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"System error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.'))
    message.pop_back();
  return Utf8(message);
}

class Win32FileSource final : public ByteSource {
 public:
  Win32FileSource(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  ~Win32FileSource() override { CloseHandle(file_); }
  Win32FileSource(const Win32FileSource&) = delete;
  Win32FileSource& operator=(const Win32FileSource&) = delete;

  uint64_t Size() const override { return size_; }

  // Each read names its offset, so reads from several threads need no lock.
  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error) const override {
    size_t done = 0;
    while (done < bytes.size()) {
      const uint64_t at = offset + done;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(file_, bytes.data() + done, want, &got, &where)) {
        const DWORD code = GetLastError();
        if (error) *error = code == ERROR_HANDLE_EOF ? "the file ended early" : "read error: " + ErrorText(code);
        return false;
      }
      if (got == 0) {
        if (error) *error = "the file ended early";
        return false;
      }
      done += got;
    }
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_;
};

}  // namespace

std::shared_ptr<const ByteSource> OpenFileSource(const std::filesystem::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size{};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
    const DWORD code = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    const auto u8 = path.u8string();
    throw EFOpenError("Cannot open file \"" + std::string(u8.begin(), u8.end()) + "\". " + ErrorText(code));
  }
  return std::make_shared<Win32FileSource>(file, static_cast<uint64_t>(size.QuadPart));
}

}  // namespace vtl
