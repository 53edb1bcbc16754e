#include "win32/module_image.h"

#include <windows.h>

#include <string>

namespace vtl::win32 {

std::filesystem::path RunningModulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
  }
}

std::span<const uint8_t> RunningModuleHeaders() {
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  MEMORY_BASIC_INFORMATION info{};
  if (!base || VirtualQuery(base, &info, sizeof info) == 0) return {};
  // The headers occupy the first region of the image, which is mapped
  // read-only as a whole.
  const auto regionEnd = reinterpret_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
  return {base, static_cast<size_t>(regionEnd - base)};
}

}  // namespace vtl::win32
