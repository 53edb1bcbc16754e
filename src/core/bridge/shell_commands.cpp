#include <memory>

#include "core/bridge/arguments.h"
#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"
#include "core/platform/shell.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

void AnswerOutcome(TBrowserExternalModule& module, const std::string& uuid, const SystemOutcome& outcome) {
  if (outcome.accepted) {
    module.SendSuccessResponse(uuid, "true");
  } else {
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString(outcome.errorMessage));
  }
}

}  // namespace

void ShellExecute(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  ShellService* shell = module.services().shell;
  if (shell == nullptr) return;
  const std::string filePath = GetStringArg(data, "filePath", "");
  const std::string arguments = GetStringArg(data, "arguments", "");
  if (filePath.empty()) return module.SendErrorResponse(uuid, "\"Missing filePath\"");
  AnswerOutcome(module, uuid, shell->ShellExec(filePath, arguments));
}

void ShellExplore(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  ShellService* shell = module.services().shell;
  if (shell == nullptr) return;
  const std::string filePath = GetStringArg(data, "filePath", "");
  if (filePath.empty()) return module.SendErrorResponse(uuid, "\"Missing filePath\"");
  AnswerOutcome(module, uuid, shell->ShellExplore(filePath));
}

// Answered when the command has ended; the user interface keeps running
// meanwhile, and other requests are answered in the meantime.
void ShellCommand(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  ShellService* shell = module.services().shell;
  if (shell == nullptr) return;
  const std::string command = GetStringArg(data, "command", "");
  if (command.empty()) return module.SendErrorResponse(uuid, "\"Missing command\"");
  const std::string workingDir = GetStringArg(data, "workingDir", "");
  const bool showWindow = GetStringArg(data, "showWindow", "false") == "true";
  shell->GetDosOutput(command, workingDir, showWindow, [reply = module.ReplyLater(uuid)](std::string output) {
    reply(TStrUtils::StringToJsonString(output), true);
  });
}

void ShellWindows(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  ShellService* shell = module.services().shell;
  if (shell == nullptr) return;
  std::string result = "[";
  for (const std::string& caption : shell->GetWindowsCaptions()) {
    if (result.size() > 1) result += ',';
    result += TStrUtils::StringToJsonString(caption);
  }
  result += ']';
  module.SendSuccessResponse(uuid, result);
}

}  // namespace vtl
