// The samples of the visible tiles as boxes, once the lanes are one tile each and tall enough to
// read and the view holds few enough samples a tile: each named by its kernel (or operation)
// where the name fits. The samples come from /api/samples, a tile at a time, for a window a little
// wider than the view so that a short pan needs nothing new.

import {get} from "./api.js";
import {cycles, cyclesAndTime, escapeHtml} from "./format.js";

const smallestLane = 12;   // pixels a tile's lane needs for boxes
const mostTiles = 64;      // lanes fetched for at once
const limit = 400;         // samples asked for a tile (the longest first)
const parallel = 6;

export class SampleBoxes {
  constructor(redraw) {
    this.redraw = redraw;
    this.tiles = new Map();  // "filters|tile" -> {from, to, samples, complete}
  }

  // Whether the view is one where samples are boxes.
  active(timeline) {
    const layout = timeline.layout;
    const info = timeline.info;
    if (!layout || !info || layout.rowHeight < smallestLane) return false;
    if (layout.visibleCount() > mostTiles) return false;
    const length = timeline.view.to - timeline.view.from;
    const perTile = info.samples / Math.max(1, info.tiles) * length / Math.max(1, info.span_cycles);
    return perTile <= limit / 2;
  }

  // The visible lanes: {chip, place, tile}.
  lanes(timeline) {
    const layout = timeline.layout;
    const out = [];
    for (const v of layout.visible()) {
      const chip = layout.chips[v.chip];
      for (let place = v.first; place < v.end; ++place) out.push({chip: v.chip, place, tile: chip.tiles[place]});
    }
    return out;
  }

  filters(timeline) {
    const parameters = timeline.filters();
    parameters.delete("tile");
    parameters.delete("at");
    parameters.delete("group-by");
    parameters.delete("metadata-key");
    return parameters;
  }

  // Fetches what the view lacks: tiles without samples for a window around it.
  async update(timeline, signal) {
    if (!this.active(timeline)) return;
    const base = this.filters(timeline);
    const prefix = base.toString();
    const view = timeline.view;
    const length = view.to - view.from;
    const from = Math.max(0, Math.floor(view.from - length / 2));
    const to = Math.min(timeline.span, Math.ceil(view.to + length / 2));
    const several = timeline.layout.chips.length > 1;
    const wanted = this.lanes(timeline).filter(({chip, tile}) => {
      const known = this.tiles.get(`${prefix}|${chip}|${tile}`);
      return !known || known.from > view.from || known.to < view.to ||
             (!known.complete && known.to - known.from > 4 * length);
    });
    let next = 0;
    const work = async () => {
      while (next < wanted.length && !signal.aborted) {
        const {chip, tile} = wanted[next++];
        const parameters = new URLSearchParams(base);
        parameters.set("tile", tile);
        if (several) parameters.set("chip", chip);
        parameters.set("from", from);
        parameters.set("to", to);
        parameters.set("limit", limit);
        try {
          const report = await get("/api/samples", parameters, signal);
          if (several) for (const sample of report.samples) sample.chip = chip;
          this.tiles.set(`${prefix}|${chip}|${tile}`,
                         {from, to, samples: report.samples, complete: report.samples.length < limit});
          this.redraw();
        } catch (error) {
          if (error.name === "AbortError") return;
        }
      }
    };
    await Promise.all(Array.from({length: parallel}, work));
    // Some 300 lanes' samples kept, a few screens' worth: at most 120,000 records.
    while (this.tiles.size > 300) this.tiles.delete(this.tiles.keys().next().value);
  }

  // The samples of a lane's tile that show in the view.
  shown(timeline, chip, tile) {
    const known = this.tiles.get(`${this.filters(timeline).toString()}|${chip}|${tile}`);
    if (!known) return [];
    const view = timeline.view;
    return known.samples.filter((s) => s.offset < view.to && s.offset + s.duration > view.from);
  }

  // Draws the boxes; the canvas's data-boxes and data-named count those drawn and those named.
  draw(context, timeline, plot) {
    let boxes = 0;
    let named = 0;
    timeline.canvas.dataset.boxes = "0";
    timeline.canvas.dataset.named = "0";
    if (!this.active(timeline)) return;
    const layout = timeline.layout;
    const search = timeline.search;
    const height = layout.rowHeight;
    context.save();
    context.beginPath();
    context.rect(plot.x, plot.y, plot.width, plot.height);
    context.clip();
    context.textBaseline = "middle";
    context.font = "11px system-ui, sans-serif";
    for (const {chip, place, tile} of this.lanes(timeline)) {
      const top = plot.y + layout.laneTop(chip, place) + 1;
      const samples = this.shown(timeline, chip, tile);
      // The shortest on top: a long sample never hides a short one it overlaps.
      samples.sort((a, b) => b.duration - a.duration);
      for (const s of samples) {
        const x0 = Math.max(plot.x, timeline.x(s.offset));
        const x1 = Math.min(plot.x + plot.width, timeline.x(s.offset + s.duration));
        if (x1 - x0 < 1) continue;
        boxes += 1;
        const matched = search && matches(s, search);
        context.globalAlpha = search && !matched ? 0.25 : 1;
        context.fillStyle = timeline.sampleColor(s);
        context.fillRect(x0, top, x1 - x0, height - 3);
        if (x1 - x0 >= 4) {
          context.strokeStyle = same(s, timeline.picked) ? "#111" : "rgba(0, 0, 0, 0.35)";
          context.lineWidth = same(s, timeline.picked) ? 2 : 1;
          context.strokeRect(x0 + 0.5, top + 0.5, x1 - x0 - 1, height - 4);
        }
        if (matched) {
          context.strokeStyle = "#f5c400";
          context.lineWidth = 2;
          context.strokeRect(x0 + 1, top + 1, x1 - x0 - 2, height - 5);
        }
        const text = x1 - x0 > 24 ? fitted(context, sampleName(s), x1 - x0 - 6) : "";
        if (text) {
          context.fillStyle = s.kind === "idle" ? "#1d2330" : "#fff";
          context.fillText(text, x0 + 3, top + (height - 3) / 2, x1 - x0 - 6);
          named += 1;
        }
        context.lineWidth = 1;
      }
    }
    context.globalAlpha = 1;
    context.restore();
    timeline.canvas.dataset.boxes = String(boxes);
    timeline.canvas.dataset.named = String(named);
  }

  // The sample under a point, or null: of those there, the shortest.
  at(timeline, x, y, plot) {
    if (!this.active(timeline) || x < plot.x || x > plot.x + plot.width || y < plot.y) return null;
    const lane = timeline.layout.laneAt(y - plot.y);
    if (!lane || lane.tile < 0) return null;
    const cycle = timeline.cycleAt(x);
    const perPixel = (timeline.view.to - timeline.view.from) / plot.width;
    let best = null;
    for (const s of this.shown(timeline, lane.chip, lane.tile)) {
      if (s.offset <= cycle + perPixel / 2 && s.offset + s.duration >= cycle - perPixel / 2 &&
          (!best || s.duration < best.duration)) best = s;
    }
    return best;
  }
}

// Whether a sample's kernel is the search word or its operation holds it, as the query's
// `kernel` and `operation-contains` filters match.
export function matches(sample, word) {
  return sample.kernel === word || (sample.operation || "").includes(word);
}

// Whether two records are the same sample (the same tile, start and length).
export function same(a, b) {
  return !!a && !!b && a.physical_tile === b.physical_tile && a.offset === b.offset &&
      a.duration === b.duration && (a.chip || 0) === (b.chip || 0);
}

// The longest start of `text` that fits `width` pixels, with an ellipsis when cut.
function fitted(context, text, width) {
  if (context.measureText(text).width <= width) return text;
  let low = 0;
  let high = text.length;
  while (low < high) {
    const middle = Math.ceil((low + high) / 2);
    if (context.measureText(`${text.slice(0, middle)}…`).width <= width) low = middle;
    else high = middle - 1;
  }
  return low > 0 ? `${text.slice(0, low)}…` : "";
}

// A sample's name on its box: its kernel, or its operation when it has none.
export function sampleName(sample) {
  return sample.kernel || sample.operation || sample.kind;
}

export function sampleHtml(s, clock) {
  const metadata = (s.metadata || []).map((m) => `${escapeHtml(m.name)}=${escapeHtml(m.value)}`).join(", ");
  return `<b>${escapeHtml(s.kind)}</b> · ${escapeHtml(sampleName(s))}<br>` +
      (s.kernel ? `kernel ${escapeHtml(s.kernel)}<br>` : "") +
      `operation ${escapeHtml(s.operation || "")}<br>` +
      `phase ${s.phase} · epoch ${s.epoch} · ${s.chip !== undefined ? `chip ${s.chip} · ` : ""}tile ${s.physical_tile}<br>` +
      `from cycle ${cycles(s.offset)} for ${cyclesAndTime(s.duration, clock)}` +
      (metadata ? `<br>${metadata}` : "");
}
