#pragma once

// What the bridge asks about the running program and the user's folders.

#include <string>

namespace vtl {

class AppEnvironment {
 public:
  virtual ~AppEnvironment() = default;

  // The running executable's full path, as the system reports it.
  virtual std::string ModuleFileName() = 0;
  // The process's command line, as the system gives it.
  virtual std::string CommandLine() = 0;
  // The executable's folder, ending with "\".
  virtual std::string ExecutableDir() = 0;

  // The user's folders, each ending with "\".
  virtual std::string TempDir() = 0;
  virtual std::string UserDocumentsDir() = 0;
  virtual std::string UserDesktopDir() = 0;
  virtual std::string UserAppDataDir() = 0;

  // The decimal separator of the user's regional number settings.
  virtual std::string DecimalSeparator() = 0;
};

}  // namespace vtl
