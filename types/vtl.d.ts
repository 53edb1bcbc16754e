// TypeScript declarations for `window.vtl`, the bridge between a packaged
// page and its host. The full reference, with every rejection text and the
// calls that never settle, is docs/api.md.
//
// Use: add this file to your tsconfig.json "files" (or reference it with
// /// <reference path="vtl.d.ts" />). It declares the global `vtl` and thereby
// `window.vtl`, and the types under the namespace `Vtl`.
//
// Every call returns a promise. A call that takes arguments must be given an
// object, `{}` at least: without one the host never answers. A rejected
// promise carries the host's error text, a string.

declare namespace Vtl {
  /** A promise the host never settles: do not wait for it. */
  type NeverSettles = Promise<never>;

  /** Text arguments: numbers and booleans are sent as their JSON text. */
  type Text = string | number | boolean;

  /** The object behind `window.vtl`. */
  interface Bridge {
    /**
     * Posts one request to the host. The namespace functions call this; a
     * page rarely needs it. An id the host does not know is never answered.
     */
    call<T = unknown>(funcID: number, args: object): Promise<T>;
    /** The bridge version, "2023.1". */
    hello(): Promise<string>;
    /** Always true inside a packaged program. */
    isRuntime(): Promise<true>;

    readonly dialogs: Dialogs;
    readonly files: Files;
    readonly folders: Folders;
    readonly app: App;
    readonly window: MainWindow;
    readonly shell: Shell;
    readonly themes: Themes;
    readonly base64: Base64;
    readonly system: System;
    readonly mainMenu: MainMenu;
    readonly registry: Registry;
    readonly trayMenu: TrayMenu;
    /** The page's event handlers: replace them by assigning functions. */
    readonly events: Events;
  }

  // ---------------------------------------------------------------- dialogs

  interface FileDialogArgs {
    /** Initial file name; default empty. */
    fileName?: string;
    /** Caption; default "Open file" (openFile) or "Save file" (saveFile). */
    title?: string;
    /**
     * File types as "Name|mask" entries separated by ";", for example
     * "Text files|*.txt;All files|*.*". One entry holds one mask.
     */
    fileTypes?: string;
  }

  interface SaveFileDialogArgs extends FileDialogArgs {
    /** Ask before an existing file is chosen; default false. */
    overwritePrompt?: boolean;
  }

  interface Dialogs {
    /** The chosen file's path, or "" when the user cancels. Never rejects. */
    openFile(args: FileDialogArgs): Promise<string>;
    /** The chosen path (the file is not created), or "" on cancel. Never rejects. */
    saveFile(args: SaveFileDialogArgs): Promise<string>;
    /** The chosen folder ending with "\\", or "" on cancel. Default title "Save file". */
    selFolder(args: { title?: string }): Promise<string>;
  }

  // ------------------------------------------------------------------ files

  interface Files {
    /** Whether a file (not a folder) exists. Rejects with "Missing filePath". */
    fileExists(args: { filePath: string }): Promise<boolean>;
    /** Whether the file was deleted. Rejects with "Missing filePath". */
    deleteFile(args: { filePath: string }): Promise<boolean>;
    /**
     * Writes the text as UTF-8 with a byte-order mark, CR LF after every
     * line; creates missing folders. Rejects with "Missing filePath" or the
     * system's error text.
     */
    writeTextFile(args: { filePath: string; contents?: Text }): Promise<true>;
    /**
     * Copies a package file to disk. `sourceFile` starts with "/" and is
     * relative to the web folder, for example "/data/list.json". Rejects with
     * "Missing sourceFile", "Missing targetFile", "File not found" or the
     * archive's error text.
     */
    extractFile(args: { sourceFile: string; targetFile: string }): Promise<true>;
  }

  // ---------------------------------------------------------------- folders

  interface Folders {
    /** Whether a folder exists. Rejects with "Missing dirPath". */
    dirExists(args: { dirPath: string }): Promise<boolean>;
    /** Deletes the folder with everything in it, not to the recycle bin. Rejects with "Missing dirPath". */
    deleteDir(args: { dirPath: string }): Promise<boolean>;
    /** The user's temporary folder, ending with "\\". */
    getTempDir(): Promise<string>;
    /** The user's documents folder, ending with "\\". */
    getUserDocumentsDir(): Promise<string>;
    /** The user's desktop folder, ending with "\\". */
    getUserDesktopDir(): Promise<string>;
    /** The folder of the running program, ending with "\\". */
    getAppExecutableDir(): Promise<string>;
    /** The user's roaming application-data folder, ending with "\\". */
    getAppDataDir(): Promise<string>;
  }

  // -------------------------------------------------------------------- app

  interface App {
    /** Closes the application. Never settles. */
    close(): NeverSettles;
    /** Whether the window is in the bridge's full-screen mode. */
    inFullscreen(): Promise<boolean>;
    /** Borderless and maximised. Never settles. */
    enterFullscreen(): NeverSettles;
    /** Back to a normal window with the border of the settings. Never settles. */
    exitFullscreen(): NeverSettles;
    /** The program's path, then its command-line arguments. */
    getArgs(): Promise<string[]>;
  }

  // ----------------------------------------------------------------- window

  type WindowStyle = "normal" | "ontop";
  type WindowState = "normal" | "minimized" | "maximized";

  /** Outer frame of the main window, in pixels. */
  interface WindowBounds {
    top: number;
    left: number;
    width: number;
    height: number;
  }

  interface MainWindow {
    getStyle(): Promise<WindowStyle>;
    /** "ontop" keeps the window above others; any other text makes it ordinary. Default "normal". */
    setStyle(args: { style?: WindowStyle | (string & {}) }): Promise<true>;
    getState(): Promise<WindowState>;
    /** Other words change nothing and still resolve with true. Default "normal". */
    setState(args: { state?: WindowState | (string & {}) }): Promise<true>;
    getTitle(): Promise<string>;
    /** An absent title empties the caption. */
    setTitle(args: { title?: Text }): Promise<true>;
    /** The zoom factor as text in the user's number format, for example "1.25" or "1,25". */
    getZoom(): Promise<string>;
    /** false (and 100 %) when `factor` is not a number written with ".". */
    setZoom(args: { factor?: number | string }): Promise<boolean>;
    getSize(): Promise<WindowBounds>;
    /** Members left out keep their current value; text is read up to its first non-digit. */
    setSize(args: Partial<Record<keyof WindowBounds, number | string>>): Promise<true>;
  }

  // ------------------------------------------------------------------ shell

  interface Shell {
    /**
     * Opens a program, document or URL through the shell. Rejects with
     * "Missing filePath" or the system's error text.
     */
    execute(args: { filePath: string; arguments?: string }): Promise<true>;
    /** Opens the file manager with the item selected. Rejects as execute. */
    explore(args: { filePath: string }): Promise<true>;
    /**
     * Runs `cmd.exe /C command` and resolves with everything it wrote, when
     * it has ended. The console shows only for `showWindow` true or "true".
     * Rejects with "Missing command".
     */
    command(args: { command: string; workingDir?: string; showWindow?: boolean | "true" | "false" }): Promise<string>;
    /** Captions of the desktop's top-level windows, hidden ones included. */
    windows(): Promise<string[]>;
  }

  // ----------------------------------------------------------------- themes

  interface Themes {
    /** The active style's name; "Windows" is the native look. */
    getTheme(): Promise<string>;
    /** The 40 style names, sorted. */
    getThemes(): Promise<string[]>;
    /** true when the active style now bears exactly this name (letter case included). */
    setTheme(args: { name?: string }): Promise<boolean>;
  }

  // ----------------------------------------------------------------- base64

  interface Base64 {
    /** Writes the decoded bytes to a file. Rejects with "Missing filePath" or the system's error text. */
    decodeToFile(args: { filePath: string; contents?: string }): Promise<true>;
  }

  // ----------------------------------------------------------------- system

  interface System {
    /** Ends the session, forcing programs closed. Rejects with the system's error text. */
    logoff(): Promise<true>;
    /** Restarts the computer, forcing programs closed. Rejects with the system's error text. */
    reboot(): Promise<true>;
    /** Shuts the computer down, forcing programs closed. Rejects with the system's error text. */
    shutdown(): Promise<true>;
    /**
     * Shows a desktop notification; a later one with the same name replaces
     * it. false only on systems without notifications (before Windows 8).
     */
    notification(args: { name?: Text; title?: Text; body?: Text }): Promise<boolean>;
  }

  // ------------------------------------------------------------------ menus

  /** One menu item; `setItems` takes a JSON text of an array of these. */
  interface MenuItem {
    /** The id the click event reports; text that is no integer counts as 0. */
    id: number | string;
    /** The item's text; "-" draws a separator, "&" marks the access key. */
    caption: string | number | boolean;
    /** Default true. */
    enabled?: boolean | "true" | "false" | number;
    /**
     * An image file: an entry of the package named from its root, web folder
     * included (for example "app/icons/open.png"); else a file of that name
     * beside the program; else that file path.
     */
    image?: string;
    /** Sub-items: the item opens a submenu and raises no click event. */
    items?: MenuItem[];
  }

  interface MenuItemUpdate {
    /** The id of the item to change (the first one in menu order). */
    id: number | string;
    /** A new caption; empty keeps the old one. */
    caption?: Text;
    enabled?: boolean | "true" | "false" | number;
    image?: string;
  }

  interface MainMenu {
    /**
     * Replaces the menu bar. `items` is JSON text: JSON.stringify(array).
     * Rejects with "Missing menu items", "Wrong menu items JSON" or
     * "Wrong menu item JSON".
     */
    setItems(args: { items: string }): Promise<true>;
    /**
     * Changes one item; resolves true also when no item has the id. Rejects
     * with "Missing item ID", "Wrong item ID" or "No menu items".
     */
    updateItem(args: MenuItemUpdate): Promise<true>;
  }

  interface TrayMenu {
    /** Shows the application's icon in the notification area. */
    showIcon(): Promise<true>;
    /** Removes the icon. */
    hideIcon(): Promise<true>;
    /** As mainMenu.setItems, for the icon's pop-up menu. */
    setItems(args: { items: string }): Promise<true>;
    /** As mainMenu.updateItem, for the icon's pop-up menu. */
    updateItem(args: MenuItemUpdate): Promise<true>;
  }

  // --------------------------------------------------------------- registry

  /** `key` is a path below HKEY_CURRENT_USER, for example "Software\\Demo". */
  interface Registry {
    /** Writes a string value, creating the key. false when the key cannot be opened or created. */
    writeValue(args: { key: string; name: string; value?: Text }): Promise<boolean>;
    /** The string value, or "" when the key or value is missing. */
    readValue(args: { key: string; name: string }): Promise<string>;
    valueExist(args: { key: string; name: string }): Promise<boolean>;
    deleteValue(args: { key: string; name: string }): Promise<boolean>;
    keyExist(args: { key: string }): Promise<boolean>;
    /** Deletes the key with all its subkeys. */
    deleteKey(args: { key: string }): Promise<boolean>;
  }

  // ----------------------------------------------------------------- events

  /**
   * Handlers the host calls. Assign a function to replace one, for example
   * `vtl.events.onCloseQuery = () => { ... }`. Every new document starts
   * with the defaults again.
   */
  interface Events {
    /** The user tries to close the window. The default calls `vtl.app.close()`. */
    onCloseQuery: () => void;
    /** A main menu leaf was chosen; the id comes as a string. */
    onMainMenuItemClick: (itemId: string) => void;
    /** The tray icon was clicked with the left button. */
    onTrayIconClick: () => void;
    /** A tray menu leaf was chosen; the id comes as a string. */
    onTrayMenuItemClick: (itemId: string) => void;
    /** A notification was clicked; its name comes back. */
    onNotificationClick: (notifName: string) => void;
  }
}

declare var vtl: Vtl.Bridge;
