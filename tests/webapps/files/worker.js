importScripts("worker-helper.js");
onmessage = (e) => postMessage(greeting + " " + e.data);
