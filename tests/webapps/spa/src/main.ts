// A page written for the browser first: the bridge is used when it is there.
import "./style.css";
import logo from "./assets/logo.svg";

interface Notes {
  title: string;
  notes: string[];
}

const view = document.getElementById("view")!;
const host = document.getElementById("host")!;

async function showNotes(): Promise<void> {
  const response = await fetch("./data/notes.json");
  if (!response.ok) throw new Error(`notes: ${response.status}`);
  const data = (await response.json()) as Notes;
  view.innerHTML = "";
  const img = document.createElement("img");
  img.id = "logo";
  img.alt = "logo";
  img.src = logo;
  const heading = document.createElement("h1");
  heading.textContent = data.title;
  const list = document.createElement("ul");
  for (const note of data.notes) {
    const item = document.createElement("li");
    item.textContent = note;
    list.append(item);
  }
  await img.decode().catch(() => undefined);
  view.append(img, heading, list);
  view.dataset.route = "notes";
}

async function showAbout(): Promise<void> {
  const { render } = await import("./routes/about");
  view.innerHTML = "";
  view.append(render());
  view.dataset.route = "about";
}

async function route(): Promise<void> {
  try {
    if (location.hash === "#/about") await showAbout();
    else await showNotes();
    // When the first route was on screen, for the start-up benchmark.
    view.dataset.renderedAt ??= String(Date.now());
  } catch (error) {
    view.dataset.route = "error";
    view.textContent = String(error);
  }
}

async function describeHost(): Promise<string> {
  if (typeof window.vtl === "undefined") return "in a browser";
  const inProgram: true = await window.vtl.isRuntime();
  const version: string = await window.vtl.hello();
  return inProgram ? `in the program, bridge ${version}` : "in a browser";
}

window.addEventListener("hashchange", () => void route());
void route();
void describeHost().then((text) => {
  host.textContent = text;
  host.dataset.ready = "1";
});
