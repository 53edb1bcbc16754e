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
  // The program's own icon and version information, by the keys of the
  // project's [Package] section (PackageKeys()); these override the section.
  // An Icon given here is a path as it stands, one in the section counts from
  // the project folder.
  std::vector<std::pair<std::string, std::string>> package;
};

// The keys of vtl.ini's [Package] section, which only the packer reads, and
// the command-line options that override them.
struct PackageKey {
  const char* key;     // in [Package]; the version resource's own name for its strings
  const char* option;  // the command-line option
};
const std::vector<PackageKey>& PackageKeys();

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
  bool signatureRemoved = false;  // the runtime was signed; its signature is gone
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
