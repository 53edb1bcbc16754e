#pragma once

// Content types by file extension: a built-in list, optionally overridden by
// the system's own associations.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vtl {

inline constexpr std::string_view kDefaultMimeType = "application/octet-stream";

struct MimeTypePair {
  std::string_view extension;    // lower case, with the leading dot
  std::string_view contentType;  // lower case
};

// The built-in list in its order. An extension may appear more than once;
// only its first pair is used.
std::span<const MimeTypePair> BuiltInMimeTypeList();

// Read-only source of system associations. Implementations report only
// non-empty values.
class MimeRegistry {
 public:
  using ExtensionVisitor =
      std::function<void(std::string_view ext, std::string_view contentType)>;
  using DatabaseVisitor =
      std::function<void(std::string_view contentType, std::string_view extension)>;

  virtual ~MimeRegistry() = default;

  // Every class key whose name starts with "." and that has a non-empty
  // string value "Content Type".
  virtual void ForEachExtensionContentType(const ExtensionVisitor& visit) const = 0;
  // Every key under MIME\Database\Content Type that has a non-empty string
  // value "Extension".
  virtual void ForEachDatabaseContentType(const DatabaseVisitor& visit) const = 0;

 protected:
  MimeRegistry() = default;
  MimeRegistry(const MimeRegistry&) = default;
  MimeRegistry& operator=(const MimeRegistry&) = default;
};

class MimeTypeTable {
 public:
  // Longer extensions (dot included) are never found.
  static constexpr size_t kMaxExtensionLength = 32;

  // Built once: the built-in list, then the registry's extension keys, then
  // its content-type database; later values replace earlier ones.
  explicit MimeTypeTable(const MimeRegistry* registry = nullptr);

  // The content type for the file name's extension (from its last "." to the
  // end, unless a "\" or ":" follows that dot), compared without ASCII case;
  // kDefaultMimeType when there is no extension or no entry for it. The
  // view stays valid as long as the table.
  std::string_view Find(std::string_view fileName) const;

  // The built-in list alone.
  static const MimeTypeTable& BuiltIn();

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::unordered_map<std::string, std::string, Hash, std::equal_to<>> types_;
};

}  // namespace vtl
