#pragma once

// Inputs for the benchmarks, made in the run: a packaged application on disk
// (runtime image plus encrypted archive) and script-like text that deflates
// about as well as real web code.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/exe_utils.h"
#include "core/runtime_zip.h"
#include "core/settings.h"

namespace vtl::bench {

// Text that reads like minified-ish JavaScript: keywords, identifiers drawn
// from a vocabulary, numbers, string literals, indentation. Deterministic for
// a given seed.
std::string ScriptText(size_t bytes, uint64_t seed);

// Bytes that do not compress (as images and fonts do not).
std::string NoiseBytes(size_t bytes, uint64_t seed);

struct PackageFile {
  std::filesystem::path path;
  uint64_t fileSize = 0;
  uint64_t archiveOffset = 0;
  size_t entries = 0;
  std::string appName;  // the [App] Name written to vtl.ini, to check a load
};

// Writes `dir/name`: a runtime image followed by an archive of about
// `archiveBytes`, encrypted with the package password. Most of it is stored
// incompressible assets; a few percent is deflated script and markup; and a
// vtl.ini.
PackageFile WritePackage(const std::filesystem::path& dir, const std::string& name, uint64_t archiveBytes);

// What the runtime holds after loading a package: the archive read in place
// from the open file, the open reader and the settings.
struct LoadedPackage {
  std::shared_ptr<const ByteSource> archive;
  RuntimeZip zip;
  AppSettings settings;
};

// Times of the stages of one load, in seconds.
struct LoadStages {
  double offset = 0, file = 0, open = 0, settings = 0;
};

// The runtime's start-up path: find the archive, open the file, open the
// archive in place with the package password (end records and central
// directory), read vtl.ini and the [App] settings.
std::unique_ptr<LoadedPackage> LoadPackage(const std::filesystem::path& path, LoadStages* stages = nullptr);

}  // namespace vtl::bench
