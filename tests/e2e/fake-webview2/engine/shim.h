#pragma once

// The document script the browser mode puts first into every document: the
// page's side of WebView2's web messages (window.chrome.webview), and what
// Chromium does not report over the protocol by itself: title changes,
// window.close() and full-screen changes. It talks to the host through the
// binding __vtlFakeHost, one JSON text per call.

namespace fake::engine {

inline constexpr char kShim[] = R"js((() => {
  const host = window.__vtlFakeHost;
  if (typeof host !== "function") return;
  const send = (o) => host(JSON.stringify(o));
  const top = window === window.top;
  const webview = new EventTarget();
  webview.postMessage = function (message) {
    if (arguments.length === 0) throw new TypeError("postMessage: 1 argument required");
    const json = JSON.stringify(message);
    send({ t: "message", json: json === undefined ? "null" : json, str: typeof message === "string",
           src: String(location.href) });
  };
  if (!window.chrome) Object.defineProperty(window, "chrome", { value: {}, writable: true, configurable: true });
  Object.defineProperty(window.chrome, "webview", { value: webview, configurable: true });
  Object.defineProperty(window, "__vtlFakeDeliver", {
    value: (data) => {
      const event = new MessageEvent("message", { data });
      Object.defineProperty(event, "source", { value: webview });
      webview.dispatchEvent(event);
    },
  });
  if (!top) return;
  let title = null;
  const report = () => {
    if (document.title !== title) {
      title = document.title;
      send({ t: "title", v: title });
    }
  };
  new MutationObserver(report).observe(document, { subtree: true, childList: true, characterData: true });
  document.addEventListener("DOMContentLoaded", report);
  window.close = () => send({ t: "close" });
  document.addEventListener("fullscreenchange", () => send({ t: "fullscreen", v: !!document.fullscreenElement }));
})();
)js";

// How ExecuteScript and the scenario's eval give a script's result: the
// completion value as JSON, "null" when it has none.
inline constexpr char kResultAsJsonHead[] =
    "(() => { const r = (0, eval)(";
inline constexpr char kResultAsJsonTail[] =
    "); if (r === undefined) return \"null\"; try { const j = JSON.stringify(r); return j === undefined ? \"null\" : j; }"
    " catch (e) { return \"null\"; } })()";

}  // namespace fake::engine
