#pragma once

#include <memory>

#include "core/startup.h"
#include "core/themes.h"

namespace vtl::win32 {

class TEdgeInstallerForm;

// Start-up's view of Windows.
class Win32StartupPlatform final : public StartupPlatform {
 public:
  explicit Win32StartupPlatform(StyleManager& styles);
  ~Win32StartupPlatform() override;

  std::filesystem::path ModulePath() override;
  std::span<const uint8_t> ModuleHeaders() override;
  std::shared_ptr<const ByteSource> OpenModuleFile() override;
  std::vector<std::string> Arguments() override;
  std::string AnsiToUtf8(std::string_view bytes) override;
  std::string UserLanguageCode() override;
  int MessageDialog(std::string_view text, DialogKind kind, std::span<const DialogButton> buttons,
                    std::span<const std::string_view> buttonCaptions, std::string_view caption) override;
  void ApplyTheme(std::string_view name) override;
  std::string LocalAppDataDirPath() override;
  void ForceDirectories(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  void WriteFileAtomically(const std::string& path, std::string_view bytes) override;
  void RemoveFile(const std::string& path) override;
  bool DeleteDirectory(const std::string& path) override;
  void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) override;
  bool CheckEdgeIsInstalled(const std::string& loaderPath) override;
  void ShowInstallerBusyWindow(int32_t formColor, int32_t indicatorColor, int32_t indicatorType) override;
  uint32_t ShellExecAsAdminAndWait(const std::string& path, const std::string& params) override;
  bool ShellExec(const std::string& path, const std::string& arguments) override;
  bool RequirePassword(const std::string& appName, const std::string& password) override;
  bool CreateInstanceMutexAlreadyExists(const std::string& name) override;

 private:
  StyleManager& styles_;
  std::unique_ptr<TEdgeInstallerForm> busyWindow_;
};

}  // namespace vtl::win32
