onmessage = (e) => postMessage("classic " + e.data);
