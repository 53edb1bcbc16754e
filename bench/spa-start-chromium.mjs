// The baseline of bench/webapp-start: the same Chromium opening the same
// build from disk with the same browser arguments. Prints, per run, the
// milliseconds from starting the browser to the app's first rendered route
// (the page's data-rendered-at, a wall-clock time, like the spawn time here).
//
//   node --experimental-websocket bench/spa-start-chromium.mjs BROWSER INDEX_HTML PROFILE RUNS -- ARGS...
import { spawn } from "node:child_process";
import fs from "node:fs";
import path from "node:path";

const argv = process.argv.slice(2);
const split = argv.indexOf("--");
const [browser, indexHtml, profile, runs] = argv.slice(0, split);
const flags = argv.slice(split + 1);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function once() {
  fs.rmSync(path.join(profile, "DevToolsActivePort"), { force: true });
  const started = Date.now();
  const child = spawn(browser, ["--no-sandbox", `--user-data-dir=${profile}`, "--remote-debugging-port=0", ...flags,
                                "file://" + indexHtml], { stdio: "ignore", detached: true });
  let port;
  for (let i = 0; i < 800 && !port; i++) {
    try { port = fs.readFileSync(path.join(profile, "DevToolsActivePort"), "utf8").split("\n")[0]; } catch { await sleep(5); }
  }
  if (!port) throw new Error("the browser did not start");
  let page;
  for (let i = 0; i < 400 && !page; i++) {
    const list = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
    page = list.find((t) => t.type === "page" && t.url.startsWith("file:"));
    if (!page) await sleep(5);
  }
  const ws = new WebSocket(page.webSocketDebuggerUrl);
  await new Promise((r) => (ws.onopen = r));
  let id = 0;
  const pending = new Map();
  ws.onmessage = (m) => { const msg = JSON.parse(m.data); pending.get(msg.id)?.(msg); pending.delete(msg.id); };
  const evaluate = (expression) => new Promise((resolve) => {
    const i = ++id;
    pending.set(i, (msg) => resolve(msg.result?.result?.value));
    ws.send(JSON.stringify({ id: i, method: "Runtime.evaluate", params: { expression, returnByValue: true } }));
  });
  let rendered;
  for (let i = 0; i < 2000 && !rendered; i++) {
    rendered = Number(await evaluate("document.getElementById('view')?.dataset.renderedAt || 0"));
    if (!rendered) await sleep(5);
  }
  ws.close();
  // The program may be a wrapper script: end the browser's whole process group.
  const exited = new Promise((r) => child.once("exit", r));
  process.kill(-child.pid, "SIGTERM");
  await exited;
  await sleep(300);
  if (!rendered) throw new Error("the first route was never rendered");
  return rendered - started;
}

await once();  // warm-up: the profile and the file cache
for (let i = 0; i < Number(runs); i++) console.log(await once());
