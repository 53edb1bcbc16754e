#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vtl::pack {

struct PackOptions {
  std::filesystem::path projectDir;
  std::filesystem::path output;
  std::filesystem::path runtime;    // the runtime executable; must carry no archive
  std::filesystem::path loader;     // becomes WebView2LoaderWin64.dll
  std::filesystem::path installer;  // optional; becomes WebView2Installer.exe
};

// One file that goes into the package.
struct PackEntry {
  std::string name;              // entry name in the archive, "/" separated
  std::filesystem::path source;  // file on disk
  uint64_t size = 0;
};

// Told the bytes done so far and the total, while the archive is written and
// appended.
using Progress = std::function<void(uint64_t done, uint64_t total)>;

struct PackResult {
  size_t entries = 0;
  uint64_t archiveSize = 0;
  uint64_t outputSize = 0;
};

// Lists what a project folder puts into a package, in archive order. Raises
// vtl::Error with a clear message when the project is not usable.
std::vector<PackEntry> CollectEntries(const PackOptions& options);

// Builds the packaged executable at options.output: the runtime with the
// encrypted archive appended. Writes to temporary files beside the output and
// renames at the end, so a failure leaves nothing behind.
PackResult Pack(const PackOptions& options, const Progress& progress = {});

// Extensions whose files are already compressed and are stored as they are.
bool IsStoredUncompressed(std::string_view entryName);

}  // namespace vtl::pack
