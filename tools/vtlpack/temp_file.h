#pragma once

#include <filesystem>
#include <string>

namespace vtl::pack {

// A temporary file beside a final output. It is removed when the object goes
// out of scope (or the process is interrupted) unless Commit renamed it onto
// the output.
class TempFile {
 public:
  explicit TempFile(const std::filesystem::path& finalPath, const char* tag);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void Commit();

 private:
  std::filesystem::path path_;
  std::filesystem::path final_;
  std::string narrow_;  // what the interrupt handler removes
  bool committed_ = false;
};

// Removes every live temporary file when the process is interrupted.
void InstallTempFileCleanup();

}  // namespace vtl::pack
