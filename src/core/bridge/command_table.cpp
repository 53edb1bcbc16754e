#include "core/bridge/command_table.h"

#include <array>
#include <cstdint>

#include "core/bridge/handlers.h"

namespace vtl {
namespace {

constexpr std::array<BridgeCommand, 55> kCommands{{
    {10001, "hello", false, &Hello},
    {10002, "isRuntime", false, &IsRuntime},
    {11001, "system.logoff", false, &SystemLogoff},
    {11002, "system.reboot", false, &SystemReboot},
    {11003, "system.shutdown", false, &SystemShutdown},
    {11004, "system.notification", true, &SystemNotification},
    {12001, "mainMenu.setItems", true, &MainMenuSetItems},
    {12002, "mainMenu.updateItem", true, &MainMenuUpdateItem},
    {13001, "registry.writeValue", true, &RegistryWriteValue},
    {13002, "registry.readValue", true, &RegistryReadValue},
    {13003, "registry.valueExist", true, &RegistryValueExist},
    {13004, "registry.deleteValue", true, &RegistryDeleteValue},
    {13005, "registry.keyExist", true, &RegistryKeyExist},
    {13006, "registry.deleteKey", true, &RegistryDeleteKey},
    {14001, "trayMenu.showIcon", false, &TrayMenuShowIcon},
    {14002, "trayMenu.hideIcon", false, &TrayMenuHideIcon},
    {14003, "trayMenu.setItems", true, &TrayMenuSetItems},
    {14004, "trayMenu.updateItem", true, &TrayMenuUpdateItem},
    {20001, "dialogs.openFile", true, &DialogsOpenFile},
    {20002, "dialogs.saveFile", true, &DialogsSaveFile},
    {20003, "dialogs.selFolder", true, &DialogsSelFolder},
    {30001, "files.fileExists", true, &FilesFileExists},
    {30002, "files.deleteFile", true, &FilesDeleteFile},
    {30003, "files.writeTextFile", true, &FilesWriteTextFile},
    {30004, "files.extractFile", true, &FilesExtractFile},
    {40001, "folders.dirExists", true, &FoldersDirExists},
    {40002, "folders.deleteDir", true, &FoldersDeleteDir},
    {40003, "folders.getTempDir", false, &FoldersGetTempDir},
    {40004, "folders.getUserDocumentsDir", false, &FoldersGetUserDocumentsDir},
    {40005, "folders.getUserDesktopDir", false, &FoldersGetUserDesktopDir},
    {40006, "folders.getAppExecutableDir", false, &FoldersGetAppExecutableDir},
    {40007, "folders.getAppDataDir", false, &FoldersGetAppDataDir},
    {50001, "app.close", false, &AppClose},
    {50002, "app.inFullscreen", false, &AppInFullscreen},
    {50003, "app.enterFullscreen", false, &AppEnterFullscreen},
    {50004, "app.exitFullscreen", false, &AppExitFullscreen},
    {50005, "app.getArgs", false, &AppGetArgs},
    {60001, "window.getStyle", false, &WindowGetStyle},
    {60002, "window.setStyle", true, &WindowSetStyle},
    {60003, "window.getState", false, &WindowGetState},
    {60004, "window.setState", true, &WindowSetState},
    {60005, "window.getTitle", false, &WindowGetTitle},
    {60006, "window.setTitle", true, &WindowSetTitle},
    {60007, "window.getZoom", false, &WindowGetZoom},
    {60008, "window.setZoom", true, &WindowSetZoom},
    {60009, "window.getSize", false, &WindowGetSize},
    {60010, "window.setSize", true, &WindowSetSize},
    {70001, "shell.execute", true, &ShellExecute},
    {70002, "shell.explore", true, &ShellExplore},
    {70003, "shell.command", true, &ShellCommand},
    {70004, "shell.windows", false, &ShellWindows},
    {80001, "themes.getTheme", false, &ThemesGetTheme},
    {80002, "themes.getThemes", false, &ThemesGetThemes},
    {80003, "themes.setTheme", true, &ThemesSetTheme},
    {90001, "base64.decodeToFile", true, &Base64DecodeToFile},
}};

constexpr bool IdsAscend() {
  for (size_t i = 1; i < kCommands.size(); ++i) {
    if (kCommands[i - 1].id >= kCommands[i].id) return false;
  }
  return true;
}
static_assert(IdsAscend(), "the command table is kept in id order");

// Ids come in blocks of a thousand, numbered from 1 within their block, so a
// lookup is two array reads instead of a search.
constexpr int kBlockSize = 1000;
constexpr int kBlocks = 100;
struct BlockIndex {
  std::array<uint8_t, kBlocks> first{};  // table index of the block's item 1
  std::array<uint8_t, kBlocks> count{};
};

constexpr BlockIndex MakeBlockIndex() {
  BlockIndex index;
  for (size_t i = 0; i < kCommands.size(); ++i) {
    const int block = kCommands[i].id / kBlockSize;
    if (index.count[block]++ == 0) index.first[block] = static_cast<uint8_t>(i);
  }
  return index;
}
constexpr BlockIndex kIndex = MakeBlockIndex();

constexpr bool BlocksNumberedFromOne() {
  for (size_t i = 0; i < kCommands.size(); ++i) {
    const int block = kCommands[i].id / kBlockSize;
    if (kCommands[i].id < kBlockSize || block >= kBlocks) return false;
    if (kCommands[i].id % kBlockSize != static_cast<int>(i) - kIndex.first[block] + 1) return false;
  }
  return kCommands.size() < 256;
}
static_assert(BlocksNumberedFromOne(), "each block of ids runs 1, 2, 3... without gaps");

}  // namespace

std::span<const BridgeCommand> CommandTable() { return kCommands; }

const BridgeCommand* FindCommand(int id) {
  if (id < kBlockSize || id >= kBlocks * kBlockSize) return nullptr;
  const int block = id / kBlockSize;
  const int item = id % kBlockSize;
  if (item < 1 || item > kIndex.count[block]) return nullptr;
  return &kCommands[kIndex.first[block] + item - 1];
}

}  // namespace vtl
