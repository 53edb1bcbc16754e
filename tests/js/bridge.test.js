'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const {loadBridge, commandTable} = require('./stand_in.js');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const settled = (promise) =>
  promise.then((value) => ({resolved: value}), (reason) => ({rejected: reason}));
const reply = (uuid, success, result) =>
  `{"uuid": ${JSON.stringify(uuid)}, "success": ${success}, "result": ${result}}`;

test('the script is UTF-8 with a byte-order mark', () => {
  const {bytes} = loadBridge();
  assert.deepEqual([...bytes.subarray(0, 3)], [0xef, 0xbb, 0xbf]);
});

test('uuids have the version-4 form', () => {
  const {vtl, posted} = loadBridge();
  for (let i = 0; i < 200; i++) vtl.hello();
  const uuids = posted.map((m) => m.uuid);
  for (const uuid of uuids) assert.match(uuid, /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/);
  assert.equal(new Set(uuids).size, uuids.length);

  // Every x from one random number, every y from its two low bits plus 8.
  const draws = [0.99, 0.0, 0.5, 0.2];
  let n = 0;
  const fixed = loadBridge({random: () => draws[n++ % draws.length]});
  fixed.vtl.hello();
  assert.equal(fixed.posted[0].uuid, 'f083f083-f083-4f08-bf08-3f083f083f08');
});

test('one listener per call, removed when its reply arrives', async () => {
  const {vtl, posted, listeners, reply: deliver} = loadBridge();
  const a = settled(vtl.files.fileExists({filePath: 'a.txt'}));
  const b = settled(vtl.files.fileExists({filePath: 'b.txt'}));
  assert.equal(listeners.size, 2);
  deliver(reply('someone-else', true, 'true'));
  assert.equal(listeners.size, 2);
  deliver(reply(posted[0].uuid, true, 'true'));
  assert.equal(listeners.size, 1);
  deliver(reply(posted[0].uuid, false, '"late duplicate"'));
  assert.deepEqual(await a, {resolved: true});
  deliver(reply(posted[1].uuid, true, 'false'));
  assert.equal(listeners.size, 0);
  assert.deepEqual(await b, {resolved: false});
});

test('success resolves and failure rejects with the result', async () => {
  const {vtl, posted, reply: deliver} = loadBridge();
  const cases = [
    [true, '"2023.1"', {resolved: '2023.1'}],
    [false, '"Missing filePath"', {rejected: 'Missing filePath'}],
    [true, '{"top": 1, "left": 2, "width": 3, "height": 4}', {resolved: {top: 1, left: 2, width: 3, height: 4}}],
    [true, '["C:\\\\App\\\\a.exe"]', {resolved: ['C:\\App\\a.exe']}],
  ];
  const promises = cases.map(() => settled(vtl.hello()));
  cases.forEach(([success, result], i) => deliver(reply(posted[i].uuid, success, result)));
  for (let i = 0; i < cases.length; i++) assert.deepEqual(await promises[i], cases[i][2]);
});

test('replies out of order settle their own calls', async () => {
  const {vtl, posted, reply: deliver} = loadBridge();
  const calls = ['a', 'b', 'c'].map((name) => settled(vtl.dialogs.openFile({title: name})));
  for (const i of [2, 0, 1]) deliver(reply(posted[i].uuid, true, JSON.stringify(posted[i].data.title)));
  assert.deepEqual(await Promise.all(calls), [{resolved: 'a'}, {resolved: 'b'}, {resolved: 'c'}]);
});

test('a call without arguments posts no data, one without parameters posts {}', () => {
  const {vtl, posted} = loadBridge();
  vtl.files.fileExists();
  vtl.folders.getTempDir('ignored');
  assert.deepEqual(Object.keys(posted[0]), ['id', 'uuid']);
  assert.equal(posted[0].id, 30001);
  assert.deepEqual(posted[1].data, {});
});

test('namespaces and functions follow the host command table', () => {
  const {vtl, posted} = loadBridge();
  const table = commandTable();
  assert.equal(table.length, 55);

  const namespaces = [];
  const functions = {};
  for (const {name} of table) {
    const [ns, fn] = name.includes('.') ? name.split('.') : [null, name];
    if (ns === null) continue;
    if (!functions[ns]) {
      functions[ns] = [];
      namespaces.push(ns);
    }
    functions[ns].push(fn);
  }
  const order = ['dialogs', 'files', 'folders', 'app', 'window', 'shell', 'themes', 'base64', 'system',
                 'mainMenu', 'registry', 'trayMenu'];
  assert.deepEqual(Object.keys(vtl), ['call', 'hello', 'isRuntime', ...order, 'events']);
  assert.deepEqual([...namespaces].sort(), [...order].sort());
  for (const ns of order) assert.deepEqual(Object.keys(vtl[ns]), functions[ns], ns);

  // Each function posts its own id, with the caller's object or with {}.
  for (const {id, name, takesArgs} of table) {
    const args = {probe: name};
    const target = name.includes('.') ? vtl[name.split('.')[0]] : vtl;
    target[name.split('.').pop()](args);
    const message = posted.at(-1);
    assert.equal(message.id, id, name);
    assert.deepEqual(message.data, takesArgs ? args : {}, name);
  }
});

test('default event handlers', () => {
  const {vtl, posted} = loadBridge();
  assert.deepEqual(Object.keys(vtl.events),
                   ['onCloseQuery', 'onMainMenuItemClick', 'onTrayMenuItemClick', 'onTrayIconClick',
                    'onNotificationClick']);
  vtl.events.onMainMenuItemClick('1');
  vtl.events.onTrayMenuItemClick('2');
  vtl.events.onTrayIconClick();
  vtl.events.onNotificationClick('n');
  assert.equal(posted.length, 0);
  // The host runs "vtl.events.onCloseQuery();": by default the app closes.
  assert.equal(vtl.events.onCloseQuery(), undefined);
  assert.deepEqual(posted.map((m) => [m.id, m.data]), [[50001, {}]]);
});

// The host's close query, as ExecuteScript gives its value: the JSON of the
// script's completion value, null when it is undefined or the script threw.
test('the close query tells whether the page can answer', () => {
  const source = fs.readFileSync(path.join(__dirname, '../../src/core/bridge/browser_external_module.cpp'), 'utf8');
  const script = JSON.parse(source.match(/CloseQueryEventScript\(\) \{ return ("(?:[^"\\]|\\.)*"); \}/)[1]);
  const valueOf = (context) => {
    try {
      const value = vm.runInContext(script, context);
      return JSON.stringify(value === undefined ? null : value);
    } catch {
      return 'null';
    }
  };
  const page = loadBridge();
  assert.equal(valueOf(page.window), 'true');
  assert.deepEqual(page.posted.map((m) => m.id), [50001]);  // the default closes

  const asking = loadBridge();
  asking.vtl.events.onCloseQuery = () => {};  // asks the user first
  assert.equal(valueOf(asking.window), 'true');
  assert.equal(asking.posted.length, 0);

  const throwing = loadBridge();
  throwing.vtl.events.onCloseQuery = () => { throw new Error('broken'); };
  assert.equal(valueOf(throwing.window), 'null');

  assert.equal(valueOf(vm.createContext({})), 'null');  // no bridge: a remote or error page
});
