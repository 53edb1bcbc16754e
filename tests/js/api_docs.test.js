// The page authors' reference (docs/api.md) and declarations (types/vtl.d.ts)
// against the code they describe: the bridge's command table, the event
// scripts the host runs, and the table of [App] settings keys.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const read = (file) => fs.readFileSync(path.join(root, file), 'utf8');

// ---------------------------------------------------------------- the code

// Rows such as {20001, "dialogs.openFile", true, &DialogsOpenFile},
function commandTable() {
  const rows = [...read('src/core/bridge/command_table.cpp')
    .matchAll(/\{\s*(\d+),\s*"([\w.]+)",\s*(true|false),\s*&\w+\s*\}/g)];
  return rows.map(([, id, name, takesArgs]) => ({ id: Number(id), name, takesArgs: takesArgs === 'true' }));
}

// Handler names in the event scripts: "vtl.events.onX(" and ClickScript("onX", ...).
function eventHandlers() {
  const source = read('src/core/bridge/browser_external_module.cpp');
  const names = new Set();
  for (const [, name] of source.matchAll(/vtl\.events\.(\w+)\(/g)) names.add(name);
  for (const [, name] of source.matchAll(/ClickScript\("(\w+)"/g)) names.add(name);
  return [...names].sort();
}

// Rows such as {"Width", T::Integer, "", 800, nullptr, &S::Width},
function settingsKeys() {
  const rows = [...read('src/core/settings.cpp')
    .matchAll(/\{"(\w+)",\s*T::(String|Integer|Boolean),\s*"([^"]*)",\s*([^,]+),/g)];
  return rows.map(([, name, type, text, number]) => {
    // The hexadecimal literal first: static_cast<int32_t>(0xFF00001Au) holds a 32 too.
    const literal = (number.match(/0x[0-9a-f]+/i) || number.match(/-?\d+/))[0];
    return { name, type, text, number: Number(literal) >>> 0 };
  });
}

// ------------------------------------------------------------ the documents

// `#### \`vtl.files.fileExists(args)\`` followed by a line "Id 30001. ..."
function documentedFunctions(markdown) {
  const found = [];
  const lines = markdown.split('\n');
  lines.forEach((line, i) => {
    const heading = line.match(/^#### `vtl\.([\w.]+)\(([^)]*)\)`\s*$/);
    if (!heading) return;
    const next = lines.slice(i + 1).find((l) => l.trim() !== '') || '';
    const id = next.match(/^Id (\d+)\./);
    found.push({ name: heading[1], params: heading[2], id: id ? Number(id[1]) : null });
  });
  return found;
}

// The rows of the table under "## Settings".
function documentedSettings(markdown) {
  const section = markdown.split(/^## /m).find((s) => s.startsWith('Settings'));
  assert.ok(section, 'docs/api.md has a section "## Settings"');
  return [...section.matchAll(/^\| `(\w+)` \| (text|integer|Boolean) \| ([^|]+?) \|/gm)]
    .map(([, name, type, def]) => ({ name, type, def }));
}

// A small reader for the declaration file: interfaces and their members.
function declaredInterfaces(source) {
  const text = source.replace(/\/\*[\s\S]*?\*\//g, '').replace(/\/\/.*$/gm, '');
  const interfaces = new Map();
  for (const match of text.matchAll(/\binterface\s+(\w+)[^{]*\{/g)) {
    let depth = 1;
    let at = match.index + match[0].length;
    const start = at;
    for (; depth > 0 && at < text.length; ++at) {
      if (text[at] === '{') ++depth;
      else if (text[at] === '}') --depth;
    }
    interfaces.set(match[1], members(text.slice(start, at - 1)));
  }
  return interfaces;
}

// Splits a body at the semicolons outside brackets; each member is a method
// (with its parameter text) or a property (with its type text).
function members(body) {
  const result = [];
  let depth = 0;
  let current = '';
  for (const ch of body) {
    if ('{(['.includes(ch)) ++depth;
    if ('})]'.includes(ch)) --depth;
    if (ch === ';' && depth === 0) {
      result.push(current.trim());
      current = '';
    } else {
      current += ch;
    }
  }
  return result.filter(Boolean).map((member) => {
    const method = member.match(/^(\w+)\s*(?:<[^>]*>)?\s*\(([\s\S]*?)\)\s*:/);
    if (method) return { name: method[1], kind: 'method', params: method[2].trim() };
    const property = member.match(/^(?:readonly\s+)?(\w+)\??\s*:\s*([\s\S]+)$/);
    assert.ok(property, `a member the check cannot read: ${member}`);
    return { name: property[1], kind: 'property', type: property[2].trim() };
  });
}

// "files.fileExists" and the like, per namespace; "" holds the bridge's own.
function byNamespace(names) {
  const groups = {};
  for (const name of names) {
    const dot = name.lastIndexOf('.');
    const ns = dot < 0 ? '' : name.slice(0, dot);
    (groups[ns] ||= []).push(name);
  }
  for (const ns of Object.keys(groups)) groups[ns].sort();
  return groups;
}

// ------------------------------------------------------------------- tests

const commands = commandTable();
const markdown = read('docs/api.md');

test('the command table reads as 55 commands', () => {
  // A change of the table's row format must not make every check below vacuous.
  assert.equal(commands.length, 55);
  assert.ok(eventHandlers().length > 0);
});

test('api.md documents exactly the functions of the command table, with their ids and arguments', () => {
  const documented = documentedFunctions(markdown).filter((f) => f.name !== 'call' && !f.name.startsWith('events.'));
  assert.deepEqual(byNamespace(documented.map((f) => f.name)), byNamespace(commands.map((c) => c.name)));
  for (const command of commands) {
    const doc = documented.find((f) => f.name === command.name);
    assert.equal(doc.id, command.id, `id under the heading of ${command.name}`);
    assert.equal(doc.params, command.takesArgs ? 'args' : '', `arguments in the heading of ${command.name}`);
  }
  const duplicates = documented.filter((f, i) => documented.findIndex((g) => g.name === f.name) !== i);
  assert.deepEqual(duplicates, []);
});

test('api.md documents exactly the events the host raises', () => {
  const documented = documentedFunctions(markdown)
    .filter((f) => f.name.startsWith('events.'))
    .map((f) => f.name.slice('events.'.length));
  assert.deepEqual(documented.sort(), eventHandlers());
});

test('vtl.d.ts declares exactly the functions of the command table, with an argument object where the host reads one', () => {
  const interfaces = declaredInterfaces(read('types/vtl.d.ts'));
  const bridge = interfaces.get('Bridge');
  assert.ok(bridge, 'interface Vtl.Bridge');

  const declared = [];
  const signatures = new Map();
  for (const member of bridge) {
    if (member.kind === 'method') {
      if (member.name === 'call') continue;
      declared.push(member.name);
      signatures.set(member.name, member.params);
    } else if (member.name !== 'events') {
      const type = interfaces.get(member.type);
      assert.ok(type, `the interface ${member.type} of vtl.${member.name}`);
      for (const fn of type) {
        assert.equal(fn.kind, 'method', `vtl.${member.name}.${fn.name} is declared as a method`);
        declared.push(`${member.name}.${fn.name}`);
        signatures.set(`${member.name}.${fn.name}`, fn.params);
      }
    }
  }
  assert.deepEqual(byNamespace(declared), byNamespace(commands.map((c) => c.name)));
  for (const command of commands) {
    const params = signatures.get(command.name);
    if (command.takesArgs) {
      // Required: without an argument object the host never answers.
      assert.match(params, /^args\s*:/, `${command.name} takes a required argument object`);
    } else {
      assert.equal(params, '', `${command.name} takes no arguments`);
    }
  }
});

test('vtl.d.ts declares exactly the events the host raises', () => {
  const interfaces = declaredInterfaces(read('types/vtl.d.ts'));
  const events = interfaces.get('Events');
  assert.ok(events, 'interface Vtl.Events');
  assert.deepEqual(events.map((e) => e.name).sort(), eventHandlers());
  for (const handler of events) assert.equal(handler.kind, 'property', `${handler.name} is assignable`);
});

test('api.md lists exactly the [App] settings keys, with their types and defaults', () => {
  const code = settingsKeys();
  const documented = documentedSettings(markdown);
  assert.deepEqual(documented.map((k) => k.name), code.map((k) => k.name));
  const types = { String: 'text', Integer: 'integer', Boolean: 'Boolean' };
  for (const key of code) {
    const doc = documented.find((k) => k.name === key.name);
    assert.equal(doc.type, types[key.type], `type of ${key.name}`);
    if (key.type === 'String') {
      assert.equal(doc.def, key.text === '' ? 'empty' : `\`${key.text}\``, `default of ${key.name}`);
    } else {
      const number = /^0x/i.test(doc.def) ? parseInt(doc.def, 16) : Number(doc.def);
      assert.equal(number >>> 0, key.number, `default of ${key.name}`);
    }
  }
});

test('api.md lists exactly the styles the runtime carries, in the order getThemes answers', () => {
  const carried = [...read('src/core/themes.cpp').matchAll(/\{"[A-Z0-9]+",\s*"([^"]+)"\}/g)].map(([, name]) => name);
  assert.ok(carried.length > 0, 'the style table of src/core/themes.cpp reads');
  const expected = [...carried, 'Windows'].sort((a, b) => {
    const [x, y] = [a.toLowerCase(), b.toLowerCase()];
    return x < y ? -1 : x > y ? 1 : 0;
  });
  const sentence = markdown.match(/sorted without regard to letter case: ([^.]+)\./);
  assert.ok(sentence, 'the list of styles under themes.getThemes');
  assert.deepEqual(sentence[1].split(', '), expected);
});
