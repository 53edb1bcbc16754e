#include "win32/bridge_services.h"

#include "win32/main_form.h"

namespace vtl::win32 {

std::unique_ptr<BridgeAdapters> CreateBridgeServices(TMainForm& mainForm) {
  auto adapters = std::make_unique<BridgeAdapters>();
  adapters->services.webView = &mainForm;
  return adapters;
}

}  // namespace vtl::win32
