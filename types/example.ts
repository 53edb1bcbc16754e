// A small typed page script: what a page author writes against vtl.d.ts.
// scripts/test compiles it with `tsc -p types`; nothing runs it.
//
// The lines marked @ts-expect-error are calls the host would never answer or
// would misread. The compiler must keep refusing them: if the declarations
// grow loose enough to accept one, the check fails.

async function saveNotes(text: string): Promise<string | null> {
  const path = await vtl.dialogs.saveFile({
    title: "Save notes",
    fileTypes: "Text files|*.txt;All files|*.*",
    overwritePrompt: true,
  });
  if (path === "") return null; // cancelled
  await vtl.files.writeTextFile({ filePath: path, contents: text });
  return path;
}

async function describeHost(): Promise<string> {
  const version: string = await window.vtl.hello();
  const args: string[] = await vtl.app.getArgs();
  const size: Vtl.WindowBounds = await vtl.window.getSize();
  const state: Vtl.WindowState = await vtl.window.getState();
  const zoom: number = Number((await vtl.window.getZoom()).replace(",", "."));
  const docs = await vtl.folders.getUserDocumentsDir();
  return `${version} ${args[0]} ${size.width}x${size.height} ${state} ${zoom} ${docs}`;
}

function installMenus(): Promise<true> {
  const items: Vtl.MenuItem[] = [
    { id: 1, caption: "&File", items: [
      { id: 11, caption: "&Save", image: "app/icons/save.png" },
      { id: 0, caption: "-" },
      { id: 12, caption: "E&xit" },
    ] },
    { id: 2, caption: "&Help", items: [{ id: 21, caption: "About", enabled: false }] },
  ];
  vtl.events.onMainMenuItemClick = (itemId: string) => {
    if (itemId === "12") void vtl.app.close();
  };
  return vtl.mainMenu.setItems({ items: JSON.stringify(items) });
}

let closing = false;
vtl.events.onCloseQuery = () => {
  if (closing) return;
  if (window.confirm("Quit?")) {
    closing = true;
    void vtl.app.close(); // never settles: not awaited
  }
};

async function registryRoundTrip(): Promise<boolean> {
  const key = "Software\\Example\\Settings";
  if (!(await vtl.registry.writeValue({ key, name: "Greeting", value: 42 }))) return false;
  const text: string = await vtl.registry.readValue({ key, name: "Greeting" });
  await vtl.registry.deleteKey({ key });
  return text === "42";
}

async function failures(): Promise<void> {
  try {
    await vtl.files.fileExists({ filePath: "" });
  } catch (error) {
    const text = error as string; // "Missing filePath"
    console.log(text);
  }
  const output: string = await vtl.shell.command({ command: "echo hello", showWindow: false });
  const changed: boolean = await vtl.themes.setTheme({ name: "Carbon" });
  const zoomed: boolean = await vtl.window.setZoom({ factor: 1.5 });
  await vtl.window.setSize({ width: 1024 });
  await vtl.window.setStyle({ style: "ontop" });
  const shown: boolean = await vtl.system.notification({ name: "saved", title: "Saved" });
  vtl.events.onNotificationClick = (name: string) => console.log(name, output, changed, zoomed, shown);
  await vtl.trayMenu.showIcon();
  await vtl.trayMenu.updateItem({ id: "11", enabled: "false" });
  await vtl.base64.decodeToFile({ filePath: "data/hi.bin", contents: "SGk=" });
  await vtl.files.extractFile({ sourceFile: "/readme.txt", targetFile: "C:\\Temp\\readme.txt" });
}

function mistakes(): void {
  // @ts-expect-error without an argument object the host never answers
  void vtl.files.fileExists();
  // @ts-expect-error a required path left out
  void vtl.folders.dirExists({});
  // @ts-expect-error items is JSON text, not an array: the host would never answer
  void vtl.mainMenu.setItems({ items: [{ id: 1, caption: "File" }] });
  // @ts-expect-error an object cannot be read as text: the host would never answer
  void vtl.window.setTitle({ title: { text: "x" } });
  // @ts-expect-error event handlers receive ids as strings
  vtl.events.onTrayMenuItemClick = (itemId: number) => console.log(itemId);
  // @ts-expect-error the events object itself stays; replace single handlers
  vtl.events = { onCloseQuery() {} };
  // @ts-expect-error a dialog answers a path, not a flag
  void vtl.dialogs.openFile({}).then((chosen: boolean) => chosen);
}

void saveNotes;
void describeHost;
void installMenus;
void registryRoundTrip;
void failures;
void mistakes;
