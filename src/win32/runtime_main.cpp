// Program entry of the runtime. It opens the package carried in its own file
// and reads the settings; the start-up sequence and the main window grow
// from here.

#include <windows.h>

#include <exception>
#include <vector>

#include "core/exe_utils.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "win32/module_image.h"
#include "win32/text.h"

namespace {

int Run() {
  vtl::TExeUtils exe(vtl::win32::RunningModulePath(), vtl::win32::RunningModuleHeaders());
  if (!exe.ExeHasAttachedStub()) return 0;

  static vtl::MemoryStream archive;  // read by every later extraction
  static vtl::RuntimeZip zip;
  zip.SetPassword(vtl::kPackagePassword);
  exe.GetZipFromExe(archive);
  zip.Open(archive);

  vtl::IniDocument ini;
  vtl::LoadRuntimeINI(zip, ini, vtl::win32::AnsiToUtf8);
  const auto settings = vtl::AppSettings::Read(ini);
  if (settings.ID.empty() || settings.Name.empty() || settings.DirName.empty()) return 0;
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return Run();
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, vtl::win32::Widen(e.what()).c_str(), L"Application Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
  }
}
