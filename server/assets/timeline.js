// The timeline on a canvas, as a trace viewer draws it: lanes of tiles grouped by chip (see
// layout.js), time across, one column per pixel of the visible window fetched from the server at
// that resolution. Each cell stacks the share of its capacity (tiles x bin cycles) that each kind
// or group used; blank is time without a sample. Zoomed in to one tile a lane, the samples are
// boxes named by their kernel (or operation). Drawing happens once per animation frame, from the
// last answer for the same filters rescaled to the view while the precise one is on its way.

import {cycles, cyclesAndTime, escapeHtml, percent} from "./format.js";
import {drawAxis} from "./axis.js";
import {drawLanes} from "./lanes.js";
import {Layout, tilesOf} from "./layout.js";
import {columnBins, paint, pixel} from "./raster.js";
import {SampleBoxes, sampleHtml, sampleName} from "./samples.js";
import {ViewRequests, cellCycles, fetchTimeline, mostCells} from "./timeline_data.js";

export const kindColors = {
  exchange: "#3b7dd8", compute: "#2e9e5b", synchronization: "#e8833a", idle: "#b9bfcc",
};
// Distinct from the kind colours; groups beyond these share the last, grey.
const groupPalette = ["#7b4fc9", "#d1496b", "#1fa3a8", "#b58b00", "#5d6bd6", "#c2569e",
  "#3f8f3f", "#9c5a2e", "#2a86c2", "#8e9c1e", "#a8326e", "#5a4a9e"];
const otherGroups = "#d5d8df";
export const labelWidth = 112;
export const axisHeight = 40;
// Visible tiles up to which an answer asks for them alone (each a tile filter in the address).
const filteredTiles = 400;

export function categoryColor(colorBy, category, index) {
  if (colorBy === "kind") return kindColors[category] || "#888";
  return category === "(other groups)" ? otherGroups : groupPalette[index % groupPalette.length];
}

export class Timeline {
  constructor(canvas, tooltip, legend, {onView, onSelect, onSelectEnd, onSample, filters, run}) {
    this.canvas = canvas;
    this.tooltip = tooltip;
    this.legend = legend;
    this.onView = onView;          // (from, to, done): the visible window changed
    this.onSelect = onSelect;      // (selection or null): the selection changed
    this.onSelectEnd = onSelectEnd;
    this.onSample = onSample;      // (sample or null): a sample was picked
    this.filters = filters;        // () => URLSearchParams of the filters (with `run` for the base)
    this.run = run;                // "base" for the base run's timeline, else undefined
    this.linked = [];              // timelines on the same axis, which show the same window
    this.info = null;
    this.layout = null;
    this.layoutKey = null;
    this.answers = new Map();      // filters' key -> the last answer drawn for them
    this.data = null;              // the answer on the canvas
    this.view = {from: 0, to: 1};
    this.selection = null;
    this.highlight = null;
    this.colorBy = "kind";
    this.search = "";
    this.markers = [];             // phase starts: [{offset, phase, epoch}]
    this.picked = null;            // the selected sample
    this.markedTile = null;        // {chip, tile}: a lane outlined (a phase's busiest tile)
    this.markedSamples = [];       // samples marked on the time axis and on their lanes
    this.pointer = null;           // the last hovered point, for a tooltip that follows the view
    this.pending = null;
    this.requests = new ViewRequests();
    this.frame = 0;
    this.boxes = new SampleBoxes(() => this.requestDraw());
    this.listen();
    new ResizeObserver(() => this.refresh()).observe(canvas);
  }

  setInfo(info) {
    this.info = info;
  }

  get span() {
    return this.info ? Math.max(1, this.info.span_cycles) : 1;
  }

  // The plot's place and size in CSS pixels.
  plot() {
    const width = this.canvas.clientWidth;
    const height = this.canvas.clientHeight;
    return {x: labelWidth, y: axisHeight, width: Math.max(10, width - labelWidth - 8),
            height: Math.max(10, height - axisHeight - 4)};
  }

  setView(from, to) {
    const span = this.span;
    const width = Math.min(span, Math.max(8, to - from));
    from = Math.max(0, Math.min(from, span - width));
    this.view = {from: Math.round(from), to: Math.round(from + width)};
    // The other run's timeline shows the same cycles at the same width, one above the other.
    for (const other of this.linked) {
      if (other.view.from === this.view.from && other.view.to === this.view.to) continue;
      other.view = {...this.view};
      other.refresh();
    }
  }

  // Shows the same window as `other`, and `other` the same as this, from now on.
  link(other) {
    this.linked.push(other);
    other.linked.push(this);
  }

  // The filters' key: answers for the same key differ only in the window, so one can stand in
  // for another, rescaled.
  key() {
    return `${this.filters().toString()}|${this.colorBy}`;
  }

  // Asks for the view at once (the transport keeps one request in flight and lets the newest
  // waiting one win, so a burst of events costs no more) and draws in the next frame with what
  // there is.
  refresh() {
    if (!this.info) return;
    this.requestDraw();
    this.fetch();
  }

  requestDraw() {
    if (!this.frame) this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.draw();
    });
  }

  // Draws now, in place of the frame's draw if one is waiting: an answer shows in the frame it
  // came before, not the one after.
  drawNow() {
    if (this.frame) cancelAnimationFrame(this.frame);
    this.frame = 0;
    this.draw();
  }

  // The tiles' lanes for the filters' tiles: one answer at one tile a row, once per tile filter.
  async ensureLayout(signal) {
    const filters = this.filters();
    const tileKey = filters.getAll("tile").join(" ");
    if (this.layout && this.layoutKey === tileKey) return;
    const parameters = new URLSearchParams();
    if (this.run) parameters.set("run", this.run);
    for (const tile of filters.getAll("tile")) parameters.append("tile", tile);
    parameters.set("from", 0);
    parameters.set("to", 1);
    parameters.set("bins", 1);
    parameters.set("rows", Math.min(4096, Math.max(1, this.info.tiles)));
    const data = await fetchTimeline(parameters, signal);
    const names = this.info.profiles.map((p, chip) => `chip ${chip}: ${p.name}`);
    const old = this.layout;
    this.layout = new Layout(tilesOf(data, this.info.profiles.length), names);
    this.layoutKey = tileKey;
    if (old) for (const chip of this.layout.chips) chip.collapsed = old.chips[chip.chip]?.collapsed || false;
    this.layout.setHeight(this.plot().height);
  }

  // The answer's parameters for the view: the visible tiles alone when few enough are visible.
  request() {
    const plot = this.plot();
    const layout = this.layout;
    const parameters = this.filters();
    parameters.set("from", this.view.from);
    parameters.set("to", this.view.to);
    const ratio = window.devicePixelRatio || 1;
    const bins = Math.min(2048, Math.max(1, Math.floor(plot.width * ratio)));
    parameters.set("bins", bins);
    parameters.set("color-by", this.colorBy);
    // The rows the server answers at that width: 4 categories by kind, 13 by group.
    const mostRows = Math.floor(mostCells / (bins * (this.colorBy === "kind" ? 4 : 13)));
    const visible = layout.visible();
    const count = visible.reduce((sum, v) => sum + v.end - v.first, 0);
    const total = layout.chips.reduce((sum, chip) => sum + chip.tiles.length, 0);
    if (count < total && count <= filteredTiles) {
      const wanted = new Set();
      for (const v of visible) {
        for (const tile of layout.chips[v.chip].tiles.slice(v.first, v.end)) wanted.add(tile);
      }
      parameters.delete("tile");
      for (const tile of [...wanted].sort((a, b) => a - b)) parameters.append("tile", tile);
      // Every chip's tiles of those numbers answer: a row each, or a row per few pixels.
      let admitted = 0;
      for (const chip of layout.chips) for (const tile of wanted) admitted += chip.position.has(tile);
      const rows = layout.rowHeight >= 3 ? admitted : Math.ceil(admitted * layout.rowHeight / 3);
      parameters.set("rows", Math.min(4096, mostRows, Math.max(1, rows)));
    } else {
      // The server shares the rows among every chip, folded or not. Between fitted and one tile
      // a lane, a power of two, so that a small change of the lanes' height asks for the same
      // answer, which the server keeps.
      const wanted = Math.max(1, total * layout.rowHeight / 3);
      const rows = layout.isFitted() ? Math.ceil(wanted) : 2 ** Math.ceil(Math.log2(wanted));
      // At least one row, also when the filters admit no tile at all.
      parameters.set("rows", Math.max(1, Math.min(4096, mostRows, total, rows)));
    }
    return parameters;
  }

  async fetch() {
    if (this.pending) this.pending.abort();
    const controller = new AbortController();
    this.pending = controller;
    const key = this.key();
    try {
      await this.ensureLayout(controller.signal);
      const parameters = this.request();
      const search = this.search;
      const [data, marks] = await Promise.all([
        this.requests.fetch(parameters),
        search ? this.searchMarks(parameters, controller.signal).catch(() => null) : null]);
      if (!data) return;  // a newer view was asked for
      data.key = key;
      data.search = search;
      data.marks = marks;
      this.answers.delete(key);
      this.answers.set(key, data);
      while (this.answers.size > 8) this.answers.delete(this.answers.keys().next().value);
      // An answer a newer request already waits behind is drawn, but is not the view asked for.
      if (data.superseded) {
        this.requestDraw();
        return;
      }
      this.fresh = data;
      this.pending = null;
      this.drawNow();
      this.boxes.update(this, controller.signal);
    } catch (error) {
      if (error.name !== "AbortError") this.showError(error);
    }
  }

  // Per row and bin, whether a sample whose kernel is the search word or whose operation holds it
  // runs there: the same grid asked for twice more, with each filter added.
  async searchMarks(parameters, signal) {
    const ask = (word) => {
      const marked = new URLSearchParams(parameters);
      marked.set(word, this.search);
      marked.set("color-by", "kind");
      return fetchTimeline(marked, signal).catch((error) => {
        if (error.name === "AbortError") throw error;
        return null;
      });
    };
    const answers = (await Promise.all([ask("kernel"), ask("operation-contains")])).filter(Boolean);
    if (answers.length === 0) return null;
    const first = answers[0];
    return first.rows.map((row, r) => {
      const marked = new Uint8Array(first.bins);
      for (const answer of answers) {
        for (let b = 0; b < marked.length; ++b) {
          for (let c = 0; c < answer.categories.length; ++c) if (cellCycles(answer, r, b, c) > 0) marked[b] = 1;
        }
      }
      return marked;
    });
  }

  showError(error) {
    this.canvas.dataset.error = error.message;
    const context = this.canvas.getContext("2d");
    context.fillStyle = "#b3261e";
    context.fillText(error.message, labelWidth + 8, axisHeight + 16);
  }

  categoryColors(data = this.data) {
    if (!data) return [];
    return data.categories.map((category, index) => [category, categoryColor(data.colorBy, category, index)]);
  }

  x(cycle) {
    const plot = this.plot();
    return plot.x + (cycle - this.view.from) / (this.view.to - this.view.from) * plot.width;
  }

  cycleAt(x) {
    const plot = this.plot();
    return this.view.from + (x - plot.x) / plot.width * (this.view.to - this.view.from);
  }

  // The answer to paint: the last for these filters, whatever its window (never one for other
  // filters or colours, whose categories would be wrong).
  current() {
    return this.answers.get(this.key()) || null;
  }

  draw() {
    const ratio = window.devicePixelRatio || 1;
    const canvas = this.canvas;
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    const context = canvas.getContext("2d");
    context.setTransform(1, 0, 0, 1, 0, 0);
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.font = "11px system-ui, sans-serif";
    const plot = this.plot();
    canvas.dataset.plot = `${plot.x} ${plot.y} ${plot.width} ${plot.height}`;
    if (this.layout) this.layout.setHeight(plot.height);
    const data = this.current();
    const changed = data !== this.data;
    this.data = data;
    if (changed) this.showLegend();
    if (data && this.layout) this.paintCells(context, plot, data, ratio);
    if (this.layout) {
      this.boxes.draw(context, this, plot);
      drawLanes(context, plot, this);
    }
    drawAxis(context, plot, this);
    this.drawSelection(context, plot);
    this.drawMarks(context, plot);
    if (this.pointer) this.hover(this.pointer);
    // The precise answer for the view is on the canvas: say so, once.
    if (data && data === this.fresh) {
      this.fresh = null;
      canvas.dataset.request = data.request;
      // from-to-bins-rows-first tile-count, the count of views drawn so far: each answer drawn
      // changes it, even one for the same window in other colours.
      this.drawn = (this.drawn || 0) + 1;
      const firstTile = data.rows.length && data.rows[0].tiles.length ? data.rows[0].tiles[0] : 0;
      canvas.dataset.loaded =
          `${data.from}-${data.to}-${data.bins}-${data.rows.length}-${firstTile}-${this.drawn}`;
      canvas.dataset.rows = String(data.rows.length);
      canvas.dispatchEvent(new CustomEvent("timeline-drawn"));
    }
  }

  showLegend() {
    if (!this.legend) return;
    const colors = this.categoryColors();
    this.legend.innerHTML = colors.map(([category, color]) =>
        `<span data-category="${escapeHtml(category)}"><i data-color="${color}"></i>${escapeHtml(category)}</span>`).join("");
    for (const swatch of this.legend.querySelectorAll("i")) swatch.style.background = swatch.dataset.color;
  }

  // The cells, from `data` whatever its window and rows: one ImageData for the plot.
  paintCells(context, plot, data, ratio) {
    const layout = this.layout;
    const width = Math.max(1, Math.round(plot.width * ratio));
    const height = Math.max(1, Math.round(plot.height * ratio));
    const image = context.createImageData(width, height);
    const pixels = new Uint32Array(image.data.buffer);
    const perPixel = (this.view.to - this.view.from) / width;
    const bins = columnBins(data, width, this.view.from, perPixel);
    // Each answer row's places in its chip's list, and each place's row.
    const rowAt = layout.chips.map((chip) => new Int32Array(chip.tiles.length).fill(-1));
    data.rows.forEach((row, r) => {
      const chip = layout.chips[row.profile];
      if (!chip) return;
      for (const tile of row.tiles) {
        const place = chip.position.get(tile);
        if (place !== undefined) rowAt[row.profile][place] = r;
      }
    });
    const rows = new Int32Array(height).fill(-1);
    const gaps = layout.rowHeight >= 6;
    for (let y = 0; y < height; ++y) {
      const lane = layout.laneAt((y + 0.5) / ratio);
      if (!lane || lane.tile < 0) continue;
      const place = Math.floor(lane.position);
      // A pixel's gap between tall lanes, so that each tile reads as its own lane.
      if (gaps && (place + 1 - lane.position) * layout.rowHeight * ratio < ratio) continue;
      rows[y] = rowAt[lane.chip][place];
    }
    // Each run of pixel rows of one answer row stacks its cells over the run's whole height.
    const heights = new Float64Array(height);
    for (let y = 0; y < height;) {
      let end = y + 1;
      while (end < height && rows[end] === rows[y]) ++end;
      for (let k = y; k < end; ++k) heights[k] = 1 - (k - y + 0.5) / (end - y);
      y = end;
    }
    const colors = this.categoryColors(data);
    const highlighting = this.highlight !== null && data.colorBy === "group";
    const marks = data.marks && data.search === this.search && this.search ? data.marks : null;
    paint({
      pixels, width, bins, rows, heights, data, marks,
      colors: Uint32Array.from(colors, ([, color]) => pixel(color)),
      faded: Uint32Array.from(colors, ([, color]) => pixel(color, 0.2)),
      dim: colors.map(([category]) => highlighting && category !== this.highlight),
    });
    context.putImageData(image, Math.round(plot.x * ratio), Math.round(plot.y * ratio));
  }

  drawSelection(context, plot) {
    if (!this.selection) return;
    const x0 = Math.max(plot.x, this.x(this.selection.from));
    const x1 = Math.min(plot.x + plot.width, this.x(this.selection.to));
    if (x1 <= x0) return;
    context.fillStyle = "rgba(47, 111, 222, 0.14)";
    context.fillRect(x0, plot.y, x1 - x0, plot.height);
    context.strokeStyle = "#2f6fde";
    context.strokeRect(x0 + 0.5, plot.y + 0.5, x1 - x0 - 1, plot.height - 1);
  }

  // Marks a tile's lane (null for none) and samples (a list, maybe empty). The canvas's
  // data-marked-tile ("chip-tile") and data-marked-samples (their count) say what is marked.
  mark(tile, samples) {
    if (tile !== undefined) this.markedTile = tile;
    if (samples !== undefined) this.markedSamples = samples;
    this.canvas.dataset.markedTile = this.markedTile ? `${this.markedTile.chip}-${this.markedTile.tile}` : "";
    this.canvas.dataset.markedSamples = String(this.markedSamples.length);
    this.requestDraw();
  }

  // The chip a sample's lane is in: its own, else the first chip with its tile.
  chipOf(sample) {
    if (sample.chip !== undefined) return sample.chip;
    return this.layout ? Math.max(0, this.layout.chips.findIndex((c) => c.position.has(sample.physical_tile))) : 0;
  }

  // The marked tile's lane outlined, and each marked sample a tick under the axis and, where its
  // lane shows, an outline over its part of the lane.
  drawMarks(context, plot) {
    const layout = this.layout;
    if (!layout) return;
    context.save();
    context.beginPath();
    context.rect(plot.x, plot.y - 8, plot.width, plot.height + 8);
    context.clip();
    const lane = (chip, tile) => {
      const c = layout.chips[chip];
      const place = c && !c.collapsed ? c.position.get(tile) : undefined;
      if (place === undefined) return null;
      const top = plot.y + layout.laneTop(chip, place);
      return top + layout.rowHeight < plot.y || top > plot.y + plot.height ? null : top;
    };
    if (this.markedTile) {
      const top = lane(this.markedTile.chip, this.markedTile.tile);
      if (top !== null) {
        context.strokeStyle = "#b3261e";
        context.lineWidth = 2;
        context.strokeRect(plot.x + 1, top, plot.width - 2, Math.max(2, layout.rowHeight - 1));
      }
    }
    context.strokeStyle = "#111";
    context.fillStyle = "#111";
    context.lineWidth = 2;
    for (const sample of this.markedSamples) {
      const x0 = this.x(sample.offset);
      const x1 = Math.max(x0 + 2, this.x(sample.offset + sample.duration));
      if (x1 < plot.x || x0 > plot.x + plot.width) continue;
      context.fillRect(x0, plot.y - 6, x1 - x0, 5);
      const top = lane(this.chipOf(sample), sample.physical_tile);
      if (top !== null) context.strokeRect(x0, top, x1 - x0, Math.max(2, layout.rowHeight - 1));
    }
    context.restore();
  }

  setMarkers(markers) {
    this.markers = markers.sort((a, b) => a.offset - b.offset);
    this.firstPhase = markers.reduce((lowest, m) => Math.min(lowest, m.phase), Infinity);
    this.requestDraw();
  }

  // The cell under a point of the canvas in the current view, or null.
  cellAt(offsetX, offsetY) {
    const data = this.data;
    const plot = this.plot();
    if (!data || !this.layout || offsetX < plot.x || offsetX > plot.x + plot.width ||
        offsetY < plot.y || offsetY > plot.y + plot.height) return null;
    const lane = this.layout.laneAt(offsetY - plot.y);
    if (!lane || lane.tile < 0) return null;
    const cycle = Math.floor(this.cycleAt(offsetX));
    const bin = Math.floor((cycle - data.from) / data.bin_cycles);
    if (bin < 0 || bin >= data.bins) return null;
    const r = data.rows.findIndex((row) => row.profile === lane.chip && row.tiles.includes(lane.tile));
    if (r < 0) return null;
    return {row: data.rows[r], r, bin, cycle, lane, start: data.from + bin * data.bin_cycles,
            end: data.from + (bin + 1) * data.bin_cycles};
  }

  // The tooltip for the point, in the view as it is now: a sample's box names the sample, a cell
  // gives its exact figures (those of the answer's bin, which a rescaled answer says is wider).
  hover(point) {
    this.pointer = point;
    const plot = this.plot();
    const sample = this.boxes.at(this, point.x, point.y, plot);
    if (sample) {
      this.showTooltip(point, sampleHtml(sample, this.info.clock_hz), {sample: sampleName(sample)});
      return;
    }
    const cell = this.cellAt(point.x, point.y);
    if (!cell) {
      this.tooltip.hidden = true;
      return;
    }
    const {row, r, bin, start, end} = cell;
    const clock = this.info.clock_hz;
    const capacity = Math.max(1, row.tiles.length) * (end - start);
    let total = 0;
    const lines = this.categoryColors().map(([category, color], c) => {
      const value = cellCycles(this.data, r, bin, c);
      total += value;
      return `<tr><td><span class="swatch" style-color="${color}"></span>${escapeHtml(category)}</td>` +
             `<td class="n">${cycles(value)}</td><td class="n">${percent(value, capacity)}</td></tr>`;
    });
    const label = row.tiles.length === 1 ? `tile ${row.tiles[0]}` : row.label;
    const chip = this.info.profiles.length > 1 ? `chip ${row.profile} ` : "";
    const html =
        `<b>${escapeHtml(chip + label)}</b> · ${row.tiles.length} tile${row.tiles.length === 1 ? "" : "s"}<br>` +
        `cycles ${cycles(start)} – ${cycles(end)} (${cyclesAndTime(end - start, clock)} a tile)` +
        `<table>${lines.join("")}<tr><td>no sample</td><td class="n">${cycles(Math.max(0, capacity - total))}</td>` +
        `<td class="n">${percent(Math.max(0, capacity - total), capacity)}</td></tr></table>` +
        (this.data.bin_cycles > 2 * (this.view.to - this.view.from) / plot.width
          ? `<div class="sample">a coarser answer's cell, while this view's comes</div>` : "");
    this.showTooltip(point, html, {row: row.label, bin: String(bin), binCycles: String(this.data.bin_cycles)});
  }

  showTooltip(point, html, data) {
    const tooltip = this.tooltip;
    tooltip.innerHTML = html;
    for (const swatch of tooltip.querySelectorAll("[style-color]")) {
      swatch.style.background = swatch.getAttribute("style-color");
    }
    for (const key of Object.keys(tooltip.dataset)) delete tooltip.dataset[key];
    Object.assign(tooltip.dataset, data);
    tooltip.hidden = false;
    const box = this.canvas.getBoundingClientRect();
    const left = point.x + 16 + 300 > box.width ? point.x - 316 : point.x + 16;
    tooltip.style.left = `${Math.max(0, left)}px`;
    tooltip.style.top = `${Math.max(0, point.y - 10)}px`;
  }

  // Zooms time by `factor` around `cycle`.
  zoom(factor, cycle = (this.view.from + this.view.to) / 2) {
    this.setView(cycle - (cycle - this.view.from) * factor, cycle + (this.view.to - cycle) * factor);
    this.changed(false);
  }

  pan(fraction) {
    const shift = (this.view.to - this.view.from) * fraction;
    this.setView(this.view.from + shift, this.view.to + shift);
    this.changed(false);
  }

  show(from, to) {
    this.setView(from, to);
    this.changed(true);
  }

  changed(done) {
    this.onView(this.view.from, this.view.to, done);
    this.refresh();
  }

  // Rows: zoom by `factor` around `anchor` pixels from the plot's top, or scroll.
  zoomRows(factor, anchor) {
    if (!this.layout) return;
    this.layout.zoom(factor, anchor);
    this.refresh();
  }

  scrollRows(pixels) {
    if (!this.layout) return;
    this.layout.scroll(pixels);
    this.refresh();
  }

  // Shows a tile's lane at one tile a row (its chip expanded).
  showTile(chipIndex, tile) {
    const layout = this.layout;
    const chip = layout && layout.chips[chipIndex];
    if (!chip || !chip.position.has(tile)) return;
    chip.collapsed = false;
    if (layout.rowHeight < 18) layout.rowHeight = 18;
    layout.clamp();
    const place = chip.position.get(tile);
    layout.top = layout.chipSpans()[chipIndex].tilesTop + (place + 0.5) * layout.rowHeight - layout.height / 2;
    layout.clamp();
    this.refresh();
  }

  // A box's colour: its kind's, or with colour by group its group's when the grouping is one a
  // sample names (kind, kernel, operation).
  sampleColor(sample) {
    const data = this.data;
    if (!data || data.colorBy === "kind") return kindColors[sample.kind] || "#888";
    const by = this.filters().get("group-by") || "kernel";
    const name = by === "kernel" ? (sample.kernel || "(no kernel)") : by === "kind" ? sample.kind
        : by === "operation" ? sample.operation : null;
    const index = name === null ? -1 : data.categories.indexOf(name);
    const category = index >= 0 ? index : data.categories.indexOf("(other groups)");
    if (category < 0) return kindColors[sample.kind] || "#888";
    return categoryColor("group", data.categories[category], category);
  }

  pick(sample) {
    this.picked = sample;
    this.onSample(sample);
    this.requestDraw();
  }

  // The wheel zooms the cycles, with Alt the rows; with Shift, or swiped sideways, it scrolls.
  wheel(event) {
    event.preventDefault();
    const plot = this.plot();
    // Pixels, whatever the device counts in (lines or pages).
    const unit = event.deltaMode === 1 ? 16 : event.deltaMode === 2 ? plot.height : 1;
    const dx = event.deltaX * unit;
    const dy = event.deltaY * unit;
    const factor = Math.exp(Math.max(-3, Math.min(3, (dy || dx) * 0.002)));
    if (event.altKey) this.zoomRows(1 / factor, event.offsetY - plot.y);
    else if (event.shiftKey) this.scrollRows(dy || dx);
    // A sideways swipe pans.
    else if (Math.abs(dx) > Math.abs(dy)) this.pan(dx / plot.width);
    else this.zoom(factor, this.cycleAt(event.offsetX));
  }

  // A chip's header folds or unfolds its lanes; whether `offsetY` was on one.
  foldChipAt(offsetY) {
    const plot = this.plot();
    if (!this.layout || offsetY < plot.y) return false;
    const lane = this.layout.laneAt(offsetY - plot.y);
    if (!lane || lane.tile >= 0) return false;
    const chip = this.layout.chips[lane.chip];
    const fitted = this.layout.isFitted();
    chip.collapsed = !chip.collapsed;
    // Fitted lanes stay fitted: the others share the room a folded chip leaves.
    if (fitted) this.layout.fit();
    this.layout.clamp();
    this.refresh();
    return true;
  }

  // A drag past a few pixels selects cycles (begun with Shift) or moves the view.
  dragTo(drag, event) {
    const box = this.canvas.getBoundingClientRect();
    const x = event.clientX - box.left;
    const y = event.clientY - box.top;
    if (Math.abs(x - drag.x) + Math.abs(y - drag.y) > 3) drag.moved = true;
    if (!drag.moved) return;
    if (drag.select) {
      const here = this.cycleAt(x);
      const from = Math.max(0, Math.round(Math.min(drag.anchor, here)));
      const to = Math.min(this.span, Math.round(Math.max(drag.anchor, here)));
      this.selection = to > from ? {from, to} : null;
      this.onSelect(this.selection);
      this.requestDraw();
    } else {
      const cyclesPerPixel = (drag.view.to - drag.view.from) / this.plot().width;
      const shift = (drag.x - x) * cyclesPerPixel;
      this.setView(drag.view.from + shift, drag.view.to + shift);
      if (this.layout) {
        this.layout.top = drag.top + (drag.y - y);
        this.layout.clamp();
      }
      this.changed(false);
    }
  }

  listen() {
    const canvas = this.canvas;
    canvas.addEventListener("wheel", (event) => this.wheel(event), {passive: false});
    let drag = null;
    canvas.addEventListener("mousedown", (event) => {
      canvas.focus({preventScroll: true});
      if (this.foldChipAt(event.offsetY)) return;
      drag = {x: event.offsetX, y: event.offsetY, view: {...this.view}, top: this.layout ? this.layout.top : 0,
              select: event.shiftKey, anchor: this.cycleAt(event.offsetX), moved: false};
      canvas.classList.toggle("dragging", !drag.select);
    });
    window.addEventListener("mousemove", (event) => {
      if (drag) this.dragTo(drag, event);
    });
    window.addEventListener("mouseup", (event) => {
      if (!drag) return;
      const {select, moved} = drag;
      drag = null;
      canvas.classList.remove("dragging");
      if (!moved) {
        // A click: picks the sample under it, or lets go of the picked one.
        if (event.target === canvas) this.pick(this.boxes.at(this, event.offsetX, event.offsetY, this.plot()));
        return;
      }
      if (select) this.onSelectEnd(this.selection);
      else this.onView(this.view.from, this.view.to, true);
    });
    canvas.addEventListener("mousemove", (event) => {
      if (!drag) this.hover({x: event.offsetX, y: event.offsetY});
    });
    canvas.addEventListener("mouseleave", () => {
      this.pointer = null;
      this.tooltip.hidden = true;
    });
  }
}
