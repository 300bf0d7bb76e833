// Drives the page of `zel-profile serve` in Debian's Chromium (headless, a fresh profile, nothing
// fetched from the network): it loads, zooms, pans, hovers with the exact figures, navigates with
// the keys, zooms the rows down to one tile each, names the samples on their boxes and in the
// details panel, steps through a search, selects a window, highlights a clicked group, and the
// back button undoes the click without a moment of stale colours; a filter on an absent name is
// warned about; and two runs served side by side show their diff and two timelines on one axis.
//
// node explorer.test.mjs ZEL_PROFILE WORK_DIR [SCREENSHOT.png]

import {spawn, execFileSync} from "node:child_process";
import {mkdtempSync, rmSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";
import assert from "node:assert/strict";
import puppeteer from "puppeteer-core";

const [program, workDir, screenshot] = process.argv.slice(2);
if (!program || !workDir) {
  console.error("usage: node explorer.test.mjs ZEL_PROFILE WORK_DIR [SCREENSHOT.png]");
  process.exit(2);
}
const profile = join(workDir, "browser-profile.json");
execFileSync(program, ["generate", "--tiles", "96", "--epochs", "3", "--phases", "12", "--seed", "4",
                       "-o", profile]);

// A server, and the one line it prints: the address with its token.
async function serve(words) {
  const server = spawn(program, ["serve", ...words, "--port", "0"], {stdio: ["ignore", "pipe", "inherit"]});
  const url = await new Promise((resolve, reject) => {
    let text = "";
    server.stdout.on("data", (chunk) => {
      text += chunk;
      if (text.includes("\n")) resolve(text.split("\n")[0]);
    });
    server.on("exit", (code) => reject(new Error(`serve exited with ${code}`)));
    setTimeout(() => reject(new Error("serve printed no address")), 20000);
  });
  return {server, url};
}
const {server, url} = await serve([profile]);
assert.match(url, /^http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32}$/);

const userData = mkdtempSync(join(tmpdir(), "zel-profile-chromium-"));
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  headless: true,
  userDataDir: userData,
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         `--user-data-dir=${userData}`],
});

let failed = false;
try {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 1000});
  const problems = [];
  page.on("pageerror", (error) => problems.push(error.message));
  page.on("console", (message) => {
    if (message.type() === "error") problems.push(message.text());
  });
  page.on("request", (request) => {
    if (!request.url().startsWith(new URL(url).origin)) problems.push(`fetched ${request.url()}`);
  });
  page.on("response", (response) => {
    if (response.status() >= 400) problems.push(`${response.status()} for ${response.url()}`);
  });

  const hash = () => page.evaluate(() => new URLSearchParams(location.hash.slice(1)));
  const state = async () => Object.fromEntries(await page.evaluate(() => [...new URLSearchParams(location.hash.slice(1))]));
  const loaded = () => page.$eval("#timeline", (canvas) => canvas.dataset.loaded || "");
  const waitRedrawn = async (before) => {
    try {
      await page.waitForFunction((b) => (document.getElementById("timeline").dataset.loaded || "") !== b,
                                 {timeout: 15000, polling: 50}, before);
    } catch (error) {
      throw new Error(`the timeline was not redrawn: still ${before}, at ${await page.evaluate(() => location.hash)}; ` +
                      `${await page.$eval("#timeline", (c) => JSON.stringify(c.dataset))}; ${problems}`);
    }
  };
  void hash;
  // An API call as the page makes it, with the token of its address in a header.
  const apiGet = (path) => page.evaluate((p) => fetch(p, {
    headers: {"X-Zel-Token": new URLSearchParams(location.search).get("token")},
  }).then((r) => r.json()), path);

  // Load: the summary, the table and the drawn timeline.
  await page.goto(url, {waitUntil: "load"});
  await page.waitForFunction(() => document.body.dataset.ready === "true" &&
                                   document.getElementById("timeline").dataset.loaded, {timeout: 20000, polling: 50});
  const summary = await page.$eval("#summary", (e) => e.textContent);
  assert.match(summary, /96 tiles · 10,368 samples/);
  const info = await apiGet("/api/info");
  const groups = await page.$$eval("#groups tbody tr", (rows) => rows.map((r) => r.dataset.name));
  const report = await apiGet("/api/query");
  assert.deepEqual(groups, report.groups.map((g) => g.name));
  // The canvas shows every kind's colour somewhere.
  const colours = await page.$eval("#timeline", (canvas) => {
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    const seen = new Set();
    for (let i = 0; i < data.length; i += 4) seen.add(`${data[i]},${data[i + 1]},${data[i + 2]}`);
    return [...seen];
  });
  for (const colour of ["59,125,216", "46,158,91", "232,131,58"]) assert.ok(colours.includes(colour), colour);

  const box = await (await page.$("#timeline")).boundingBox();
  const [plotLeft, plotTop, plotWidth, plotHeight] =
      (await page.$eval("#timeline", (c) => c.dataset.plot)).split(" ").map(Number);
  const plotX = box.x + plotLeft;
  const middle = {x: plotX + plotWidth / 2, y: box.y + plotTop + plotHeight / 2};

  // Zoom: the wheel narrows the view around the pointer and fetches the narrower window.
  let before = await loaded();
  await page.mouse.move(middle.x, middle.y);
  await page.mouse.wheel({deltaY: -600});
  await waitRedrawn(before);
  let now = await state();
  const zoomed = Number(now["to-view"]) - Number(now["from-view"]);
  assert.ok(zoomed < info.span_cycles / 2, `zoomed to ${zoomed} of ${info.span_cycles}`);
  const timeline = await page.evaluate(() => document.getElementById("timeline").dataset.loaded);
  const [, , bins] = timeline.split("-").map(Number);
  assert.ok(bins > 100, `${bins} bins`);

  // Pan: dragging to the left moves the view to later cycles by the dragged distance.
  before = await loaded();
  const fromBefore = Number(now["from-view"]);
  await page.mouse.move(middle.x, middle.y);
  await page.mouse.down();
  await page.mouse.move(middle.x - 200, middle.y, {steps: 5});
  await page.mouse.up();
  await waitRedrawn(before);
  now = await state();
  const expectedShift = 200 * zoomed / plotWidth;
  assert.ok(Math.abs(Number(now["from-view"]) - fromBefore - expectedShift) <= zoomed / plotWidth * 3,
            `panned by ${Number(now["from-view"]) - fromBefore}, expected ${expectedShift}`);

  // Hover: the tooltip gives the exact cycles of the cell under the pointer.
  await page.mouse.move(middle.x + 13, box.y + plotTop + 20);
  await page.waitForSelector("#tooltip:not([hidden])");
  const hovered = await page.evaluate(async () => {
    const tip = document.getElementById("tooltip");
    const [from, to, bins] = document.getElementById("timeline").dataset.loaded.split("-").map(Number);
    return {row: tip.dataset.row, bin: Number(tip.dataset.bin), text: tip.textContent, from, to, bins};
  });
  const cells = await apiGet(`/api/timeline?${await page.$eval("#timeline", (c) => c.dataset.request)}`);
  const row = cells.rows.find((r) => r.label === hovered.row);
  assert.ok(row, `row ${hovered.row}`);
  for (const kind of cells.categories) {
    const value = row.cycles[kind][hovered.bin].toLocaleString("en-US");
    assert.ok(hovered.text.includes(`${kind}${value}`), `${kind} ${value} in ${hovered.text}`);
  }


  // The tooltip follows the view: a zoom under a still pointer shows the new answer's cell there.
  before = await loaded();
  await page.mouse.wheel({deltaY: -400});
  await waitRedrawn(before);
  const followed = await page.$eval("#tooltip", (t) => ({bin: Number(t.dataset.bin), cycles: Number(t.dataset.binCycles),
                                                         text: t.textContent, hidden: t.hidden}));
  const finer = await apiGet(`/api/timeline?${await page.$eval("#timeline", (c) => c.dataset.request)}`);
  assert.ok(!followed.hidden && followed.cycles === finer.bin_cycles && followed.cycles < cells.bin_cycles,
            `${JSON.stringify(followed)} with ${finer.bin_cycles}-cycle bins`);
  const binStart = (finer.from + followed.bin * finer.bin_cycles).toLocaleString("en-US");
  assert.ok(followed.text.includes(`cycles ${binStart} –`), `${binStart} in ${followed.text}`);

  // Keys on the focused canvas: W zooms in by 1.5 around the middle, D pans a fifth of the view
  // later, the left arrow back, S zooms out again; each a step that is drawn.
  const view = async () => {
    const s = await state();
    return {from: Number(s["from-view"]), to: Number(s["to-view"])};
  };
  const press = async (key) => {
    const before = await loaded();
    await page.focus("#timeline");
    await page.keyboard.press(key);
    await waitRedrawn(before);
    return view();
  };
  const start = await view();
  const width = start.to - start.from;
  const zoomedIn = await press("w");
  assert.ok(Math.abs((zoomedIn.to - zoomedIn.from) - width / 1.5) <= 2, JSON.stringify([start, zoomedIn]));
  assert.ok(Math.abs((zoomedIn.from + zoomedIn.to) - (start.from + start.to)) <= 2);
  const later = await press("d");
  assert.ok(Math.abs(later.from - zoomedIn.from - (zoomedIn.to - zoomedIn.from) / 5) <= 1, JSON.stringify(later));
  const back = await press("ArrowLeft");
  assert.ok(Math.abs(back.from - zoomedIn.from) <= 1, JSON.stringify(back));
  const out = await press("s");
  assert.ok(Math.abs((out.to - out.from) - width) <= 3, JSON.stringify(out));

  // Rows down to one tile: each answer row is one tile, the visible ones in the profile's order.
  before = await loaded();
  await page.click("#one-tile");
  await waitRedrawn(before);
  assert.match(await page.$eval("#window-line", (e) => e.textContent), /one tile a row/);
  const lanes = await apiGet(`/api/timeline?${await page.$eval("#timeline", (c) => c.dataset.request)}`);
  assert.ok(lanes.rows.length >= 10 && lanes.rows.length < info.tiles, `${lanes.rows.length} rows`);
  assert.ok(lanes.rows.every((r, i) => r.tiles.length === 1 && (i === 0 || r.tiles[0] > lanes.rows[i - 1].tiles[0])));
  // Shift-W makes the lanes taller still: fewer of them fit.
  const fewer = async () => Number(await page.$eval("#timeline", (c) => c.dataset.rows));
  const tall = await fewer();
  before = await loaded();
  await page.focus("#timeline");
  await page.keyboard.down("Shift");
  await page.keyboard.press("W");
  await page.keyboard.up("Shift");
  await waitRedrawn(before);
  assert.ok(await fewer() < tall, `${await fewer()} rows after ${tall}`);

  // Zoomed in to a few samples a tile, the samples are boxes, named where the name fits.
  for (let i = 0; i < 12 && Number(await page.$eval("#timeline", (c) => c.dataset.named || 0)) === 0; ++i) {
    await press("w");
    await page.waitForFunction(() => Number(document.getElementById("timeline").dataset.boxes) > 0,
                               {timeout: 2000, polling: 50}).catch(() => {});
  }
  assert.ok(Number(await page.$eval("#timeline", (c) => c.dataset.named)) > 0, "no named box");
  // Hovering a box names its sample: the one /api/samples finds on that tile at that cycle.
  let probe = null;
  for (let dx = 0; dx < plotWidth / 2 && !probe; dx += 7) {
    const x = plotX + plotWidth / 2 + dx;
    await page.mouse.move(x, box.y + plotTop + 30);
    probe = await page.$eval("#tooltip", (t) => (t.hidden || !t.dataset.sample ? null : {name: t.dataset.sample, text: t.textContent}));
    if (probe) probe.x = x;
  }
  assert.ok(probe, "no box under the pointer");
  const [, tile] = probe.text.match(/tile (\d+)/);
  const shown = await view();
  const cycle = Math.floor(shown.from + (probe.x - plotX) / plotWidth * (shown.to - shown.from));
  const there = await apiGet(`/api/samples?tile=${tile}&at=${cycle}`);
  assert.ok(there.samples.some((s) => (s.kernel || s.operation) === probe.name),
            `${probe.name} not among ${JSON.stringify(there.samples.map((s) => s.kernel || s.operation))}`);
  // A click puts it into the details panel; "zoom to sample" shows it whole.
  await page.mouse.click(probe.x, box.y + plotTop + 30);
  await page.waitForSelector("#details:not([hidden])");
  const details = await page.$eval("#details-text", (e) => e.textContent);
  assert.ok(details.includes(probe.name) && details.includes(`tile ${tile}`), details);
  if (screenshot) {
    await page.mouse.move(probe.x, box.y + plotTop + 30);
    await page.waitForSelector("#tooltip:not([hidden])");
    await page.screenshot({path: screenshot, clip: {x: 0, y: 0, width: 1280, height: 900}});
  }
  const [, offset, length] = details.replace(/,/g, "").match(/from cycle (\d+) for (\d+) cycle/).map(Number);
  before = await loaded();
  await page.click("#zoom-to-sample");
  await waitRedrawn(before);
  const whole = await view();
  assert.ok(whole.from <= offset && offset + length <= whole.to && whole.to - whole.from <= 2 * length + 16,
            `${JSON.stringify(whole)} for ${offset} + ${length}`);
  // Escape lets go of the sample; f fits the whole span when nothing is picked or selected.
  await page.focus("#timeline");
  await page.keyboard.press("Escape");
  await page.waitForSelector("#details[hidden]");
  const fitted = await press("f");
  assert.deepEqual(fitted, {from: 0, to: info.span_cycles});

  // Search: a kernel's samples, stepped through in time: each step the first cycle after the last
  // match at which a sample of the kernel runs, the sample there in the details.
  const kernel = report.groups.map((g) => g.name).find((name) => !name.startsWith("("));
  await page.click("#search", {clickCount: 3});
  await page.type("#search", kernel);
  const matches = [];
  for (let i = 0; i < 3; ++i) {
    const previous = await page.$eval("#timeline", (c) => c.dataset.match || "");
    await page.keyboard.press("Enter");
    await page.waitForFunction((p) => (document.getElementById("timeline").dataset.match || "") !== p,
                               {timeout: 15000, polling: 50}, previous);
    const [found] = (await page.$eval("#timeline", (c) => c.dataset.match)).split("-").map(Number);
    const text = (await page.$eval("#details-text", (e) => e.textContent)).replace(/,/g, "");
    assert.ok(text.includes(`kernel ${kernel}`), text);
    const [, from, length] = text.match(/from cycle (\d+) for (\d+) cycle/).map(Number);
    assert.ok(from <= found && found < from + length, `${found} outside ${from} + ${length}`);
    const now = await view();
    assert.ok(now.from <= found && found <= now.to, `${found} outside ${JSON.stringify(now)}`);
    if (i > 0) assert.ok(found >= matches[i - 1].end, `${found} before ${JSON.stringify(matches[i - 1])}`);
    matches.push({found, end: from + length});
  }
  // The first match was the first cycle after the middle of the whole span at which the kernel
  // runs: the query's own window finds none of its samples before it, and one at it.
  const count = async (from, to) =>
    (await apiGet(`/api/query?kernel=${encodeURIComponent(kernel)}&from=${from}&to=${to}`)).matched_sample_count;
  const after = Math.floor(info.span_cycles / 2) + 1;
  if (matches[0].found > after) assert.equal(await count(after, matches[0].found), 0);
  assert.ok(await count(matches[0].found, matches[0].found + 1) > 0);
  assert.equal((await state()).search, kernel);
  // An empty search forgets the word.
  await page.click("#search", {clickCount: 3});
  await page.keyboard.press("Backspace");
  await page.keyboard.press("Enter");
  await page.waitForFunction(() => !new URLSearchParams(location.hash.slice(1)).has("search"), {polling: 50});

  // Select a window with shift-drag: it is in the address and drawn.
  await page.keyboard.down("Shift");
  await page.mouse.move(plotX + 100, middle.y);
  await page.mouse.down();
  await page.mouse.move(plotX + 300, middle.y, {steps: 4});
  await page.mouse.up();
  await page.keyboard.up("Shift");
  await page.waitForFunction(() => new URLSearchParams(location.hash.slice(1)).has("from"), {polling: 50});
  now = await state();
  assert.ok(Number(now.to) > Number(now.from));
  assert.match(await page.$eval("#window-line", (e) => e.textContent), /window \[/);

  // The group table is asked for again for the window: wait for its answer before clicking in it,
  // since the table is drawn anew when it comes.
  await page.waitForFunction(
      () => document.getElementById("window-note").textContent.startsWith("groups of the samples"),
      {polling: 50});

  // The plot's colours, as "r,g,b" with their pixel counts (transparent pixels left out).
  const plotColours = () => page.$eval("#timeline", (canvas) => {
    const [x, y, w, h] = canvas.dataset.plot.split(" ").map(Number);
    const ratio = canvas.width / canvas.clientWidth;
    const data = canvas.getContext("2d").getImageData(x * ratio, y * ratio, w * ratio, h * ratio).data;
    const seen = {};
    for (let i = 0; i < data.length; i += 4) {
      if (data[i + 3] === 0) continue;
      const key = `${data[i]},${data[i + 1]},${data[i + 2]}`;
      seen[key] = (seen[key] || 0) + 1;
    }
    return seen;
  });
  // The group colours, full and faded by a highlight.
  const palette = ["#7b4fc9", "#d1496b", "#1fa3a8", "#b58b00", "#5d6bd6", "#c2569e", "#3f8f3f", "#9c5a2e",
    "#2a86c2", "#8e9c1e", "#a8326e", "#5a4a9e", "#d5d8df"];
  const groupColours = palette.flatMap((hex) => {
    const channels = [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
    return [channels.join(","), channels.map((c) => Math.round(c * 0.2 + 255 * 0.8)).join(",")];
  });
  const groupPixels = (seen) => groupColours.reduce((sum, colour) => sum + (seen[colour] || 0), 0);

  // Click a group of the window: its row is highlighted and the timeline colours by group.
  const first = await page.$eval("#groups tbody tr", (r) => r.dataset.name);
  before = await loaded();
  await page.click(`#groups tbody tr[data-name="${first}"]`);
  await page.waitForSelector("#groups tr.highlighted");
  await waitRedrawn(before);
  assert.ok(groupPixels(await plotColours()) > 1000, "no group colours on the canvas");
  now = await state();
  assert.equal(now.highlight, first);
  assert.equal(now["color-by"], "group");
  assert.equal(await page.$eval("#groups tr.highlighted", (r) => r.dataset.name), first);

  // Back: the click is undone, the window stays. From the first frame the legend lists the kinds
  // and the canvas shows the kinds' colours, never a group's.
  await page.goBack();
  await page.waitForFunction(() => document.querySelector('#legend [data-category="exchange"]'), {polling: "raf"});
  const afterBack = await plotColours();
  assert.equal(groupPixels(afterBack), 0, JSON.stringify(afterBack));
  assert.ok(afterBack["46,158,91"] > 1000, JSON.stringify(afterBack));
  assert.deepEqual(await page.$$eval("#legend [data-category]", (l) => l.map((e) => e.dataset.category)),
                   ["exchange", "compute", "synchronization", "idle"]);
  await page.waitForFunction(() => !document.querySelector("#groups tr.highlighted"), {polling: 50});
  now = await state();
  assert.equal(now.highlight, undefined);
  assert.ok(Number(now.to) > Number(now.from));

  // Linked views, in the window (clipped): a group's longest samples, a sample of them and a
  // load-balance row each lead the timeline to what they name.
  const windowed = `from=${now.from}&to=${now.to}&clip=true`;
  const drawnView = async () => {
    const [from, to] = (await loaded()).split("-").map(Number);
    const request = new URLSearchParams(await page.$eval("#timeline", (c) => c.dataset.request));
    return {from, to, asked: {from: Number(request.get("from")), to: Number(request.get("to"))}};
  };
  // The view asked for in the address drawn: its answer's request is for that window.
  const waitLanded = () => page.waitForFunction(() => {
    const asked = new URLSearchParams(location.hash.slice(1));
    const drawn = new URLSearchParams(document.getElementById("timeline").dataset.request || "");
    return drawn.get("from") === asked.get("from-view") && drawn.get("to") === asked.get("to-view");
  }, {timeout: 15000, polling: 50});
  const named = await page.$$eval("#groups tbody tr", (rows) => rows.map((r) => r.dataset.name));
  const group = named.find((name) => !name.startsWith("("));
  before = await loaded();
  await page.click(`#groups tbody tr[data-name="${group}"]`);
  await waitRedrawn(before);
  await page.waitForSelector("#group-samples tbody tr");
  const longest = (await apiGet(`/api/query?kernel=${encodeURIComponent(group)}&${windowed}&samples=20`)).samples;
  const listed = await page.$$eval("#group-samples tbody tr", (rows) => rows.map((r) =>
      [...r.cells].slice(0, 3).map((c) => Number(c.textContent.replace(/,/g, "")))));
  assert.deepEqual(listed, longest.map((s) => [s.physical_tile, s.offset, s.duration]));
  assert.ok(longest.every((s) => s.kernel === group && s.offset >= Number(now.from) &&
                                 s.offset + s.duration <= Number(now.to)), JSON.stringify(longest));
  assert.equal(await page.$eval("#timeline", (c) => c.dataset.markedSamples), String(longest.length));
  // A sample of the list: the view holds it whole and little else, its tile's lane in sight.
  const sample = longest[1] || longest[0];
  before = await loaded();
  await page.click(`#group-samples tbody tr:nth-child(${longest.indexOf(sample) + 1})`);
  await waitRedrawn(before);
  await waitLanded();
  let landed = await drawnView();
  assert.ok(landed.asked.from <= sample.offset && sample.offset + sample.duration <= landed.asked.to &&
            landed.asked.to - landed.asked.from <= Math.max(8, 2 * sample.duration + 16),
            `${JSON.stringify(landed)} for ${JSON.stringify(sample)}`);
  assert.ok(landed.from <= landed.asked.from && landed.asked.to <= landed.to, JSON.stringify(landed));
  assert.match(await page.$eval("#details-text", (e) => e.textContent), new RegExp(`tile ${sample.physical_tile}`));
  // The load balance, ranked as the server ranks it (cycles lost), max over mean to three decimals;
  // a click on a row lands on its phase's first to last cycle and outlines its busiest tile.
  const balance = (await apiGet(`/api/load-balance?${windowed}`)).profiles[0].phases;
  const worst = balance[Math.min(2, balance.length - 1)];
  const phaseGroup = (await apiGet(`/api/query?group-by=phase&phase=${worst.phase}&${windowed}`))
      .groups.find((g) => g.dimensions.epoch === String(worst.epoch));
  before = await loaded();
  await page.click(`#balance > tbody > tr[data-phase="${worst.phase}"][data-epoch="${worst.epoch}"]`);
  await waitRedrawn(before);
  await waitLanded();
  landed = await drawnView();
  assert.deepEqual(landed.asked, {from: phaseGroup.first_offset,
                                  to: Math.max(phaseGroup.first_offset + 8, phaseGroup.last_offset)});
  assert.equal(await page.$eval("#timeline", (c) => c.dataset.markedTile), `0-${worst.critical_tile}`);
  // Without the window, every phase's row, the most cycles lost first (the API lists them by phase).
  const spanBalance = (await apiGet("/api/load-balance")).profiles[0].phases;
  await page.click("#clear-selection");
  await page.waitForFunction((count) => document.getElementById("range-summary").hidden &&
                                        document.querySelectorAll("#balance tr[data-index]").length === count,
                             {polling: 50}, spanBalance.length);
  const ranked = await page.$$eval("#balance tr[data-index]", (rows) =>
      rows.map((r) => [Number(r.dataset.phase), Number(r.dataset.epoch), r.cells[3].textContent]));
  const byLoss = [...spanBalance].sort((a, b) => b.lost_cycles - a.lost_cycles || b.phase_cycles - a.phase_cycles);
  assert.deepEqual(ranked, byLoss.map((p) => [p.phase, p.epoch, p.imbalance.toFixed(3)]));

  // A filter on a name the profile lacks: the tool's warning, with its suggestion, above the table.
  const absent = "kernel=gemm&tile=97";
  await page.evaluate((fragment) => { location.hash = fragment; }, absent);
  await page.waitForFunction(() => !document.getElementById("query-warnings").hidden, {polling: 50});
  const warned = await page.$$eval("#query-warnings li", (items) => items.map((i) => i.textContent));
  assert.deepEqual(warned, (await apiGet(`/api/warnings?${absent}`)).warnings);
  assert.match(warned[0], /^no kernel 'gemm'; did you mean 'gemm_f\d+[^']*'(, 'gemm_[^']+')* or 'gemm_[^']+'\?$/);
  assert.match(warned[1], /^no tile '97'; did you mean '95'\?$/);

  assert.deepEqual(problems, []);

  // Two runs: `serve --base BASE NEW` shows their diff and their timelines on one axis.
  const basePath = join(workDir, "browser-base.json");
  execFileSync(program, ["generate", "--tiles", "96", "--epochs", "3", "--phases", "9", "--seed", "5",
                         "-o", basePath]);
  const twoRuns = await serve(["--base", basePath, profile]);
  const diffPage = await browser.newPage();
  await diffPage.setViewport({width: 1280, height: 1200});
  const diffProblems = [];
  diffPage.on("pageerror", (error) => diffProblems.push(error.message));
  diffPage.on("console", (message) => {
    if (message.type() === "error") diffProblems.push(message.text());
  });
  try {
    await diffPage.goto(twoRuns.url, {waitUntil: "load"});
    const canvases = () => diffPage.evaluate(() => ["timeline", "base-timeline"].map((id) => {
      const canvas = document.getElementById(id);
      const asked = new URLSearchParams(canvas.dataset.request || "");
      return {loaded: canvas.dataset.loaded || "", from: asked.get("from"), to: asked.get("to"),
              bins: asked.get("bins"), run: asked.get("run"), plot: canvas.dataset.plot};
    }));
    const bothDrawn = (before) => diffPage.waitForFunction((b) => ["timeline", "base-timeline"].every((id, i) => {
      const canvas = document.getElementById(id);
      const asked = new URLSearchParams(canvas.dataset.request || "");
      const view = new URLSearchParams(location.hash.slice(1));
      return (canvas.dataset.loaded || "") !== b[i] &&
             (!view.has("from-view") || asked.get("from") === view.get("from-view"));
    }), {timeout: 20000, polling: 50}, before);
    await diffPage.waitForFunction(() => document.body.dataset.ready === "true", {timeout: 20000, polling: 50});
    await bothDrawn(["", ""]);
    const token = new URL(twoRuns.url).searchParams.get("token");
    const api = (path) => diffPage.evaluate((p, t) => fetch(p, {headers: {"X-Zel-Token": t}}).then((r) => r.json()), path, token);
    const [newInfo, baseInfo, diff] = await Promise.all([api("/api/info"), api("/api/info?run=base"), api("/api/diff")]);
    assert.equal(newInfo.base, basePath);
    assert.notEqual(newInfo.span_cycles, baseInfo.span_cycles);
    // The diff table: the tool's groups in the tool's order, each change as the tool computes it.
    const rows = () => diffPage.$$eval("#diff tbody tr", (trs) => trs.map((tr) => tr.dataset.name));
    assert.deepEqual(await rows(), diff.groups.map((g) => g.name));
    assert.ok(diff.groups.length >= 5, JSON.stringify(diff.groups.map((g) => g.name)));
    // Sorted by the change of work cycles: largest first, then, clicked again, smallest first.
    const byWork = [...diff.groups].sort((a, b) => b.work_cycles.change - a.work_cycles.change ||
                                                   a.name.localeCompare(b.name));
    await diffPage.click('#diff th[data-key="work_cycles.change"]');
    assert.deepEqual(await rows(), byWork.map((g) => g.name));
    await diffPage.click('#diff th[data-key="work_cycles.change"]');
    assert.deepEqual(await rows(), [...byWork].sort((a, b) => a.work_cycles.change - b.work_cycles.change ||
                                                    a.name.localeCompare(b.name)).map((g) => g.name));
    // Both timelines, the base's under the new one's, on one axis as long as the longer run.
    let drawn = await canvases();
    assert.deepEqual([drawn[0].run, drawn[1].run], [null, "base"]);
    assert.equal(drawn[0].plot, drawn[1].plot);
    const longer = Math.max(newInfo.span_cycles, baseInfo.span_cycles);
    for (const each of drawn) assert.deepEqual([each.from, each.to, each.bins], ["0", String(longer), drawn[0].bins]);
    // A zoom on either moves both: the same window at the same width.
    const [x, y, w, h] = drawn[1].plot.split(" ").map(Number);
    const baseBox = await (await diffPage.$("#base-timeline")).boundingBox();
    await diffPage.mouse.move(baseBox.x + x + w / 3, baseBox.y + y + h / 2);
    await diffPage.mouse.wheel({deltaY: -500});
    await bothDrawn(drawn.map((d) => d.loaded));
    drawn = await canvases();
    assert.deepEqual([drawn[1].from, drawn[1].to, drawn[1].bins], [drawn[0].from, drawn[0].to, drawn[0].bins]);
    assert.ok(Number(drawn[0].to) - Number(drawn[0].from) < longer / 2, JSON.stringify(drawn));
    const view = new URLSearchParams(await diffPage.evaluate(() => location.hash.slice(1)));
    assert.equal(view.get("from-view"), drawn[0].from);
    assert.deepEqual(diffProblems, []);
  } finally {
    await diffPage.close();
    twoRuns.server.kill("SIGTERM");
  }
  console.log("explorer: load, zoom, pan, hover, keys, rows, boxes, details, search, window, group, back, " +
              "group samples, sample and load-balance links, warnings, and two runs work");
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await browser.close();
  server.kill("SIGTERM");
  rmSync(userData, {recursive: true, force: true});
}
process.exit(failed ? 1 : 0);
