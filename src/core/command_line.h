#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vtl {

// Splits a command line into its items, the program first. Characters from
// U+0001 to U+0020 separate items; a double quote starts or ends a quoted
// stretch in which they belong to the item, and the quotes are dropped. An
// item that comes out empty ("") is no item.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The arguments: the items after the program.
std::vector<std::string> CommandLineArguments(std::string_view commandLine);

}  // namespace vtl
