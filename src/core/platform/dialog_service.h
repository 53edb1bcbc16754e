#pragma once

// The open, save and folder dialogs. Each dialog is modal, owned by the active
// window, and remembers between runs the file type selected when its last run
// ended (and the folder dialog its last chosen folder).

#include <functional>
#include <string>
#include <vector>

namespace vtl {

struct FileType {
  std::string name;  // shown to the user
  std::string mask;  // for example "*.txt"
};

struct FileDialogOptions {
  std::string fileName;  // initial name; empty leaves the box empty
  std::string title;     // empty keeps the system's own caption
  std::vector<FileType> fileTypes;
  bool overwritePrompt = false;  // save dialog only
};

// A dialog is asked for inside the handling of a page's request, and shown
// after that has returned (the web view raises no event while its handler
// runs, and a modal dialog would hold the handler): `done` then receives the
// answer on the caller's thread, once, and never once the service is gone.
// Other requests are answered while a dialog is open.
class DialogService {
 public:
  virtual ~DialogService() = default;
  using Done = std::function<void(std::string path)>;
  // The chosen item's file-system path; "" when cancelled or not shown.
  virtual void OpenFile(const FileDialogOptions& options, Done done) = 0;
  virtual void SaveFile(const FileDialogOptions& options, Done done) = 0;
  // The chosen folder's path as the system gives it; "" when cancelled.
  virtual void SelectFolder(const std::string& title, Done done) = 0;
};

}  // namespace vtl
