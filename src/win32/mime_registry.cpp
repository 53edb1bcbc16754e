#include "win32/mime_registry.h"

#include "win32/registry_key.h"
#include "win32/text.h"

namespace vtl::win32 {

void RegistryMimeSource::ForEachExtensionContentType(const ExtensionVisitor& visit) const {
  const RegistryKey root = RegistryKey::Open(HKEY_CLASSES_ROOT, L"");
  if (!root) return;
  for (DWORD i = 0;; ++i) {
    const auto name = root.SubkeyName(i);
    if (!name) break;
    if (name->empty() || name->front() != L'.') continue;
    const RegistryKey key = RegistryKey::Open(root.get(), *name);
    if (!key) continue;
    if (const auto type = key.StringValue(L"Content Type"); type && !type->empty())
      visit(Narrow(*name), Narrow(*type));
  }
}

void RegistryMimeSource::ForEachDatabaseContentType(const DatabaseVisitor& visit) const {
  const RegistryKey db = RegistryKey::Open(HKEY_CLASSES_ROOT, L"MIME\\Database\\Content Type");
  if (!db) return;
  for (DWORD i = 0;; ++i) {
    const auto name = db.SubkeyName(i);
    if (!name) break;
    const RegistryKey key = RegistryKey::Open(db.get(), *name);
    if (!key) continue;
    if (const auto ext = key.StringValue(L"Extension"); ext && !ext->empty()) visit(Narrow(*name), Narrow(*ext));
  }
}

}  // namespace vtl::win32
