// Drives the page of `zel-profile serve` in Debian's Chromium (headless, a fresh profile, nothing
// fetched from the network): it loads, zooms, pans, hovers with the exact figures, selects a
// window, highlights a clicked group, and the back button undoes the click.
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

// The server, and the one line it prints: the address with its token.
const server = spawn(program, ["serve", profile, "--port", "0"], {stdio: ["ignore", "pipe", "inherit"]});
const url = await new Promise((resolve, reject) => {
  let text = "";
  server.stdout.on("data", (chunk) => {
    text += chunk;
    if (text.includes("\n")) resolve(text.split("\n")[0]);
  });
  server.on("exit", (code) => reject(new Error(`serve exited with ${code}`)));
  setTimeout(() => reject(new Error("serve printed no address")), 20000);
});
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
  const plotX = box.x + 96;
  const plotWidth = box.width - 96 - 8;
  const middle = {x: plotX + plotWidth / 2, y: box.y + box.height / 2};

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
  await page.mouse.move(middle.x + 13, box.y + 40);
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
  if (screenshot) {
    await page.mouse.move(plotX + 420, box.y + 120);
    await page.waitForSelector("#tooltip:not([hidden])");
    await page.screenshot({path: screenshot});
  }

  // The group table is asked for again for the window: wait for its answer before clicking in it,
  // since the table is drawn anew when it comes.
  await page.waitForFunction(
      () => document.getElementById("window-note").textContent.startsWith("groups of the samples"),
      {polling: 50});

  // Click a group of the window: its row is highlighted and the timeline colours by group.
  const first = await page.$eval("#groups tbody tr", (r) => r.dataset.name);
  await page.click(`#groups tbody tr[data-name="${first}"]`);
  await page.waitForSelector("#groups tr.highlighted");
  now = await state();
  assert.equal(now.highlight, first);
  assert.equal(now["color-by"], "group");
  assert.equal(await page.$eval("#groups tr.highlighted", (r) => r.dataset.name), first);

  // Back: the click is undone, the window stays.
  await page.goBack();
  await page.waitForFunction(() => !document.querySelector("#groups tr.highlighted"), {polling: 50});
  now = await state();
  assert.equal(now.highlight, undefined);
  assert.ok(Number(now.to) > Number(now.from));

  assert.deepEqual(problems, []);
  console.log("explorer: load, zoom, pan, hover, window, group and back work");
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await browser.close();
  server.kill("SIGTERM");
  rmSync(userData, {recursive: true, force: true});
}
process.exit(failed ? 1 : 0);
