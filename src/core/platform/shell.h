#pragma once

// Starting programs and documents through the shell, running console
// commands, and listing the captions of the desktop's top-level windows.

#include <functional>
#include <string>
#include <vector>

#include "core/platform/system_outcome.h"

namespace vtl {

class ShellService {
 public:
  virtual ~ShellService() = default;

  // The shell's "open" on the file, with the arguments as parameters.
  virtual SystemOutcome ShellExec(const std::string& filePath, const std::string& arguments) = 0;
  // The file manager on the item's folder, with the item selected.
  virtual SystemOutcome ShellExplore(const std::string& filePath) = 0;

  using CommandDone = std::function<void(std::string output)>;
  // Runs "cmd.exe /C " + command without blocking the caller. `done` receives
  // everything the command wrote to standard output and standard error, as
  // UTF-8, once the command has ended ("" when it could not start). It is
  // called later, on the caller's thread, and never once the service is gone.
  // The console is shown only when showWindow is set; an empty workingDir
  // means the host's current folder.
  virtual void GetDosOutput(const std::string& command, const std::string& workingDir, bool showWindow,
                            CommandDone done) = 0;

  // The captions of all top-level windows, hidden ones included, in the
  // system's enumeration order; blank captions are left out.
  virtual std::vector<std::string> GetWindowsCaptions() = 0;
};

}  // namespace vtl
