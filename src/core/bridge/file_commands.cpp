#include "core/bridge/browser_external_module.h"
#include "core/bridge/handlers.h"

namespace vtl {

// Not answered yet: these commands come with their own capability.
void FilesFileExists(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FilesDeleteFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FilesWriteTextFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FilesExtractFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersDirExists(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersDeleteDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersGetTempDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersGetUserDocumentsDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersGetUserDesktopDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersGetAppExecutableDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void FoldersGetAppDataDir(TBrowserExternalModule&, const std::string&, const JsonValue&) {}
void Base64DecodeToFile(TBrowserExternalModule&, const std::string&, const JsonValue&) {}

}  // namespace vtl
