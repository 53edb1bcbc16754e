#pragma once

#include "core/mime_types.h"

namespace vtl::win32 {

// Content types the system associates with file extensions, read from the
// registry's class root.
class RegistryMimeSource final : public MimeRegistry {
 public:
  void ForEachExtensionContentType(const ExtensionVisitor& visit) const override;
  void ForEachDatabaseContentType(const DatabaseVisitor& visit) const override;
};

}  // namespace vtl::win32
