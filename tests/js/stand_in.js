// Loads the bridge script into a fresh global with a stand-in web view that
// records posted requests and delivers replies to the listeners, as the
// web view does: every "message" listener sees every reply.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const root = path.resolve(__dirname, '..', '..');
const scriptPath = path.join(root, 'src', 'resources', 'bridge.js');
const tablePath = path.join(root, 'src', 'core', 'bridge', 'command_table.cpp');

function loadBridge({random} = {}) {
  const listeners = new Set();
  const posted = [];
  const webview = {
    addEventListener(type, listener) {
      if (type === 'message') listeners.add(listener);
    },
    removeEventListener(type, listener) {
      if (type === 'message') listeners.delete(listener);
    },
    // The web view serialises the object: undefined members disappear.
    postMessage(message) {
      posted.push(JSON.parse(JSON.stringify(message)));
    },
  };
  const context = {chrome: {webview}, Promise};
  context.window = context;
  context.Math = Object.create(Math);
  if (random) context.Math.random = random;
  vm.createContext(context);
  const bytes = fs.readFileSync(scriptPath);
  vm.runInContext(bytes.toString('utf8'), context, {filename: scriptPath});
  return {
    vtl: context.vtl,
    window: context,
    posted,
    listeners,
    bytes,
    // Delivers a reply as PostWebMessageAsJson would.
    reply(text) {
      const data = JSON.parse(text);
      for (const listener of [...listeners]) listener({data});
    },
  };
}

// {id, name, takesArgs} rows of the host's command table, in table order.
function commandTable() {
  const text = fs.readFileSync(tablePath, 'utf8');
  const rows = [];
  for (const m of text.matchAll(/\{(\d+), "([\w.]+)", (true|false), &\w+\}/g))
    rows.push({id: Number(m[1]), name: m[2], takesArgs: m[3] === 'true'});
  return rows;
}

module.exports = {loadBridge, commandTable};
