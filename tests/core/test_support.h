#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vtl::test {

struct SectionSpec {
  uint32_t pointerToRawData;
  uint32_t sizeOfRawData;
};

// A minimal PE image: DOS header, PE signature, file header, an optional
// header of `optionalHeaderSize` bytes and one header per section. The file is
// padded with zeros up to the end of the last section's raw data, so it ends
// exactly where its image ends.
std::vector<uint8_t> MakePeImage(const std::vector<SectionSpec>& sections, uint16_t optionalHeaderSize = 240,
                                 uint32_t peOffset = 0x80);

// A standard image: three sections, ending at 0x1000 + 3 * 0x200.
std::vector<uint8_t> MakeRuntimeImage();

struct ZipFile {
  std::string name;
  std::string data;
  bool deflate = true;
};

// An archive written with libzip, every entry encrypted with `password`
// (traditional PKWARE) unless the password is empty.
std::vector<uint8_t> MakeZip(const std::vector<ZipFile>& files, std::string_view password);

void WriteFile(const std::filesystem::path& p, std::string_view bytes);
void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes);
std::string ReadFile(const std::filesystem::path& p);

// A fresh empty folder under the system's temporary folder, removed at exit
// of the test that made it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a command line through the shell, capturing stdout and stderr.
RunResult RunCommand(const std::string& commandLine);

std::string Quote(const std::filesystem::path& p);

}  // namespace vtl::test
