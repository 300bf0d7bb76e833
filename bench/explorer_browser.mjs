// Times the explorer in Debian's Chromium, as a person uses it: from the input event to the
// animation frame after the timeline has drawn the view it asked for. Run by hand, never as a test.
//
//   node bench/explorer_browser.mjs ZEL_PROFILE PROFILE [RUNS]
//
// ZEL_PROFILE is the tool (a release build), PROFILE the profile to serve, for example the one
// docs/performance.md uses:
//   zel-profile generate --tiles 1472 --epochs 35 --phases 68 --seed 7 -o p7.zprof
// puppeteer-core comes from server/tests/browser (`PUPPETEER_SKIP_DOWNLOAD=1 npm ci` there).
//
// Each run opens the page afresh and times:
//   - the first view: from the navigation to the frame after the first drawn timeline;
//   - ten wheel zooms into the middle of the plot, each by a factor of the square root of 10;
//   - three drags of 1/100 of the plot's width (1/100 of the visible span) to the left.
// The events are real ones (the browser's wheel and mouse, dispatched at the plot), so they go
// through the page's own gestures. A gesture is timed from its last input event (the wheel, or the
// drag's last move) to the frame after the timeline's `data-loaded` changed to an answer that
// covers the new view at about a bin a column. A zoom takes the page's wheel mapping as it is
// (a deltaY of -575.6 is a factor of sqrt(10) for exp(0.002 * deltaY)); the factor each wheel
// gave is printed, so a page that maps the wheel otherwise shows up.

import {spawn} from "node:child_process";
import {mkdtempSync, rmSync} from "node:fs";
import {createRequire} from "node:module";
import {tmpdir} from "node:os";
import {dirname, join} from "node:path";
import {fileURLToPath} from "node:url";

const [program, profile, runsText] = process.argv.slice(2);
if (!program || !profile) {
  console.error("usage: node bench/explorer_browser.mjs ZEL_PROFILE PROFILE [RUNS]");
  process.exit(2);
}
const runs = Number(runsText || 3);
const root = dirname(dirname(fileURLToPath(import.meta.url)));
const puppeteer = createRequire(join(root, "server/tests/browser/package.json"))("puppeteer-core");

const wheelDelta = -Math.log(Math.sqrt(10)) / 0.002;

const started = performance.now();
const server = spawn(program, ["serve", profile, "--port", "0"], {stdio: ["ignore", "pipe", "inherit"]});
const url = await new Promise((resolve, reject) => {
  let text = "";
  server.stdout.on("data", (chunk) => {
    text += chunk;
    if (text.includes("\n")) resolve(text.split("\n")[0]);
  });
  server.on("exit", (code) => reject(new Error(`serve exited with ${code}`)));
  setTimeout(() => reject(new Error("serve printed no address in 10 minutes")), 600000);
});
console.log(`server ready in ${((performance.now() - started) / 1000).toFixed(2)} s: ${url}`);

// In the page, before its own scripts: the time of the last input event, and each drawn view
// with the time of the frame after it.
function instrument() {
  window.benchmark = {input: 0, draws: []};
  performance.setResourceTimingBufferSize(100000);
  for (const type of ["wheel", "mousedown", "mousemove", "mouseup"]) {
    window.addEventListener(type, (event) => { window.benchmark.input = event.timeStamp; },
                            {capture: true, passive: true});
  }
  new MutationObserver((changes) => {
    for (const change of changes) {
      const loaded = change.target.dataset.loaded;
      if (!loaded || change.target.id !== "timeline") continue;
      requestAnimationFrame(() => window.benchmark.draws.push(
          {loaded, time: performance.now(), hash: location.hash}));
    }
  }).observe(document, {subtree: true, attributes: true, attributeFilter: ["data-loaded"]});
}

// Waits for the frame after a drawn view that covers the view in the address at about a bin a
// column of `columns`, drawn after `seen` draws; gives its time.
async function drawnFor(page, seen, columns) {
  const handle = await page.waitForFunction((seen, columns) => {
    const state = new URLSearchParams(location.hash.slice(1));
    const span = window.benchmark.span;
    const from = Number(state.get("from-view") || 0);
    const to = Number(state.get("to-view") || span);
    for (const draw of window.benchmark.draws.slice(seen)) {
      const [first, end, bins] = draw.loaded.split("-").map(Number);
      const width = (end - first) / Math.max(1, bins);
      if (first <= from && end >= to && width <= 2 * Math.max(1, (to - from) / columns)) {
        return draw.time;
      }
    }
    return false;
  }, {timeout: 120000, polling: "raf"}, seen, columns);
  return handle.jsonValue();
}

// The timeline requests sent since `since` (a page time): how many, and from the first one's start
// to the last one's end (the time spent on the wire and in the server, if nothing else ran).
const requests = (page, since) => page.evaluate((since) => {
  const sent = performance.getEntriesByType("resource")
    .filter((entry) => entry.name.includes("/api/timeline") && entry.startTime >= since);
  if (sent.length === 0) return {count: 0, wire: 0, last: 0};
  const last = sent[sent.length - 1];
  return {count: sent.length, wire: last.responseEnd - sent[0].startTime,
          last: last.responseEnd - last.startTime};
}, since);

const view = (page) => page.evaluate(() => {
  const state = new URLSearchParams(location.hash.slice(1));
  return {from: Number(state.get("from-view") || 0),
          to: Number(state.get("to-view") || window.benchmark.span)};
});

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const userData = mkdtempSync(join(tmpdir(), "zel-profile-bench-chromium-"));
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  headless: true,
  userDataDir: userData,
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         `--user-data-dir=${userData}`],
});
const firstViews = [];
const zooms = [];
const drags = [];
const wires = [];  // per gesture: the last timeline request's time from its start to its end
try {
  for (let run = 0; run < runs; ++run) {
    const page = await browser.newPage();
    await page.setViewport({width: 1920, height: 1000});
    await page.evaluateOnNewDocument(instrument);
    await page.goto(url, {waitUntil: "load"});
    await page.waitForFunction(() => document.body.dataset.ready === "true" &&
                                     window.benchmark.draws.length > 0, {timeout: 600000, polling: 50});
    const first = await page.evaluate(() => window.benchmark.draws[0].time);
    firstViews.push(first);
    const info = await page.evaluate(() => {
      const token = new URLSearchParams(location.search).get("token");
      return fetch("/api/info", {headers: {"X-Zel-Token": token}}).then((r) => r.json());
    });
    await page.evaluate((span) => { window.benchmark.span = span; }, info.span_cycles);
    const box = await (await page.$("#timeline")).boundingBox();
    // The plot, as the canvas says it lies within it (`data-plot`: x y width height, CSS pixels).
    const [plotX, , plotWidth] = (await page.$eval("#timeline", (canvas) => canvas.dataset.plot))
        .split(" ").map(Number);
    const plot = {x: box.x + plotX, width: plotWidth};
    const columns = Math.min(1600, Math.floor(plot.width));
    const middle = {x: plot.x + plot.width / 2, y: box.y + box.height / 2};
    const line = [`run ${run + 1}: first view ${first.toFixed(0)} ms; zooms`];

    for (let z = 0; z < 10; ++z) {
      const before = await view(page);
      const seen = await page.evaluate(() => window.benchmark.draws.length);
      await page.mouse.move(middle.x, middle.y);
      await page.mouse.wheel({deltaY: wheelDelta});
      const drawn = await drawnFor(page, seen, columns);
      const input = await page.evaluate(() => window.benchmark.input);
      const after = await view(page);
      const factor = (before.to - before.from) / (after.to - after.from);
      const sent = await requests(page, input);
      zooms.push(drawn - input);
      wires.push(sent.last);
      line.push(`${(drawn - input).toFixed(0)} (x${factor.toFixed(2)}, ${sent.count} requests, ` +
                `last ${sent.last.toFixed(0)})`);
    }
    line.push("ms; drags");
    for (let d = 0; d < 3; ++d) {
      const seen = await page.evaluate(() => window.benchmark.draws.length);
      const start = await page.evaluate(() => performance.now());
      const shift = plot.width / 100;
      await page.mouse.move(middle.x, middle.y);
      await page.mouse.down();
      await page.mouse.move(middle.x - shift, middle.y, {steps: 4});
      const input = await page.evaluate(() => window.benchmark.input);
      const drawn = await drawnFor(page, seen, columns);
      await page.mouse.up();
      const sent = await requests(page, start);
      drags.push(drawn - input);
      wires.push(sent.last);
      line.push(`${(drawn - input).toFixed(0)} (${sent.count} requests, last ${sent.last.toFixed(0)})`);
    }
    console.log(`${line.join(" ")} ms`);
    await page.close();
  }
} finally {
  await browser.close();
  server.kill("SIGTERM");
  rmSync(userData, {recursive: true, force: true});
}
const gestures = [...zooms, ...drags];
const text = (values) => `median ${median(values).toFixed(0)} ms, slowest ${Math.max(...values).toFixed(0)} ms`;
console.log(`first view after navigation (${firstViews.length}): ${text(firstViews)}`);
console.log(`wheel zooms (${zooms.length}): ${text(zooms)}`);
console.log(`drags (${drags.length}): ${text(drags)}`);
console.log(`every gesture (${gestures.length}): ${text(gestures)}`);
console.log(`a gesture's last timeline request, start to end (${wires.length}): ${text(wires)}`);
