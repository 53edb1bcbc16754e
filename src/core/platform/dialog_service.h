#pragma once

// The open, save and folder dialogs. Each dialog is modal, owned by the active
// window, and remembers between runs the file type selected when its last run
// ended (and the folder dialog its last chosen folder).

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

class DialogService {
 public:
  virtual ~DialogService() = default;
  // The chosen item's file-system path; "" when cancelled or not shown.
  virtual std::string OpenFile(const FileDialogOptions& options) = 0;
  virtual std::string SaveFile(const FileDialogOptions& options) = 0;
  // The chosen folder's path as the system gives it; "" when cancelled.
  virtual std::string SelectFolder(const std::string& title) = 0;
};

}  // namespace vtl
