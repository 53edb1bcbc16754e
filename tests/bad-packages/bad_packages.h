#pragma once

// A corpus of bad packages, each with the outcome its users must see: from
// `vtlpack settings` on the packer's side, and from the runtime itself when
// the package is started. The packages are made from a runtime image and a
// loader given by the caller, so the same corpus serves the host tests (a
// synthetic image) and the end-to-end tests (the real runtime under Wine).

#include <string>
#include <vector>

namespace vtl::badpackages {

// What starting the package does.
enum class RuntimeOutcome {
  SystemRefuses,     // the system will not start the file as a program
  ApplicationError,  // the "Application Error" report, exit code 1
  EndsSilently,      // no window at all, exit code 0
  MainWindow,        // starts; the main window's caption is `caption`
  Message,           // a message dialog mentioning `mentions`
};

struct BadPackage {
  std::string name;   // also a safe file name
  std::string bytes;  // the whole executable
  // `vtlpack settings FILE`: the exit status, and a fragment of its one
  // stderr line (status 1) or of its stdout (status 0).
  int packerStatus = 1;
  std::string packerSays;
  RuntimeOutcome runtime = RuntimeOutcome::ApplicationError;
  // MainWindow: the caption. Message and ApplicationError: a fragment of the
  // dialog's text, may be empty.
  std::string shows;
};

// `runtime` is an executable image with nothing appended; `loader` is the
// WebView2 loader library to pack. `appIdPrefix` makes application IDs (and so
// data folders and mutexes) unique to the caller.
std::vector<BadPackage> MakeBadPackages(const std::string& runtime, const std::string& loader,
                                        const std::string& appIdPrefix);

}  // namespace vtl::badpackages
