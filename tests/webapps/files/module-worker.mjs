import { answer } from "./mod.mjs";
onmessage = (e) => postMessage("module " + e.data + " " + answer);
