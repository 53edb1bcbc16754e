#pragma once

// The program's own icon and version information, written into the
// resources of the runtime's image (ChangeExeIcon, UpdateExeInfo) and read
// back from a packaged file (vtlpack info).

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "pe_edit.h"

namespace vtl::pack {

// One image of an icon, as an .ico file or an icon resource holds it: a PNG
// stream or a device-independent bitmap with its mask.
struct IconImage {
  uint16_t width = 0, height = 0;  // 256 is stored as 0
  uint8_t colors = 0;
  uint16_t planes = 1, bitCount = 32;
  std::vector<uint8_t> data;
};

// The sizes made from a PNG.
inline constexpr std::array<uint16_t, 7> kIconSizes = {16, 24, 32, 48, 64, 128, 256};

// Reads an .ico file (any sizes) or a PNG of at least 256 × 256 pixels,
// recognised by their contents. From a PNG every size of kIconSizes is made.
// Raises vtl::Error with one line naming the file and the fault.
std::vector<IconImage> LoadIconFile(const std::filesystem::path& file);
std::vector<IconImage> LoadIconBytes(const std::vector<uint8_t>& bytes, const std::string& name);

// Replaces the program's icon group (the one named MAINICON, which the
// runtime's windows and tray load, and which Explorer takes as the first
// group) and its images.
void ChangeExeIcon(std::vector<Resource>& resources, const std::vector<IconImage>& icon);

// Version information: four numbers of at most 65535.
using FileVersion = std::array<uint16_t, 4>;
// Parses "1.2.3.4"; raises vtl::Error naming `option` otherwise.
FileVersion ParseFileVersion(std::string_view text, std::string_view option);
std::string VersionText(const FileVersion& v);

struct ExeInfo {
  FileVersion fileVersion{1, 0, 0, 0};
  FileVersion productVersion{1, 0, 0, 0};
  // Keys of the string table and their values, UTF-8. Keys the template has
  // and this list does not name become empty.
  std::vector<std::pair<std::string, std::string>> strings;
};

// A string longer than the template's placeholder for it.
struct ValueTooLong : Error {
  ValueTooLong(std::string k, size_t len, size_t lim)
      : Error(k + " is " + std::to_string(len) + " characters long; at most " + std::to_string(lim) + " fit"),
        key(std::move(k)), length(len), limit(lim) {}
  std::string key;
  size_t length, limit;
};

// Rewrites the version resource from the runtime's template: the fixed file
// information, and every string of its string table. A value longer than
// its placeholder raises vtl::Error naming the key and the limit.
void UpdateExeInfo(std::vector<Resource>& resources, const ExeInfo& info);

// What a packaged file says about itself.
struct IconGroupInfo {
  std::string name;
  std::vector<std::pair<uint16_t, uint16_t>> sizes;  // width, height (256 as 256)
  std::vector<uint16_t> bitCounts;
};
struct VersionReport {
  bool present = false;
  std::string fileVersion, productVersion;  // from the fixed file information
  std::vector<std::pair<std::string, std::string>> strings;
};
std::vector<IconGroupInfo> ReadIconGroups(const std::vector<Resource>& resources);
VersionReport ReadVersionInfo(const std::vector<Resource>& resources);

}  // namespace vtl::pack
