#pragma once

// String values under the current user's hive. Keys are paths below that
// root with "\" between the levels; one leading "\" is ignored. No other root
// can be named, and a path that names the root itself opens nothing.

#include <string>

#include "core/errors.h"

namespace vtl {

// A registry operation failed in a way the commands do not answer: reading a
// value that is not a string, or a refused write into an opened key.
class ERegistryException : public Error {
 public:
  using Error::Error;
};

class RegistryService {
 public:
  virtual ~RegistryService() = default;

  // Opens the key with full access, creating it and every missing key on its
  // path, and writes a string value, replacing a value of any type of that
  // name. False when the key cannot be opened or created; a refused write of
  // the value raises ERegistryException.
  virtual bool WriteString(const std::string& key, const std::string& name, const std::string& value) = 0;
  // "" when the key cannot be opened with full access, or the value is
  // missing or has no data. A string value (expandable or not) is its text as
  // stored; a value of another type raises ERegistryException.
  virtual std::string ReadString(const std::string& key, const std::string& name) = 0;
  // False also when the key cannot be opened with full access.
  virtual bool ValueExists(const std::string& key, const std::string& name) = 0;
  virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
  // The key can be opened for reading.
  virtual bool KeyExists(const std::string& key) = 0;
  // Deletes the key with everything below it; false when it does not exist
  // or the system refuses.
  virtual bool DeleteKey(const std::string& key) = 0;
};

}  // namespace vtl
