// The lanes' labels: each chip's header (folded or not), tile numbers as far apart as a label is
// tall, a scrolled chip's name kept in sight, and where the lanes in view are among all of them.

import {cycles} from "./format.js";
import {headerHeight} from "./layout.js";

// The lanes' labels, the chips' headers, and lines between chips.
export function drawLanes(context, plot, timeline) {
  const layout = timeline.layout;
  context.save();
  context.beginPath();
  context.rect(0, plot.y, plot.x + plot.width, plot.height);
  context.clip();
  context.textBaseline = "middle";
  const spans = layout.chipSpans();
  for (const span of spans) {
    const chip = layout.chips[span.chip];
    if (layout.headers) {
      const top = plot.y + span.headerTop - layout.top;
      if (top + headerHeight >= plot.y && top <= plot.y + plot.height) {
        context.fillStyle = "#eef1f6";
        context.fillRect(0, top, plot.x + plot.width, headerHeight);
        context.fillStyle = "#1d2330";
        context.font = "600 11px system-ui, sans-serif";
        const tiles = `${cycles(chip.tiles.length)} tile${chip.tiles.length === 1 ? "" : "s"}`;
        context.fillText(`${chip.collapsed ? "▸" : "▾"} ${chip.name} · ${tiles}`, 4, top + headerHeight / 2);
        context.font = "11px system-ui, sans-serif";
      }
    }
    if (chip.collapsed) continue;
    // A chip whose header scrolled away keeps its name at the top of the labels.
    const sticky = layout.headers && span.headerTop < layout.top && span.bottom > layout.top;
    if (sticky) {
      context.fillStyle = "#eef1f6";
      context.fillRect(0, plot.y, plot.x - 2, headerHeight);
      context.fillStyle = "#1d2330";
      context.font = "600 11px system-ui, sans-serif";
      context.fillText(chip.name, 4, plot.y + headerHeight / 2, plot.x - 8);
      context.font = "11px system-ui, sans-serif";
    }
    // Labels every so many tiles, as far apart as a label is tall.
    const every = Math.max(1, Math.ceil(13 / layout.rowHeight));
    const nice = [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000].find((n) => n >= every) || every;
    const first = Math.max(0, Math.floor((layout.top - span.tilesTop) / layout.rowHeight));
    const end = Math.min(chip.tiles.length, Math.ceil((layout.top + plot.height - span.tilesTop) / layout.rowHeight));
    context.fillStyle = "#4b5263";
    for (let place = Math.ceil(first / nice) * nice; place < end; place += nice) {
      const y = plot.y + span.tilesTop + (place + 0.5) * layout.rowHeight - layout.top;
      if (sticky && y < plot.y + headerHeight + 4) continue;
      const text = nice === 1 || layout.rowHeight >= 13 ? `tile ${chip.tiles[place]}` : `${chip.tiles[place]}`;
      context.fillText(text, layout.headers ? 14 : 4, layout.rowHeight >= 13 ? y : y + 0, plot.x - 20);
    }
  }
  context.restore();
  // Where the lanes in view are among all of them, on the right edge.
  const content = layout.contentHeight();
  if (content > plot.height + 1) {
    context.fillStyle = "#e3e6ec";
    context.fillRect(plot.x + plot.width + 2, plot.y, 4, plot.height);
    context.fillStyle = "#8a93a6";
    context.fillRect(plot.x + plot.width + 2, plot.y + layout.top / content * plot.height, 4,
                     Math.max(6, plot.height * plot.height / content));
  }
}
