#pragma once

// The files `vtlpack new` writes, built into vtlpack from examples/ and types/.

#include <string_view>
#include <vector>

namespace vtl::pack {

struct EmbeddedFile {
  std::string_view group;  // "hello", "showcase" (the templates), or "types"
  std::string_view path;   // "/" separated, inside its group
  std::string_view bytes;
};

const std::vector<EmbeddedFile>& EmbeddedFiles();

}  // namespace vtl::pack
