// Web-message text through the bridge's dispatcher with in-memory platforms:
// no input may crash it or let an error escape, a message gets at most one
// reply, and every reply is one valid JSON object that carries the uuid.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge_doubles.h"
#include "core/bridge/arguments.h"
#include "core/json.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "test_support.h"

namespace {

struct Package {
  std::vector<uint8_t> bytes = vtl::test::MakeZip(
      {{"vtl.ini", "[App]\r\nDirName=app\r\nWindowBorder=3\r\n"}, {"app/index.html", "<p>"}}, vtl::kPackagePassword);
  vtl::RuntimeZip zip;
  vtl::IniDocument ini;
  Package() {
    zip.SetPassword(vtl::kPackagePassword);
    zip.Open(bytes);
    vtl::LoadRuntimeINI(zip, ini);
  }
};

void Require(bool condition, const char* what, std::string_view detail) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_bridge: %s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Package package;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  vtl::test::BridgeHarness h;
  h.module.ExeZip = &package.zip;
  h.module.ProjectINI = &package.ini;
  h.files.AddFile("C:\\App\\data\\a.txt", "a");
  h.module.EdgeBrowserWebMessageReceived(text);  // must not throw

  Require(h.webView.posts.size() <= 1, "more than one reply", text);
  if (h.webView.posts.empty()) return 0;
  const std::string& reply = h.webView.posts[0];
  const auto parsed = vtl::ParseJson(reply);
  Require(parsed && parsed->IsObject(), "reply is not a JSON object", reply);
  Require(parsed->members().size() == 3, "reply does not have three members", reply);
  const vtl::JsonValue* uuid = parsed->Find("uuid");
  Require(uuid && uuid->IsString(), "reply without a uuid string", reply);
  // The uuid reads back as the request's (its text as the host read it).
  const auto request = vtl::ParseJson(text);
  Require(request.has_value(), "a reply to text that is not JSON", text);
  Require(vtl::Utf16ToUtf8(vtl::Utf8ToUtf16(vtl::GetRequiredString(*request, "uuid"))) == uuid->text(),
          "the reply's uuid differs", reply);
  return 0;
}
