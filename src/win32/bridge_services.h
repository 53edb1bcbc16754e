#pragma once

// The one place where the bridge module's services are put together for the
// Windows build: every adapter the commands reach, owned here, borrowed by the
// module through BridgeServices.

#include <memory>

#include "core/bridge/browser_external_module.h"

namespace vtl::win32 {

class TMainForm;

struct BridgeAdapters {
  BridgeServices services;
};

// The adapters over the main window and the system. They must outlive the
// bridge module that borrows them.
std::unique_ptr<BridgeAdapters> CreateBridgeServices(TMainForm& mainForm);

}  // namespace vtl::win32
