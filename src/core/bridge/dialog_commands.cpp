// dialogs.*: the open, save and folder dialogs. Cancelling answers "". The
// reply comes once the dialog has closed; other requests are answered meanwhile.

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

// The answer once the dialog has closed: the path, "" when cancelled.
DialogService::Done AnswerPath(TBrowserExternalModule& module, const std::string& uuid) {
  return [reply = module.ReplyLater(uuid)](std::string path) { reply(TStrUtils::StringToJsonString(path), true); };
}

}  // namespace

void DialogsOpenFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  const FileDialogOptions options = ReadFileDialogOptions(data, "Open file");
  dialogs->OpenFile(options, AnswerPath(module, uuid));
}

void DialogsSaveFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  FileDialogOptions options = ReadFileDialogOptions(data, "Save file");
  options.overwritePrompt = GetBoolArg(data, "overwritePrompt", false);
  dialogs->SaveFile(options, AnswerPath(module, uuid));
}

void DialogsSelFolder(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  DialogService* dialogs = module.services().dialogs;
  if (dialogs == nullptr) return;
  const std::string title = GetStringArg(data, "title", "Save file");
  dialogs->SelectFolder(title, [reply = module.ReplyLater(uuid)](std::string folder) {
    if (!folder.empty()) folder = WithTrailingBackslash(std::move(folder));
    reply(TStrUtils::StringToJsonString(folder), true);
  });
}

}  // namespace vtl
