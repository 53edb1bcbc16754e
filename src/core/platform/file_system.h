#pragma once

// Files and folders as the bridge commands reach them. Paths are UTF-8 in the
// platform's own form (drive letters, backslashes); the commands resolve them
// before they get here.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vtl {

// A file opened for writing; closed when destroyed.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Raises EInOutError with the system's message when the bytes cannot be written.
  virtual void Write(std::span<const uint8_t> bytes) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // A file, not a folder, following a symbolic link; false when the path cannot be read.
  virtual bool FileExists(const std::string& path) = 0;
  // A folder, following a symbolic link.
  virtual bool DirectoryExists(const std::string& path) = 0;
  // True when the system reports the file deleted.
  virtual bool RemoveFile(const std::string& path) = 0;
  // The shell's delete of whatever the path names (a folder with its contents,
  // a file, wildcards in the last part), silently and not to the recycle bin.
  virtual bool DeleteDirectory(const std::string& path) = 0;
  // Creates the folder and every missing parent; false when that fails.
  virtual bool ForceDirectories(const std::string& path) = 0;
  // Creates or replaces the file, with exclusive access. Raises EFCreateError
  // ("Cannot create file "%s". %s") when it cannot be created.
  virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) = 0;
};

}  // namespace vtl
