#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace vtl::win32 {

// The running executable's file.
std::filesystem::path RunningModulePath();

// The running executable's headers as the loader mapped them: from the DOS
// header to the end of the mapped header page(s).
std::span<const uint8_t> RunningModuleHeaders();

}  // namespace vtl::win32
