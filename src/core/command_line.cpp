#include "core/command_line.h"

namespace vtl {

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> items;
  size_t i = 0;
  // Every byte of a multi-byte UTF-8 sequence is above 0x7F, so separators
  // and quotes can be found byte by byte.
  auto separator = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= 0x20; };
  while (i < s.size()) {
    while (i < s.size() && separator(s[i])) ++i;
    if (i >= s.size() || s[i] == '\0') break;
    std::string item;
    bool quoted = false;
    for (; i < s.size() && s[i] != '\0' && (quoted || !separator(s[i])); ++i) {
      if (s[i] == '"')
        quoted = !quoted;
      else
        item += s[i];
    }
    if (!item.empty()) items.push_back(std::move(item));
  }
  return items;
}

std::vector<std::string> CommandLineArguments(std::string_view commandLine) {
  auto items = SplitCommandLine(commandLine);
  if (!items.empty()) items.erase(items.begin());
  return items;
}

}  // namespace vtl
