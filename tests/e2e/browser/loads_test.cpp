// Everything a page loads from the package, in the real engine: what works
// and what does not, kind by kind (the table in tests/e2e/README.md).

#include <cstdint>
#include <set>
#include <string>

#include "browser_fixture.h"

namespace vtl::e2e {
namespace {

class PackageLoads : public RealEngine {};

// A short silent WAV file: 8 kHz, 8-bit mono, 800 samples.
// A silent 8 kHz 8-bit mono WAV of that many samples.
std::string Wav(uint32_t samples = 800) {
  auto le = [](uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  return "RIFF" + le(36 + samples, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) +
         le(1, 2) + le(8, 2) + "data" + le(samples, 4) + std::string(samples, '\x80');
}

// A 1x1 PNG.
const std::string kPng(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9c"
    "c\xf8\x0f\0\0\x01\x01\0\x05\x18\xd8N\0\0\0\0IEND\xae B`\x82",
    67);

constexpr char kPage[] = R"(<!doctype html><html><head><title>loads</title>
<link rel="stylesheet" href="style.css">
<script src="classic.js"></script>
<script type="module" src="module.js"></script>
</head><body><p id="styled">styled</p>
<iframe id="frame" src="frame.html"></iframe>
<script>
const results = {};
const settle = (name, p) => p.then((v) => { results[name] = v; }, (e) => { results[name] = 'failed: ' + e; });
const timeout = (ms) => new Promise((_, reject) => setTimeout(() => reject('timed out'), ms));
const race = (p) => Promise.race([p, timeout(5000)]);
window.__loads = Promise.all([
  settle('document', Promise.resolve(document.title === 'loads')),
  settle('style', Promise.resolve(getComputedStyle(document.getElementById('styled')).color === 'rgb(1, 2, 3)')),
  settle('script', Promise.resolve(window.__classic === 1)),
  settle('module', race(new Promise((r) => { const t = setInterval(() => { if (window.__module) { clearInterval(t); r(window.__module === 'dep'); } }, 20); }))),
  settle('image', race(new Promise((r, j) => { const i = new Image(); i.onload = () => r(i.naturalWidth === 1); i.onerror = () => j('error'); i.src = 'pixel.png'; }))),
  settle('iframe', race(new Promise((r) => { const f = document.getElementById('frame'); const check = () => { try { const t = f.contentDocument && f.contentDocument.body && f.contentDocument.body.textContent; if (t && t.includes('in the frame')) return r(true); } catch (e) { return r('cross-origin: ' + e.name); } setTimeout(check, 20); }; check(); }))),
  settle('xhr', race(new Promise((r, j) => { const x = new XMLHttpRequest(); x.open('GET', 'data.json'); x.onload = () => r(JSON.parse(x.responseText).ok === true); x.onerror = () => j('error'); x.send(); }))),
  settle('fetch', race(fetch('data.json').then((r) => r.json()).then((d) => d.ok === true))),
  settle('worker', race(new Promise((r, j) => { const w = new Worker('worker.js'); w.onmessage = (e) => r(e.data === 'from the worker'); w.onerror = (e) => j('error ' + (e.message || '')); }))),
  settle('moduleWorker', race(new Promise((r, j) => { const w = new Worker('mworker.js', { type: 'module' }); w.onmessage = (e) => r(e.data === 'dep'); w.onerror = (e) => j('error ' + (e.message || '')); }))),
  settle('font', race(document.fonts.load('16px PackagedFont').then((f) => f.length > 0))),
  settle('media', race(new Promise((r, j) => { const a = new Audio(); a.oncanplaythrough = () => r(a.duration > 0); a.onerror = () => j('error ' + (a.error && a.error.code)); a.src = 'tone.wav'; a.load(); }))),
]).then(() => Object.fromEntries(Object.entries(results).sort()));
</script></body></html>
)";

TEST_F(PackageLoads, EveryKindOfResource) {
  const std::string id = NewAppId("loads");
  std::string font = ReadFile("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
  const fs::path exe = Pack(
      Project("loads", Settings(id, "Loads"),
              {{"app/index.html", kPage},
               {"app/style.css", "#styled { color: rgb(1, 2, 3) } @font-face { font-family: PackagedFont; src: url(font.ttf) }"},
               {"app/classic.js", "window.__classic = 1;"},
               {"app/module.js", "import { name } from './dep.js'; window.__module = name;"},
               {"app/dep.js", "export const name = 'dep';"},
               {"app/pixel.png", kPng},
               {"app/frame.html", "<!doctype html><p>in the frame</p>"},
               {"app/data.json", "{\"ok\": true}"},
               // A worker's own requests (importScripts, fetch) are the page's too.
               {"app/worker.js", "importScripts('wdep.js'); fetch('data.json').then((r) => r.json())"
                                 ".then((d) => postMessage(d.ok ? self.__wdep : 'no data'));"},
               {"app/wdep.js", "self.__wdep = 'from the worker';"},
               {"app/mworker.js", "import { name } from './dep.js'; postMessage(name);"},
               {"app/font.ttf", font},
               {"app/tone.wav", Wav()}}),
      "loads.exe");
  const auto run = StartWithScenario(exe, "loads", {kWaitForPage, "eval window.__loads"}, {PackageDisk()});
  ASSERT_TRUE(run.WaitForEnd());
  ASSERT_EQ(run.Evals().size(), 1u);
  // Each kind as the engine answers it; tests/e2e/README.md has the table.
  EXPECT_EQ(run.Evals()[0],
            R"({"document":true,"fetch":true,"font":true,"iframe":true,"image":true,"media":true,"module":true,)"
            R"("moduleWorker":true,"script":true,"style":true,"worker":true,"xhr":true})");
  // The workers' scripts and their own requests are files the browser
  // opens itself; they reached the runtime all the same.
  std::set<std::string> disk;
  for (const auto& line : run.Read().Of("served-disk")) disk.insert(line.at(1) + " " + line.at(2));
  for (const char* url : {"file:///worker.js", "file:///wdep.js", "file:///data.json", "file:///mworker.js",
                          "file:///dep.js"})
    EXPECT_TRUE(disk.contains(std::string(url) + " 200")) << url;
}

// Seeking in a packaged audio file: the element asks with Range headers,
// the runtime answers 206, and the element plays on from the new place.
// (No video here: no tool on the build machine writes a small video file.)
TEST_F(PackageLoads, AudioSeeksWithRangeRequests) {
  const std::string id = NewAppId("seek");
  const std::string page = R"(<!doctype html><title>seek</title><script>
window.__seek = new Promise((r, j) => {
  const a = new Audio();
  a.preload = 'auto';
  a.onerror = () => j('error ' + (a.error && a.error.code));
  a.onloadedmetadata = () => {
    a.onseeked = () => r({ duration: Math.round(a.duration), time: a.currentTime, ready: a.readyState >= 2 });
    a.currentTime = 2.5;
  };
  a.src = 'long.wav';
});
</script>)";
  const fs::path exe =
      Pack(Project("seek", Settings(id, "Seek"), {{"app/index.html", page}, {"app/long.wav", Wav(8000 * 4)}}),
           "seek.exe");
  const auto run = StartWithScenario(exe, "seek", {kWaitForPage, "eval window.__seek"});
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_EQ(run.Evals(), std::vector<std::string>{R"({"duration":4,"time":2.5,"ready":true})"});
  bool partial = false;
  for (const auto& line : run.Read().Of("served"))
    if (line.size() > 2 && line[1] == "file:///long.wav") partial = partial || line[2] == "206";
  EXPECT_TRUE(partial) << "no Range request of the audio answered with 206";
}

}  // namespace
}  // namespace vtl::e2e
