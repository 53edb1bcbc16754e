#pragma once

#include <filesystem>
#include <memory>

#include "core/byte_source.h"

namespace vtl {

// Opens a file for reading at offsets; it stays open as long as the source
// lives. Others may still read, write, rename and delete the file meanwhile
// (on Windows: shared for reading, writing and deletion), so an updater can
// replace a running program's file; a read that then finds the bytes gone
// fails, and says so. Raises EFOpenError ("Cannot open file "%s". %s").
//
// The POSIX build reads with pread, the Windows build with ReadFile at
// offsets; CMake picks the file.
std::shared_ptr<const ByteSource> OpenFileSource(const std::filesystem::path& path);

}  // namespace vtl
