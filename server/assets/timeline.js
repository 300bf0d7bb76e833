// The timeline on a canvas: one row per tile or bin of tiles, per chip; one column per pixel of
// the visible window, fetched from the server at that resolution. Each cell stacks the share of
// its capacity (tiles x bin cycles) that each kind or group used; blank is time without a sample.

import {get} from "./api.js";
import {cycles, cyclesAndTime, escapeHtml, percent} from "./format.js";
import {TimelineTransport} from "./transport.js";

export const kindColors = {
  exchange: "#3b7dd8", compute: "#2e9e5b", synchronization: "#e8833a", idle: "#b9bfcc",
};
// Distinct from the kind colours; groups beyond these share the last, grey.
const groupPalette = ["#7b4fc9", "#d1496b", "#1fa3a8", "#b58b00", "#5d6bd6", "#c2569e",
  "#3f8f3f", "#9c5a2e", "#2a86c2", "#8e9c1e", "#a8326e", "#5a4a9e"];
const otherGroups = "#d5d8df";
const labelWidth = 96;
const axisHeight = 22;

export class Timeline {
  constructor(canvas, tooltip, {onView, onSelect, onSelectEnd, filters}) {
    this.canvas = canvas;
    this.tooltip = tooltip;
    this.onView = onView;          // (from, to, done): the visible window changed
    this.onSelect = onSelect;      // (from, to): the selection changed (or null)
    this.onSelectEnd = onSelectEnd;
    this.filters = filters;        // () => URLSearchParams of the filters
    this.info = null;
    this.data = null;
    this.view = {from: 0, to: 1};
    this.selection = null;
    this.highlight = null;
    this.colorBy = "kind";
    this.transport = new TimelineTransport();
    this.hoverRequest = null;
    this.listen();
    new ResizeObserver(() => this.refresh()).observe(canvas);
  }

  setInfo(info) {
    this.info = info;
  }

  get span() {
    return this.info ? Math.max(1, this.info.span_cycles) : 1;
  }

  // The plot's size in CSS pixels.
  plot() {
    const width = this.canvas.clientWidth;
    const height = this.canvas.clientHeight;
    return {x: labelWidth, y: axisHeight, width: Math.max(10, width - labelWidth - 8),
            height: Math.max(10, height - axisHeight - 4)};
  }

  setView(from, to) {
    const span = this.span;
    let width = Math.min(span, Math.max(8, to - from));
    from = Math.max(0, Math.min(from, span - width));
    this.view = {from: Math.round(from), to: Math.round(from + width)};
  }

  // Fetches the cells of the visible window at the canvas's resolution; draws at once with what
  // it has, and again when the answer comes.
  refresh() {
    if (!this.info) return;
    this.draw();
    this.fetch();
  }

  async fetch() {
    const plot = this.plot();
    const parameters = this.filters();
    const tiles = Math.max(1, this.info.tiles);
    parameters.set("from", this.view.from);
    parameters.set("to", this.view.to);
    parameters.set("bins", Math.min(1600, Math.max(1, Math.floor(plot.width))));
    parameters.set("rows", Math.min(tiles, Math.max(1, Math.floor(plot.height / 5))));
    parameters.set("color-by", this.colorBy);
    try {
      const data = await this.transport.fetch(parameters);
      if (!data) return;  // a newer view was asked for
      this.data = data;
      this.draw();
      if (data.superseded) return;  // drawn, while the newest view comes
      this.canvas.dataset.request = data.request;
      this.canvas.dataset.loaded = `${this.data.from}-${this.data.to}-${this.data.bins}`;
      this.canvas.dispatchEvent(new CustomEvent("timeline-drawn"));
    } catch (error) {
      if (error.name !== "AbortError") this.showError(error);
    }
  }

  showError(error) {
    this.canvas.dataset.error = error.message;
    const context = this.canvas.getContext("2d");
    context.fillStyle = "#b3261e";
    context.fillText(error.message, labelWidth + 8, axisHeight + 16);
  }

  color(category, index) {
    if (this.colorBy === "kind") return kindColors[category] || "#888";
    return category === "(other groups)" ? otherGroups : groupPalette[index % groupPalette.length];
  }

  categoryColors() {
    if (!this.data) return [];
    return this.data.categories.map((category, index) => [category, this.color(category, index)]);
  }

  x(cycle) {
    const plot = this.plot();
    return plot.x + (cycle - this.view.from) / (this.view.to - this.view.from) * plot.width;
  }

  cycleAt(x) {
    const plot = this.plot();
    return this.view.from + (x - plot.x) / plot.width * (this.view.to - this.view.from);
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
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.clearRect(0, 0, width, height);
    context.font = "11px system-ui, sans-serif";
    const plot = this.plot();
    this.drawAxis(context, plot);
    const data = this.data;
    if (!data || data.rows.length === 0) return;
    const rowHeight = plot.height / data.rows.length;
    const colors = this.categoryColors();
    const dim = this.highlight !== null && this.colorBy === "group";
    context.save();
    context.beginPath();
    context.rect(plot.x, plot.y, plot.width, plot.height);
    context.clip();
    const categories = data.categories.length;
    data.rows.forEach((row, r) => {
      const top = plot.y + r * rowHeight;
      const capacity = Math.max(1, row.tiles.length) * data.bin_cycles;
      for (let b = 0; b < data.bins; ++b) {
        const start = data.from + b * data.bin_cycles;
        const x0 = this.x(start);
        const x1 = this.x(start + data.bin_cycles);
        if (x1 < plot.x || x0 > plot.x + plot.width) continue;
        let bottom = top + rowHeight - 0.5;
        for (let c = 0; c < colors.length; ++c) {
          const value = data.cycles[(r * data.bins + b) * categories + c];
          if (value === 0) continue;
          const h = Math.min(1, value / capacity) * (rowHeight - 1);
          context.globalAlpha = dim && colors[c][0] !== this.highlight ? 0.2 : 1;
          context.fillStyle = colors[c][1];
          context.fillRect(x0, bottom - h, Math.max(x1 - x0, 0.6), h);
          bottom -= h;
        }
      }
    });
    context.globalAlpha = 1;
    context.restore();
    // Row labels, thinned to what fits.
    context.fillStyle = "#4b5263";
    context.textBaseline = "middle";
    const every = Math.max(1, Math.ceil(13 / rowHeight));
    data.rows.forEach((row, r) => {
      if (r % every === 0) context.fillText(row.label, 4, plot.y + (r + 0.5) * rowHeight, labelWidth - 8);
    });
    if (this.selection) {
      const x0 = Math.max(plot.x, this.x(this.selection.from));
      const x1 = Math.min(plot.x + plot.width, this.x(this.selection.to));
      if (x1 > x0) {
        context.fillStyle = "rgba(47, 111, 222, 0.14)";
        context.fillRect(x0, plot.y, x1 - x0, plot.height);
        context.strokeStyle = "#2f6fde";
        context.strokeRect(x0 + 0.5, plot.y + 0.5, x1 - x0 - 1, plot.height - 1);
      }
    }
  }

  drawAxis(context, plot) {
    const length = this.view.to - this.view.from;
    const rough = length / Math.max(1, plot.width / 110);
    const power = 10 ** Math.floor(Math.log10(Math.max(1, rough)));
    const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= rough) || power * 10;
    context.fillStyle = "#687085";
    context.strokeStyle = "#e3e6ec";
    context.textBaseline = "top";
    for (let tick = Math.ceil(this.view.from / step) * step; tick <= this.view.to; tick += step) {
      const x = this.x(tick);
      context.beginPath();
      context.moveTo(x + 0.5, plot.y - 4);
      context.lineTo(x + 0.5, plot.y + plot.height);
      context.stroke();
      context.fillText(cycles(tick), x + 3, 4);
    }
  }

  // The row, bin and category figures under a point of the canvas, or null.
  cellAt(offsetX, offsetY) {
    const data = this.data;
    const plot = this.plot();
    if (!data || data.rows.length === 0 || offsetX < plot.x || offsetX > plot.x + plot.width ||
        offsetY < plot.y || offsetY > plot.y + plot.height) return null;
    const r = Math.min(data.rows.length - 1,
                       Math.floor((offsetY - plot.y) / plot.height * data.rows.length));
    const row = data.rows[r];
    const cycle = Math.floor(this.cycleAt(offsetX));
    const bin = Math.floor((cycle - data.from) / data.bin_cycles);
    if (bin < 0 || bin >= data.bins) return null;
    return {row, r, bin, cycle, start: data.from + bin * data.bin_cycles,
            end: data.from + (bin + 1) * data.bin_cycles};
  }

  hover(event) {
    const cell = this.cellAt(event.offsetX, event.offsetY);
    if (!cell) {
      this.tooltip.hidden = true;
      return;
    }
    const {row, r, bin, start, end} = cell;
    const data = this.data;
    const clock = this.info.clock_hz;
    const capacity = Math.max(1, row.tiles.length) * (end - start);
    let total = 0;
    const lines = this.categoryColors().map(([category, color], c) => {
      const value = data.cycles[(r * data.bins + bin) * data.categories.length + c];
      total += value;
      return `<tr><td><span class="swatch" style-color="${color}"></span>${escapeHtml(category)}</td>` +
             `<td class="n">${cycles(value)}</td><td class="n">${percent(value, capacity)}</td></tr>`;
    });
    this.tooltip.innerHTML =
        `<b>${escapeHtml(row.label)}</b> · ${row.tiles.length} tile${row.tiles.length === 1 ? "" : "s"}<br>` +
        `cycles ${cycles(start)} – ${cycles(end)} (${cyclesAndTime(end - start, clock)} a tile)` +
        `<table>${lines.join("")}<tr><td>no sample</td><td class="n">${cycles(Math.max(0, capacity - total))}</td>` +
        `<td class="n">${percent(Math.max(0, capacity - total), capacity)}</td></tr></table>` +
        `<div class="sample" id="hover-sample"></div>`;
    for (const swatch of this.tooltip.querySelectorAll("[style-color]")) {
      swatch.style.background = swatch.getAttribute("style-color");
    }
    this.tooltip.hidden = false;
    const box = this.canvas.getBoundingClientRect();
    const left = event.offsetX + 16 + 300 > box.width ? event.offsetX - 316 : event.offsetX + 16;
    this.tooltip.style.left = `${Math.max(0, left)}px`;
    this.tooltip.style.top = `${Math.max(0, event.offsetY - 10)}px`;
    this.tooltip.dataset.row = row.label;
    this.tooltip.dataset.bin = String(bin);
    // Zoomed in far enough to tell samples apart: the sample running there on the row's first tile.
    if (end - start <= 2000 && row.tiles.length === 1) this.hoverSample(row.tiles[0], cell.cycle);
  }

  async hoverSample(tile, cycle) {
    clearTimeout(this.hoverTimer);
    this.hoverTimer = setTimeout(async () => {
      const parameters = this.filters();
      parameters.delete("tile");
      parameters.delete("at");
      parameters.set("tile", tile);
      parameters.set("at", cycle);
      parameters.set("limit", 3);
      try {
        const report = await get("/api/samples", parameters);
        const place = this.tooltip.querySelector("#hover-sample");
        if (!place) return;
        if (!report.samples || report.samples.length === 0) {
          place.textContent = `no sample at cycle ${cycles(cycle)}`;
          return;
        }
        place.innerHTML = report.samples.map((s) =>
            `<b>${escapeHtml(s.kind)}</b> ${escapeHtml(s.kernel || "")} ${escapeHtml(s.operation || "")}<br>` +
            `phase ${s.phase} epoch ${s.epoch} · ${cyclesAndTime(s.duration, this.info.clock_hz)}` +
            ` from ${cycles(s.offset)}`).join("<br>");
        this.tooltip.dataset.sample = "shown";
      } catch (error) {
        // The figures above stay; a sample that cannot be fetched is left out.
      }
    }, 60);
  }

  listen() {
    const canvas = this.canvas;
    canvas.addEventListener("wheel", (event) => {
      event.preventDefault();
      const anchor = this.cycleAt(event.offsetX);
      const factor = Math.exp(Math.max(-3, Math.min(3, event.deltaY * 0.002)));
      const from = anchor - (anchor - this.view.from) * factor;
      const to = anchor + (this.view.to - anchor) * factor;
      this.setView(from, to);
      this.onView(this.view.from, this.view.to, false);
      this.refresh();
    }, {passive: false});
    let drag = null;
    canvas.addEventListener("mousedown", (event) => {
      drag = {x: event.offsetX, view: {...this.view}, select: event.shiftKey,
              anchor: this.cycleAt(event.offsetX)};
      canvas.classList.toggle("dragging", !drag.select);
    });
    window.addEventListener("mousemove", (event) => {
      if (!drag) return;
      const x = event.clientX - canvas.getBoundingClientRect().left;
      if (drag.select) {
        const here = this.cycleAt(x);
        const from = Math.max(0, Math.round(Math.min(drag.anchor, here)));
        const to = Math.min(this.span, Math.round(Math.max(drag.anchor, here)));
        this.selection = to > from ? {from, to} : null;
        this.onSelect(this.selection);
        this.draw();
      } else {
        const cyclesPerPixel = (drag.view.to - drag.view.from) / this.plot().width;
        const shift = (drag.x - x) * cyclesPerPixel;
        this.setView(drag.view.from + shift, drag.view.to + shift);
        this.onView(this.view.from, this.view.to, false);
        this.refresh();
      }
    });
    window.addEventListener("mouseup", () => {
      if (!drag) return;
      const selected = drag.select;
      drag = null;
      canvas.classList.remove("dragging");
      if (selected) this.onSelectEnd(this.selection);
      else this.onView(this.view.from, this.view.to, true);
    });
    canvas.addEventListener("mousemove", (event) => {
      if (!drag) this.hover(event);
    });
    canvas.addEventListener("mouseleave", () => {
      this.tooltip.hidden = true;
    });
  }
}
