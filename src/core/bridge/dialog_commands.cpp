// dialogs.*: the open, save and folder dialogs. Cancelling answers "".

#include "core/bridge/command_support.h"
#include "core/bridge/handlers.h"
#include "core/platform/dialog_service.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

// "Name|mask;Name|mask": an entry counts only when it splits into exactly two.
std::vector<FileType> ParseFileTypes(std::string_view text) {
  std::vector<FileType> types;
  if (text.empty()) return types;
  for (const std::string& entry : TStrUtils::ExplodeStrings(";", text)) {
    std::vector<std::string> parts = TStrUtils::ExplodeStrings("|", entry);
    if (parts.size() == 2) types.push_back({std::move(parts[0]), std::move(parts[1])});
  }
  return types;
}

FileDialogOptions ReadFileDialogOptions(const JsonValue& data, std::string_view defaultTitle) {
  FileDialogOptions options;
  options.fileName = GetStringArg(data, "fileName", "");
  options.title = GetStringArg(data, "title", defaultTitle);
  options.fileTypes = ParseFileTypes(GetStringArg(data, "fileTypes", ""));
  return options;
}

}  // namespace

void DialogsOpenFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  const FileDialogOptions options = ReadFileDialogOptions(data, "Open file");
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(dialogs->OpenFile(options)));
}

void DialogsSaveFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  FileDialogOptions options = ReadFileDialogOptions(data, "Save file");
  options.overwritePrompt = GetBoolArg(data, "overwritePrompt", false);
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(dialogs->SaveFile(options)));
}

void DialogsSelFolder(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  const std::string title = GetStringArg(data, "title", "Save file");
  std::string folder = dialogs->SelectFolder(title);
  if (!folder.empty()) folder = WithTrailingBackslash(std::move(folder));
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(folder));
}

}  // namespace vtl
