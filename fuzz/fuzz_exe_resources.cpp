// The packer's readers of outside files: an image's resource tree, icon
// groups and version information, rebuilt and written back as for packing;
// and icon files (.ico, PNG).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "exe_info.h"
#include "pe_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  try {
    vtl::pack::PeImage image(bytes);
    auto resources = image.ReadResources();
    vtl::pack::ReadIconGroups(resources);
    vtl::pack::ReadVersionInfo(resources);
    vtl::pack::ExeInfo info;
    info.strings = {{"CompanyName", "fuzz"}};
    try {
      vtl::pack::UpdateExeInfo(resources, info);
    } catch (const vtl::Error&) {
    }
    image.WriteResources(resources);
    vtl::pack::PeImage again(image.Bytes());
    again.ReadResources();
  } catch (const vtl::Error&) {
  }
  try {
    vtl::pack::LoadIconBytes(bytes, "fuzz");
  } catch (const vtl::Error&) {
  }
  return 0;
}
