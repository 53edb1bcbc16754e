// The showcase page (examples/showcase) run against a stand-in document and a
// recording window.vtl. Under Wine there is no real web view, so this is where
// a misspelt command, a missing element id or a menu image that is not in the
// package would show before a user meets it.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const root = path.resolve(__dirname, '..', '..');
const project = path.join(root, 'examples', 'showcase');
const html = fs.readFileSync(path.join(project, 'app', 'index.html'), 'utf8');
const script = fs.readFileSync(path.join(project, 'app', 'app.js'), 'utf8');

const commands = new Map([...fs.readFileSync(path.join(root, 'src/core/bridge/command_table.cpp'), 'utf8')
  .matchAll(/\{\s*(\d+),\s*"([\w.]+)",\s*(true|false),/g)].map(([, , name, args]) => [name, args === 'true']));
const dirName = fs.readFileSync(path.join(project, 'vtl.ini'), 'utf8').match(/^DirName=(.*)$/m)[1].trim();

// ------------------------------------------------------ a stand-in document

const entities = (s) => s.replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');

class Element {
  constructor(attributes = {}) {
    this.id = attributes.id || '';
    this.value = attributes.value !== undefined ? entities(attributes.value) : '';
    this.checked = 'checked' in attributes;
    this.disabled = 'disabled' in attributes;
    this.className = attributes.class || '';
    this.dataset = attributes['data-action'] ? { action: attributes['data-action'] } : {};
    this.textContent = '';
    this.src = '';
    this.open = false;
    this.returnValue = '';
    this.children = [];
    this.listeners = {};
  }
  get childElementCount() { return this.children.length; }
  get lastElementChild() { return this.children[this.children.length - 1]; }
  prepend(child) { this.children.unshift(child); child.parent = this; }
  remove() { if (this.parent) this.parent.children.splice(this.parent.children.indexOf(this), 1); }
  replaceChildren(...children) { this.children = children; }
  addEventListener(type, listener, options) { (this.listeners[type] ||= []).push({ listener, once: options && options.once }); }
  dispatch(type, event = {}) {
    const listeners = this.listeners[type] || [];
    this.listeners[type] = listeners.filter((l) => !l.once);
    for (const { listener } of listeners) listener({ target: this, ...event });
  }
}

// Every tag of the page with its attributes; textareas with their text as value.
function parsePage() {
  const elements = [];
  for (const [, tag, attrText, rest] of html.matchAll(/<(\w+)\b([^>]*)>([^<]*)/g)) {
    const attributes = {};
    for (const [, name, value] of attrText.matchAll(/([\w-]+)(?:="([^"]*)")?/g)) attributes[name] = value === undefined ? '' : value;
    if (tag === 'textarea') attributes.value = rest;
    elements.push({ tag, element: new Element(attributes) });
  }
  return elements;
}

// Loads the page with a fresh document and a window.vtl that records calls.
function loadPage({ confirmAnswer = 'yes' } = {}) {
  const page = parsePage();
  const byId = new Map(page.filter((e) => e.element.id).map((e) => [e.element.id, e.element]));
  const buttons = page.filter((e) => e.tag === 'button').map((e) => e.element);
  const calls = [];
  const problems = [];

  const dialog = byId.get('confirm');
  dialog.showModal = () => {
    dialog.open = true;
    setImmediate(() => {
      dialog.open = false;
      dialog.returnValue = state.confirmAnswer;
      dialog.dispatch('close');
    });
  };

  const answers = {
    'hello': '2023.1',
    'app.getArgs': ['C:\\Apps\\showcase.exe'],
    'window.getStyle': 'normal',
    'window.getState': 'normal',
    'window.getTitle': 'Vantrel Showcase',
    'window.getZoom': '1,25',
    'window.getSize': { top: 50, left: 50, width: 1180, height: 800 },
    'themes.getTheme': 'Windows',
    'themes.getThemes': ['Carbon', 'Windows'],
    'shell.command': 'Hello from cmd\r\n',
    'shell.windows': ['Vantrel Showcase'],
    'registry.readValue': 'Hello from the page',
  };
  const neverAnswered = new Set(['app.close', 'app.enterFullscreen', 'app.exitFullscreen']);

  function command(name) {
    return (...args) => {
      calls.push({ name, args });
      if (!commands.has(name)) problems.push(`${name} is no command of the bridge`);
      else if (commands.get(name) && (args.length !== 1 || typeof args[0] !== 'object' || args[0] === null)) {
        problems.push(`${name} needs an argument object, or the host never answers`);
      }
      checkArguments(name, args[0], problems);
      if (neverAnswered.has(name)) return new Promise(() => {});
      if (name.startsWith('folders.get')) return Promise.resolve('C:\\Users\\Ann\\AppData\\Local\\Temp\\');
      return Promise.resolve(name in answers ? answers[name] : true);
    };
  }
  const namespace = (ns) => new Proxy({}, { get: (_, fn) => (typeof fn === 'string' ? command(`${ns}.${fn}`) : undefined) });
  const vtl = {
    hello: command('hello'),
    isRuntime: command('isRuntime'),
    events: { onCloseQuery() {}, onMainMenuItemClick() {}, onTrayIconClick() {}, onTrayMenuItemClick() {}, onNotificationClick() {} },
  };
  const defaults = { ...vtl.events };
  for (const ns of new Set([...commands.keys()].filter((n) => n.includes('.')).map((n) => n.split('.')[0]))) vtl[ns] = namespace(ns);

  const document = {
    getElementById(id) {
      if (!byId.has(id)) throw new Error(`the page has no element #${id}`);
      return byId.get(id);
    },
    querySelectorAll(selector) {
      if (selector === 'button[data-action]') return buttons.filter((b) => b.dataset.action);
      if (selector === 'button.danger') return buttons.filter((b) => b.className.split(' ').includes('danger'));
      if (selector === 'button') return buttons;
      throw new Error(`the stand-in knows no selector ${selector}`);
    },
    createElement: () => new Element(),
  };
  const context = vm.createContext({
    document,
    console,
    setImmediate,
    Option: class Option extends Element { constructor(text, value) { super({ value }); this.textContent = text; } },
  });
  context.window = context;
  context.vtl = vtl;
  context.showcaseUserScript = 'ran';
  const state = { confirmAnswer };
  vm.runInContext(script, context, { filename: 'app.js' });
  return { context, vtl, defaults, byId, buttons, calls, problems, state };
}

// Menu JSON, menu images and package paths that only a real host would trip over.
function checkArguments(name, args, problems) {
  if (/^(mainMenu|trayMenu)\.setItems$/.test(name)) {
    const walk = (items) => {
      if (!Array.isArray(items)) return problems.push(`${name}: the item list is not an array`);
      for (const item of items) {
        if (item.id === undefined || item.caption === undefined) problems.push(`${name}: an item without id or caption`);
        if (item.image && !fs.existsSync(path.join(project, item.image))) problems.push(`${name}: ${item.image} is not in the package`);
        if (item.items !== undefined) walk(item.items);
      }
      return undefined;
    };
    let items;
    try { items = JSON.parse(args.items); } catch { problems.push(`${name}: items is not JSON text`); }
    // The showcase sends one malformed menu on purpose, to show the refusal.
    if (items && !(items.length === 2 && items[1].caption === undefined)) walk(items);
  }
  if (name === 'files.extractFile' && !args.sourceFile.startsWith('/no/such/')) {
    if (!args.sourceFile.startsWith('/')) problems.push('files.extractFile: sourceFile must start with "/"');
    if (!fs.existsSync(path.join(project, dirName + args.sourceFile))) problems.push(`files.extractFile: ${args.sourceFile} is not in the package`);
  }
}

const settle = async () => { for (let i = 0; i < 20; ++i) await new Promise((r) => setImmediate(r)); };

async function clickEverything(page) {
  page.byId.get('unlock-power').checked = true;
  page.byId.get('unlock-power').dispatch('change');
  for (const button of page.buttons.filter((b) => b.dataset.action)) {
    button.dispatch('click');
    await settle();
  }
  const events = page.vtl.events;
  for (const id of ['101', '102', '201', '202', '203', '204', '205', '301']) events.onMainMenuItemClick(id);
  events.onTrayIconClick();
  for (const id of ['1', '2']) events.onTrayMenuItemClick(id);
  events.onNotificationClick('greeting');
  await settle();
}

// ------------------------------------------------------------------- tests

test('every button and event of the showcase calls real commands, and together they call all of them', async () => {
  const unhandled = [];
  const onUnhandled = (reason) => unhandled.push(String(reason));
  process.on('unhandledRejection', onUnhandled);
  try {
    const page = loadPage();
    await settle();
    await clickEverything(page);
    assert.deepEqual(page.problems, []);
    assert.deepEqual(unhandled, []);
    const called = new Set(page.calls.map((c) => c.name));
    assert.deepEqual([...commands.keys()].filter((name) => !called.has(name)), []);
    for (const [name, handler] of Object.entries(page.vtl.events)) {
      assert.notEqual(handler, page.defaults[name], `the showcase installs its own ${name}`);
    }
  } finally {
    process.off('unhandledRejection', onUnhandled);
  }
});

test('every button of the page has a handler', () => {
  const page = loadPage();
  const actions = vm.runInContext('actions', page.context);
  const missing = page.buttons.filter((b) => b.dataset.action && typeof actions[b.dataset.action] !== 'function');
  assert.deepEqual(missing.map((b) => b.dataset.action), []);
});

test('the close negotiation closes only after the confirmation, and only once', async () => {
  const cases = [
    { name: 'declined', answer: 'no', ask: true, closes: 0 },
    { name: 'confirmed', answer: 'yes', ask: true, closes: 1 },
    { name: 'not asked', answer: 'no', ask: false, closes: 1 },
  ];
  for (const c of cases) {
    const page = loadPage({ confirmAnswer: c.answer });
    page.byId.get('ask-before-closing').checked = c.ask;
    page.vtl.events.onCloseQuery();
    await settle();
    // The host asks once more while the window closes; that must not close twice.
    page.vtl.events.onCloseQuery();
    await settle();
    const closes = page.calls.filter((call) => call.name === 'app.close').length;
    assert.equal(closes, c.closes, c.name);
  }
});
