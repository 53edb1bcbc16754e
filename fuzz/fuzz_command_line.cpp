// The command-line splitter over arbitrary text: items are never empty and
// never keep a quote; joining them back quoted splits to the same items.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto items = vtl::SplitCommandLine(line);
  std::string joined;
  for (const auto& item : items) {
    if (item.empty() || item.find('"') != std::string::npos || item.find('\0') != std::string::npos) {
      std::fprintf(stderr, "fuzz_command_line: bad item\n");
      std::abort();
    }
    joined += "\"" + item + "\" ";
  }
  if (vtl::SplitCommandLine(joined) != items) {
    std::fprintf(stderr, "fuzz_command_line: quoting the items does not give them back\n");
    std::abort();
  }
  return 0;
}
