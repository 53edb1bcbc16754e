// Request addresses of the web view: resolving and serving never fail on any
// text, only the package's web folder is looked up in the archive, and every
// answer carries the charset.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime_types.h"
#include "core/package_password.h"
#include "core/request_resolver.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace {

class NoFiles : public vtl::FileReader {
 public:
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
};

const vtl::RuntimeZip& Package() {
  static const auto bytes = vtl::test::MakeZip(
      {{"vtl.ini", "[App]\nPassword=secret\n"}, {"app/index.html", "<p>"}, {"app/js/a.js", "1"}},
      vtl::kPackagePassword);
  static vtl::RuntimeZip zip;
  static const bool opened = [] {
    zip.SetPassword(vtl::kPackagePassword);
    zip.Open(bytes);
    return true;
  }();
  (void)opened;
  return zip;
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_request: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view uri(reinterpret_cast<const char*>(data), size);
  NoFiles files;
  const auto resolved = vtl::ResolveRequest(uri, "app", "C:\\exe\\", vtl::MimeTypeTable::BuiltIn());
  const auto response = vtl::ServeRequest(uri, &Package(), "app", "C:\\exe\\", vtl::MimeTypeTable::BuiltIn(), files);
  if (!resolved) {
    Require(!response, "an address that is not ours was answered");
    return 0;
  }
  Require(resolved->entryName.rfind("app/", 0) == 0, "an archive lookup outside the web folder");
  if (response) {
    Require(response->status == 200 || response->status == 404, "a sound package gave an error status");
    Require(response->headers.ends_with("; charset=utf-8") || response->headers == "Content-Type: application/wasm",
            "the charset is missing");
    Require(response->body != "[App]\nPassword=secret\n", "the settings were served");
  }

  // The same address with the input's tail as a Range header: a part of the
  // whole answer, or the whole, or 416; never anything else.
  const std::string_view range = uri.substr(uri.size() / 2);
  const auto part =
      vtl::ServeRequest(uri, &Package(), "app", "C:\\exe\\", vtl::MimeTypeTable::BuiltIn(), files, nullptr, range);
  Require(part.has_value() == response.has_value(), "a Range header changed whether the address is answered");
  if (part && response) {
    // A file found nowhere is missing whatever part of it is asked for.
    if (response->status == 404) {
      Require(part->status == 404, "a range of a missing file was found");
      return 0;
    }
    Require(part->status == 200 || part->status == 206 || part->status == 416, "a range gave another status");
    if (part->status == 200) Require(part->body == response->body, "a whole answer differs");
    if (part->status == 206)
      Require(!part->body.empty() && response->body.find(part->body) != std::string::npos, "a part is not of the whole");
  }
  return 0;
}
