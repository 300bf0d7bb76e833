// The page's pure modules under node:test: the formats, the fragment's parameters, the lanes'
// layout and the one-pass painter, each against figures worked out here independently.
//
// node --test units.test.mjs

import {test} from "node:test";
import assert from "node:assert/strict";
import {cycleCount, cyclesAndTime, duration, escapeHtml, percent} from "../../assets/format.js";
import {Layout, headerHeight} from "../../assets/layout.js";
import {columnBins, paint, pixel} from "../../assets/raster.js";

// The page learns which words repeat from the server's table of the query's parameters
// (GET /api/words) as state.js loads; here that table answers with the repeatable three.
globalThis.location = new URL("http://127.0.0.1/");
globalThis.fetch = async () =>
  new Response(JSON.stringify({
    parameters: ["tile", "phase", "metadata"].map((word) => ({word, kind: "text", repeatable: true})),
    endpoints: {},
  }));
const {parameters} = await import("../../assets/state.js");

// A small seeded generator, so that a failure can be replayed.
function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s * 1664525 + 1013904223) >>> 0;
    return s / 2 ** 32;
  };
}

test("numbers read as the tool writes them", () => {
  const cases = [
    [cycleCount(1), "1 cycle"], [cycleCount(0), "0 cycles"], [cycleCount(12345), "12,345 cycles"],
    [duration(1.5e-6), "1.5 µs"], [duration(0.012345), "12.35 ms"], [duration(2), "2 s"],
    [duration(3e-10), "0.3 ns"], [duration(NaN), "–"],
    [cyclesAndTime(1, 1e9), "1 cycle (1 ns)"], [cyclesAndTime(1330, 0), "1,330 cycles"],
    [percent(1, 3), "33.3%"], [percent(1, 0), "–"],
    [escapeHtml(`<a href="x">'&'</a>`), "&#60;a href=&#34;x&#34;&#62;&#39;&#38;&#39;&#60;/a&#62;"],
  ];
  for (const [got, want] of cases) assert.equal(got, want);
});

test("the fragment's words become the API's parameters, lists repeated", () => {
  const state = new URLSearchParams("tile=3%20%204&kind=compute&phase=&limit=5&from-view=9&metadata=a%3D1%20b%3D2");
  assert.deepEqual([...parameters(state, ["tile", "kind", "phase", "metadata", "limit"])],
                   [["tile", "3"], ["tile", "4"], ["kind", "compute"], ["metadata", "a=1"], ["metadata", "b=2"],
                    ["limit", "5"]]);
  assert.deepEqual([...parameters(state, ["at", "kernel"])], []);
});

test("every pixel of the plot is the lane that the layout says is visible there", () => {
  const next = random(29);
  for (let round = 0; round < 200; ++round) {
    const chips = 1 + Math.floor(next() * 3);
    const tiles = Array.from({length: chips}, () =>
        Array.from({length: 1 + Math.floor(next() * 300)}, (_, i) => 1000 - 3 * i));
    const layout = new Layout(tiles, []);
    for (const chip of layout.chips) chip.collapsed = chips > 1 && next() < 0.3;
    layout.setHeight(50 + Math.floor(next() * 400));
    if (next() < 0.7) layout.zoom(1 + next() * 60, next() * layout.height);
    layout.scroll((next() - 0.3) * 2000);
    assert.ok(layout.rowHeight >= layout.fitHeight() - 1e-9 && layout.rowHeight <= 40);
    assert.ok(layout.top >= 0 && layout.top <= Math.max(0, layout.contentHeight() - layout.height) + 1e-9);
    const visible = layout.visible();
    const seen = new Set();
    let headers = 0;
    for (let y = 0; y < layout.height; ++y) {
      const lane = layout.laneAt(y + 0.5);
      if (!lane) continue;
      if (lane.tile < 0) {
        headers += 1;
        continue;
      }
      const place = Math.floor(lane.position);
      assert.equal(layout.chips[lane.chip].tiles[place], lane.tile);
      assert.ok(!layout.chips[lane.chip].collapsed);
      const top = layout.laneTop(lane.chip, place);
      assert.ok(top <= y + 0.5 && y + 0.5 < top + layout.rowHeight + 1e-9, `${top} ${y}`);
      assert.ok(visible.some((v) => v.chip === lane.chip && v.first <= place && place < v.end));
      seen.add(`${lane.chip}:${place}`);
    }
    // Every visible tile has a pixel when lanes are at least a pixel tall; no lane is listed twice.
    const count = visible.reduce((sum, v) => sum + v.end - v.first, 0);
    if (layout.rowHeight >= 1) assert.ok(count - seen.size <= 2, `${count} visible, ${seen.size} seen`);
    if (chips === 1) assert.equal(headers, 0);
    else assert.ok(headers <= chips * headerHeight);
  }
});

test("a cell's pixels stack its categories' cycles from the bottom, at any zoom", () => {
  const next = random(7);
  const colors = Uint32Array.from(["#ff0000", "#00ff00", "#0000ff"], (c) => pixel(c));
  const faded = Uint32Array.from(["#ff0000", "#00ff00", "#0000ff"], (c) => pixel(c, 0.2));
  const categories = ["a", "b", "c"];
  for (let round = 0; round < 20; ++round) {
    // Rows of one tile, 100 cycles a bin: a cell's cycles are its pixels' count on a 100-pixel lane.
    const binCount = 1 + Math.floor(next() * 12);
    const rowCount = 1 + Math.floor(next() * 3);
    const rows = Array.from({length: rowCount}, () => {
      const cycles = categories.map(() => new Array(binCount).fill(0));
      for (let b = 0; b < binCount; ++b) {
        let left = 100;
        for (let c = 0; c < categories.length; ++c) {
          const value = Math.floor(next() * (left + 1));
          cycles[c][b] = value;
          left -= value;
        }
      }
      return {tiles: [round], cycles};
    });
    const flat = new Float64Array(rowCount * binCount * 3);
    rows.forEach((row, r) => row.cycles.forEach((series, c) => series.forEach((value, b) => {
      flat[(r * binCount + b) * 3 + c] = value;
    })));
    const data = {from: 500, to: 500 + 100 * binCount, bins: binCount, bin_cycles: 100, categories, rows, cycles: flat};
    // The view: the answer's window, each bin `zoom` pixels wide, or the answer shifted.
    const zoom = 1 + Math.floor(next() * 3);
    const width = binCount * zoom;
    const bins = columnBins(data, width, 500, 100 / zoom);
    const laneRows = new Int32Array(100 * rowCount);
    const heights = new Float64Array(100 * rowCount);
    for (let y = 0; y < laneRows.length; ++y) {
      laneRows[y] = Math.floor(y / 100);
      heights[y] = 1 - ((y % 100) + 0.5) / 100;
    }
    const marks = rows.map(() => Uint8Array.from({length: binCount}, () => (next() < 0.5 ? 1 : 0)));
    const pixels = new Uint32Array(width * laneRows.length);
    paint({pixels, width, bins, rows: laneRows, heights, data, colors, faded, dim: [false, false, false], marks});
    for (let r = 0; r < rowCount; ++r) {
      for (let x = 0; x < width; ++x) {
        const b = Math.floor(x / zoom);
        const palette = marks[r][b] ? colors : faded;
        // From the lane's bottom up: a's pixels, then b's, then c's, then blank.
        const expected = [];
        for (let c = 0; c < 3; ++c) for (let i = 0; i < rows[r].cycles[c][b]; ++i) expected.push(palette[c]);
        while (expected.length < 100) expected.push(0);
        const column = [];
        for (let y = 100 * r + 99; y >= 100 * r; --y) column.push(pixels[y * width + x]);
        assert.deepEqual(column, expected, `round ${round} row ${r} column ${x}`);
      }
    }
    // Outside the answer's window, nothing is painted.
    const shifted = columnBins(data, width, 500 + 100 * binCount, 100 / zoom);
    assert.ok(shifted.every((b) => b === -1));
  }
});
