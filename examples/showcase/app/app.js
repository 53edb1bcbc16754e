// The showcase page: one handler per button, each calling window.vtl and
// showing what came back. Plain script, no framework, no network.
'use strict';

const $ = (id) => document.getElementById(id);

// ------------------------------------------------------------ showing results

function addLine(log, text, kind) {
  const line = document.createElement('div');
  line.className = kind;
  line.textContent = text;
  log.prepend(line);
  while (log.childElementCount > 12) log.lastElementChild.remove();
  return line;
}

function describe(value) {
  return typeof value === 'string' ? JSON.stringify(value) : JSON.stringify(value, null, 0);
}

// Awaits one call and shows its outcome in the section's log.
async function show(log, label, call) {
  const line = addLine(log, `${label} …`, 'pending');
  try {
    const value = await call();
    line.textContent = `${label} → ${describe(value)}`;
    line.className = 'ok';
    return value;
  } catch (error) {
    line.textContent = `${label} ✗ ${describe(error)}`;
    line.className = 'error';
    return undefined;
  }
}

// For the calls the host never answers: send and do not wait.
function send(log, label, call) {
  call();
  addLine(log, `${label}: sent (never answered, by design)`, 'sent');
}

function logEvent(text) {
  addLine($('log-events'), `${new Date().toLocaleTimeString()}  ${text}`, 'event');
}

// A confirmation inside the page; resolves with true for OK.
function confirmInPage(text, okLabel = 'OK') {
  const dialog = $('confirm');
  if (dialog.open) return Promise.resolve(false);
  $('confirm-text').textContent = text;
  $('confirm-yes').textContent = okLabel;
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'yes'), { once: true });
    dialog.showModal();
  });
}

// The file: address of a file on disk, which the host answers from there.
// No query: the host would take it for part of the file name.
function fileUrl(path) {
  return 'file:///' + path.replace(/\\/g, '/');
}

// ------------------------------------------------------------------- state

let workDir = '';           // <temp>\VantrelShowcase\
let closing = false;        // true once the page has decided to close
let trayShown = false;
let aboutEnabled = true;
let trayRenames = 0;

async function ensureWorkDir() {
  if (!workDir) {
    workDir = (await vtl.folders.getTempDir()) + 'VantrelShowcase\\';
    $('work-dir').value = workDir;
  }
  return workDir;
}

// A 16 by 16 PNG, for base64.decodeToFile.
const SAMPLE_PNG =
  'iVBORw0KGgoAAAANSUhEUgAAABAAAAAQBAMAAADt3eJSAAAAD1BMVEUAAAAfnVUfnVUfnVX////tVgSiAAAAA3RSTlMACJWyyikdAAAA' +
  'KklEQVQI12NgwARCxkCgCGQom7i4OBsBGcYghjF2BhgQyVAG0UbIVqADADFADp0bT+64AAAAAElFTkSuQmCC';

// ------------------------------------------------------------------- menus

const MAIN_MENU = [
  { id: 1, caption: '&File', items: [
    { id: 101, caption: '&Open…', image: 'app/icons/open.png' },
    { id: 102, caption: '&Save as…', image: 'app/icons/save.png' },
    { id: 0, caption: '-' },
    { id: 103, caption: 'E&xit', image: 'app/icons/quit.png' },
  ] },
  { id: 2, caption: '&View', items: [
    { id: 201, caption: 'Always on &top' },
    { id: 202, caption: '&Full screen' },
    { id: 203, caption: 'Zoom &in' },
    { id: 204, caption: 'Zoom &out' },
    { id: 205, caption: '&Actual size' },
  ] },
  { id: 3, caption: '&Help', items: [
    { id: 301, caption: '&About', image: 'app/icons/about.png' },
  ] },
];

const TRAY_MENU = [
  { id: 1, caption: '&Show the window' },
  { id: 2, caption: '&Notify me', image: 'app/icons/about.png' },
  { id: 0, caption: '-' },
  { id: 3, caption: 'E&xit', image: 'app/icons/quit.png' },
];

async function zoomBy(step) {
  const text = await vtl.window.getZoom();               // "1.25", or "1,25" under a decimal comma
  const factor = Number(text.replace(',', '.')) || 1;
  const next = Math.round((factor + step) * 100) / 100;
  return vtl.window.setZoom({ factor: Math.max(0.25, next) });
}

// The close negotiation: the first attempt to close is refused by the host,
// which asks the page here; vtl.app.close() then closes for good.
async function onCloseQuery() {
  logEvent('onCloseQuery()');
  if (closing || $('confirm').open) return;                // asked again while closing or asking
  if ($('ask-before-closing').checked && !(await confirmInPage('Quit Vantrel Showcase?', 'Quit'))) {
    logEvent('the page keeps the window open');
    return;
  }
  closing = true;
  vtl.app.close();                                         // never answered: not awaited
}

// --------------------------------------------------------- button handlers

const actions = {
  // host and application
  hello: () => show($('log-host'), 'vtl.hello()', () => vtl.hello()),
  isRuntime: () => show($('log-host'), 'vtl.isRuntime()', () => vtl.isRuntime()),
  getArgs: () => show($('log-host'), 'app.getArgs()', () => vtl.app.getArgs()),
  inFullscreen: () => show($('log-host'), 'app.inFullscreen()', () => vtl.app.inFullscreen()),
  enterFullscreen: () => send($('log-host'), 'app.enterFullscreen()', () => vtl.app.enterFullscreen()),
  exitFullscreen: () => send($('log-host'), 'app.exitFullscreen()', () => vtl.app.exitFullscreen()),
  closeApp: () => vtl.events.onCloseQuery(),

  // files, folders, Base64
  async folders() {
    const log = $('log-files');
    for (const name of ['getTempDir', 'getUserDocumentsDir', 'getUserDesktopDir', 'getAppExecutableDir', 'getAppDataDir']) {
      await show(log, `folders.${name}()`, () => vtl.folders[name]());
    }
  },
  async writeTextFile() {
    const filePath = (await ensureWorkDir()) + 'notes.txt';
    const ok = await show($('log-files'), `files.writeTextFile(${filePath})`,
      () => vtl.files.writeTextFile({ filePath, contents: $('notes').value }));
    if (ok) $('written').src = fileUrl(filePath);
  },
  async fileExists() {
    const filePath = (await ensureWorkDir()) + 'notes.txt';
    await show($('log-files'), 'files.fileExists(notes.txt)', () => vtl.files.fileExists({ filePath }));
  },
  async extractFile() {
    const dir = await ensureWorkDir();
    // extractFile creates no folders: writeTextFile makes sure the work folder exists.
    await vtl.files.writeTextFile({ filePath: dir + 'readme.txt', contents: 'Files of the Vantrel showcase.' });
    const targetFile = dir + 'sample.txt';
    const ok = await show($('log-files'), 'files.extractFile(/data/sample.txt)',
      () => vtl.files.extractFile({ sourceFile: '/data/sample.txt', targetFile }));
    if (ok) $('written').src = fileUrl(targetFile);
    await show($('log-files'), 'files.extractFile(/no/such/file.txt)',
      () => vtl.files.extractFile({ sourceFile: '/no/such/file.txt', targetFile: dir + 'none.txt' }));
  },
  async decodeToFile() {
    const filePath = (await ensureWorkDir()) + 'decoded.png';
    const ok = await show($('log-files'), 'base64.decodeToFile(decoded.png)',
      () => vtl.base64.decodeToFile({ filePath, contents: SAMPLE_PNG }));
    if (ok) $('decoded').src = fileUrl(filePath);
  },
  async deleteFile() {
    const filePath = (await ensureWorkDir()) + 'notes.txt';
    await show($('log-files'), 'files.deleteFile(notes.txt)', () => vtl.files.deleteFile({ filePath }));
  },
  async dirExists() {
    const dirPath = await ensureWorkDir();
    await show($('log-files'), 'folders.dirExists(work folder)', () => vtl.folders.dirExists({ dirPath }));
  },
  async deleteDir() {
    const dirPath = await ensureWorkDir();
    if (!(await confirmInPage(`Delete ${dirPath} with everything in it? It does not go to the recycle bin.`, 'Delete'))) return;
    await show($('log-files'), 'folders.deleteDir(work folder)', () => vtl.folders.deleteDir({ dirPath }));
  },
  missingPath: () => show($('log-files'), 'files.fileExists({filePath: ""})', () => vtl.files.fileExists({ filePath: '' })),

  // dialogs
  openFile: () => show($('log-dialogs'), 'dialogs.openFile', () =>
    vtl.dialogs.openFile({ title: 'Pick any file', fileTypes: $('file-types').value })),
  saveFile: () => show($('log-dialogs'), 'dialogs.saveFile', () =>
    vtl.dialogs.saveFile({ title: 'Save as', fileName: 'notes.txt', fileTypes: $('file-types').value, overwritePrompt: true })),
  selFolder: () => show($('log-dialogs'), 'dialogs.selFolder', () => vtl.dialogs.selFolder({ title: 'Pick a folder' })),

  // window
  getStyle: () => show($('log-window'), 'window.getStyle()', () => vtl.window.getStyle()),
  async toggleOnTop() {
    const style = (await vtl.window.getStyle()) === 'ontop' ? 'normal' : 'ontop';
    await show($('log-window'), `window.setStyle(${style})`, () => vtl.window.setStyle({ style }));
    await vtl.mainMenu.updateItem({ id: 201, caption: style === 'ontop' ? '✓ Always on &top' : 'Always on &top' }).catch(() => {});
  },
  getState: () => show($('log-window'), 'window.getState()', () => vtl.window.getState()),
  maximize: () => show($('log-window'), 'window.setState(maximized)', () => vtl.window.setState({ state: 'maximized' })),
  restore: () => show($('log-window'), 'window.setState(normal)', () => vtl.window.setState({ state: 'normal' })),
  minimize: () => show($('log-window'), 'window.setState(minimized)', () => vtl.window.setState({ state: 'minimized' })),
  setTitle: () => show($('log-window'), 'window.setTitle', () => vtl.window.setTitle({ title: $('title').value })),
  getTitle: () => show($('log-window'), 'window.getTitle()', () => vtl.window.getTitle()),
  getZoom: () => show($('log-window'), 'window.getZoom()', () => vtl.window.getZoom()),
  zoomIn: () => show($('log-window'), 'zoom + 0.1', () => zoomBy(0.1)),
  zoomOut: () => show($('log-window'), 'zoom − 0.1', () => zoomBy(-0.1)),
  zoomReset: () => show($('log-window'), 'window.setZoom(1)', () => vtl.window.setZoom({ factor: 1 })),
  async getSize() {
    const size = await show($('log-window'), 'window.getSize()', () => vtl.window.getSize());
    if (size) for (const key of ['top', 'left', 'width', 'height']) $(key).value = size[key];
  },
  setSize() {
    const args = {};
    for (const key of ['top', 'left', 'width', 'height']) if ($(key).value !== '') args[key] = Number($(key).value);
    return show($('log-window'), `window.setSize(${JSON.stringify(args)})`, () => vtl.window.setSize(args));
  },

  // themes
  async getThemes() {
    const names = await show($('log-themes'), 'themes.getThemes()', () => vtl.themes.getThemes());
    if (!names) return;
    const list = $('theme-list');
    list.replaceChildren(...names.map((name) => new Option(name, name)));
    list.value = await vtl.themes.getTheme();
  },
  getTheme: () => show($('log-themes'), 'themes.getTheme()', () => vtl.themes.getTheme()),
  setTheme() {
    const name = $('theme-list').value;
    return show($('log-themes'), `themes.setTheme(${name})`, () => vtl.themes.setTheme({ name }));
  },

  // shell
  execute: () => show($('log-shell'), `shell.execute(${$('program').value})`, () => vtl.shell.execute({ filePath: $('program').value })),
  async explore() {
    const filePath = await ensureWorkDir();
    await show($('log-shell'), 'shell.explore(work folder)', () => vtl.shell.explore({ filePath }));
  },
  async command() {
    const workingDir = await ensureWorkDir();
    await vtl.files.writeTextFile({ filePath: workingDir + 'readme.txt', contents: 'Files of the Vantrel showcase.' });
    const output = await show($('log-shell'), `shell.command(${$('command').value})`,
      () => vtl.shell.command({ command: $('command').value, workingDir }));
    if (output !== undefined) $('command-output').textContent = output;
  },
  async windows() {
    const list = await show($('log-shell'), 'shell.windows()', () => vtl.shell.windows());
    if (list === undefined) return;
    $('window-list').replaceChildren(...list.slice(0, 40).map((caption) => {
      const item = document.createElement('li');
      item.textContent = caption;
      return item;
    }));
  },

  // registry
  writeValue: () => registry('writeValue', { value: $('reg-value').value }),
  readValue: () => registry('readValue'),
  valueExist: () => registry('valueExist'),
  deleteValue: () => registry('deleteValue'),
  keyExist: () => registry('keyExist', {}, false),
  deleteKey: () => registry('deleteKey', {}, false),

  // notifications
  notification() {
    const args = { name: $('notif-name').value, title: $('notif-title').value, body: $('notif-body').value };
    return show($('log-notifications'), `system.notification(${args.name})`, () => vtl.system.notification(args));
  },

  // menu and tray
  setMainMenu: () => show($('log-menus'), 'mainMenu.setItems', () => vtl.mainMenu.setItems({ items: JSON.stringify(MAIN_MENU) })),
  async toggleAbout() {
    aboutEnabled = !aboutEnabled;
    await show($('log-menus'), `mainMenu.updateItem(301, enabled ${aboutEnabled})`,
      () => vtl.mainMenu.updateItem({ id: 301, enabled: aboutEnabled }));
  },
  async brokenMenu() {
    // The second item has no caption: the whole menu is refused and left empty.
    const items = JSON.stringify([{ id: 1, caption: 'Fine' }, { id: 2 }]);
    await show($('log-menus'), 'mainMenu.setItems(broken)', () => vtl.mainMenu.setItems({ items }));
    await show($('log-menus'), 'mainMenu.updateItem(1)', () => vtl.mainMenu.updateItem({ id: 1, caption: 'x' }));
  },
  async showIcon() {
    if (await show($('log-menus'), 'trayMenu.showIcon()', () => vtl.trayMenu.showIcon())) trayShown = true;
  },
  setTrayMenu: () => show($('log-menus'), 'trayMenu.setItems', () => vtl.trayMenu.setItems({ items: JSON.stringify(TRAY_MENU) })),
  updateTrayItem() {
    const caption = `&Notify me (renamed ${++trayRenames}×)`;
    return show($('log-menus'), 'trayMenu.updateItem(2)', () => vtl.trayMenu.updateItem({ id: 2, caption }));
  },
  async hideIcon() {
    if (await show($('log-menus'), 'trayMenu.hideIcon()', () => vtl.trayMenu.hideIcon())) trayShown = false;
  },
  async toTray() {
    if (!trayShown) await actions.showIcon();
    await actions.setTrayMenu();
    await show($('log-menus'), 'window.setState(minimized)', () => vtl.window.setState({ state: 'minimized' }));
  },

  // session
  logoff: () => power('logoff', 'Log off now? Every program closes without saving.'),
  reboot: () => power('reboot', 'Restart the computer now? Every program closes without saving.'),
  shutdown: () => power('shutdown', 'Shut the computer down now? Every program closes without saving.'),
};

function registry(fn, extra = {}, withName = true) {
  const args = { key: $('reg-key').value, ...extra };
  if (withName) args.name = $('reg-name').value;
  return show($('log-registry'), `registry.${fn}(${withName ? args.name : args.key})`, () => vtl.registry[fn](args));
}

async function power(fn, question) {
  if (!$('unlock-power').checked || !(await confirmInPage(question, 'Yes, go on'))) return;
  await show($('log-closing'), `system.${fn}()`, () => vtl.system[fn]());
}

// ------------------------------------------------------------------ events

function installEvents() {
  vtl.events.onCloseQuery = onCloseQuery;

  vtl.events.onMainMenuItemClick = (itemId) => {
    logEvent(`onMainMenuItemClick("${itemId}")`);
    const menu = {
      101: actions.openFile,
      102: actions.saveFile,
      103: () => vtl.events.onCloseQuery(),
      201: actions.toggleOnTop,
      202: actions.enterFullscreen,
      203: actions.zoomIn,
      204: actions.zoomOut,
      205: actions.zoomReset,
      301: () => vtl.system.notification({ name: 'about', title: 'Vantrel Showcase', body: 'Every namespace of window.vtl on one page.' }),
    }[itemId];
    if (menu) menu();
  };

  vtl.events.onTrayIconClick = () => {
    logEvent('onTrayIconClick()');
    vtl.window.setState({ state: 'normal' });
  };

  vtl.events.onTrayMenuItemClick = (itemId) => {
    logEvent(`onTrayMenuItemClick("${itemId}")`);
    if (itemId === '1') vtl.window.setState({ state: 'normal' });
    if (itemId === '2') actions.notification();
    if (itemId === '3') {
      vtl.window.setState({ state: 'normal' });
      vtl.events.onCloseQuery();
    }
  };

  vtl.events.onNotificationClick = (notifName) => {
    logEvent(`onNotificationClick("${notifName}")`);
    vtl.window.setState({ state: 'normal' });
  };
}

// -------------------------------------------------------------------- start

function start() {
  document.querySelectorAll('button[data-action]').forEach((button) => {
    button.addEventListener('click', () => actions[button.dataset.action]());
  });
  $('unlock-power').addEventListener('change', (e) => {
    document.querySelectorAll('button.danger').forEach((b) => { b.disabled = !e.target.checked; });
  });
  $('user-script').textContent = window.showcaseUserScript || 'not run';

  if (!window.vtl) {
    $('status').textContent = 'No host here: open this page inside the packaged program (build/demo/showcase.exe).';
    document.querySelectorAll('button').forEach((b) => { b.disabled = true; });
    return;
  }
  installEvents();
  vtl.hello().then((version) => {
    $('status').textContent = `Bridge version ${version}: every button below talks to the host.`;
  });
  ensureWorkDir();
  actions.getThemes();
  actions.getSize();
  actions.setMainMenu();
}

start();
