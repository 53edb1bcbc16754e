// files.*, folders.* and base64.decodeToFile: the page's access to the local
// file system and to the files of the package.

#include <cstdint>
#include <span>

#include "core/bridge/app_path.h"
#include "core/bridge/base64.h"
#include "core/bridge/command_support.h"
#include "core/bridge/handlers.h"
#include "core/errors.h"
#include "core/platform/app_environment.h"
#include "core/platform/file_system.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The text as UTF-8 lines, each ended by CR LF, behind the byte-order mark.
// Lines end at CR LF, a lone CR or a lone LF; a text that ends with a line
// break gets no extra empty line.
std::string TextFileBytes(std::string_view contents) {
  std::string bytes = "\xEF\xBB\xBF";
  bytes.reserve(3 + contents.size() + contents.size() / 16 + 2);
  for (size_t i = 0; i < contents.size(); ++i) {
    const char c = contents[i];
    if (c == '\r' || c == '\n') {
      bytes += "\r\n";
      if (c == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') ++i;
    } else {
      bytes += c;
    }
  }
  if (!contents.empty() && contents.back() != '\r' && contents.back() != '\n') bytes += "\r\n";
  return bytes;
}

// Resolves the required path argument; false when it was answered already.
bool ReadAppPath(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data,
                 std::string_view key, std::string_view missing, std::string& path) {
  if (!ReadRequiredArg(module, uuid, data, key, missing, path)) return false;
  // The executable's folder is only asked for when the path needs it.
  if (!HasDrivePart(path)) path = ResolveAppPath(path, module.services().environment->ExecutableDir());
  return true;
}

bool HasFiles(const TBrowserExternalModule& module) {
  return module.services().files != nullptr && module.services().environment != nullptr;
}

// Steps shared by writeTextFile and decodeToFile: folders first (a failure
// shows in the write), then the bytes; errors from reading "contents" on are
// answered with their message.
template <typename MakeBytes>
void WriteWholeFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data,
                    MakeBytes makeBytes) {
  std::string path;
  if (!ReadAppPath(module, uuid, data, "filePath", "\"Missing filePath\"", path)) return;
  FileSystem& files = *module.services().files;
  const std::string folder = ExtractFilePath(path);
  if (!folder.empty()) files.ForceDirectories(folder);
  try {
    const std::string bytes = makeBytes(GetStringArg(data, "contents", ""));
    files.CreateOutputFile(path)->Write(AsBytes(bytes));
  } catch (const std::exception& error) {
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString(error.what()));
    return;
  }
  module.SendSuccessResponse(uuid, "true");
}

void AnswerFolder(TBrowserExternalModule& module, const std::string& uuid, std::string (AppEnvironment::*folder)()) {
  AppEnvironment* environment = module.services().environment;
  if (environment == nullptr) return;
  module.SendSuccessResponse(uuid, TStrUtils::StringToJsonString(WithTrailingBackslash((environment->*folder)())));
}

}  // namespace

void FilesFileExists(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  std::string path;
  if (!ReadAppPath(module, uuid, data, "filePath", "\"Missing filePath\"", path)) return;
  module.SendSuccessResponse(uuid, BoolText(module.services().files->FileExists(path)));
}

void FilesDeleteFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  std::string path;
  if (!ReadAppPath(module, uuid, data, "filePath", "\"Missing filePath\"", path)) return;
  module.SendSuccessResponse(uuid, BoolText(module.services().files->RemoveFile(path)));
}

void FilesWriteTextFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  WriteWholeFile(module, uuid, data, [](const std::string& contents) { return TextFileBytes(contents); });
}

void FilesExtractFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  FileSystem* files = module.services().files;
  if (files == nullptr) return;
  std::string sourceFile, targetFile;
  if (!ReadRequiredArg(module, uuid, data, "sourceFile", "\"Missing sourceFile\"", sourceFile)) return;
  if (!ReadRequiredArg(module, uuid, data, "targetFile", "\"Missing targetFile\"", targetFile)) return;

  // The entry name is DirName followed directly by the caller's text.
  const std::string dirName =
      module.ProjectINI != nullptr ? module.ProjectINI->ReadString(kAppSection, "DirName", "") : std::string();
  const int64_t entry = module.ExeZip != nullptr ? module.ExeZip->FindEntry(dirName + sourceFile) : -1;
  if (entry < 0) {
    module.SendErrorResponse(uuid, "\"File not found\"");
    return;
  }

  // A target that cannot be created is not answered: the error leaves the
  // handler. The target is used as given, relative to the current folder.
  const std::unique_ptr<OutputFile> target = files->CreateOutputFile(targetFile);
  std::string error, readError;
  const bool extracted = module.ExeZip->ExtractEntry(
      entry,
      [&](std::span<const uint8_t> chunk) {
        try {
          target->Write(chunk);
          return true;
        } catch (const std::exception& e) {
          error = e.what();
          return false;
        }
      },
      &readError);
  if (!extracted) {
    if (error.empty()) error = readError.empty() ? "Cannot extract the file" : readError;
    module.SendErrorResponse(uuid, TStrUtils::StringToJsonString(error));
    return;
  }
  module.SendSuccessResponse(uuid, "true");
}

void FoldersDirExists(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  std::string path;
  if (!ReadAppPath(module, uuid, data, "dirPath", "\"Missing dirPath\"", path)) return;
  module.SendSuccessResponse(uuid, BoolText(module.services().files->DirectoryExists(path)));
}

void FoldersDeleteDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  std::string path;
  if (!ReadAppPath(module, uuid, data, "dirPath", "\"Missing dirPath\"", path)) return;
  module.SendSuccessResponse(uuid, BoolText(module.services().files->DeleteDirectory(path)));
}

void FoldersGetTempDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AnswerFolder(module, uuid, &AppEnvironment::TempDir);
}

void FoldersGetUserDocumentsDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AnswerFolder(module, uuid, &AppEnvironment::UserDocumentsDir);
}

void FoldersGetUserDesktopDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AnswerFolder(module, uuid, &AppEnvironment::UserDesktopDir);
}

void FoldersGetAppExecutableDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AnswerFolder(module, uuid, &AppEnvironment::ExecutableDir);
}

void FoldersGetAppDataDir(TBrowserExternalModule& module, const std::string& uuid, const JsonValue&) {
  AnswerFolder(module, uuid, &AppEnvironment::UserAppDataDir);
}

void Base64DecodeToFile(TBrowserExternalModule& module, const std::string& uuid, const JsonValue& data) {
  if (!HasFiles(module)) return;
  WriteWholeFile(module, uuid, data, [](const std::string& contents) { return DecodeBase64(contents); });
}

}  // namespace vtl
