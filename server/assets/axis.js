// The time axis over the lanes: ticks in cycles with their time under them, and the phases' and
// epochs' starts.

import {cycles, duration} from "./format.js";

// Ticks in cycles with their time under them, and the phases' starts (epochs' stronger).
export function drawAxis(context, plot, timeline) {
  const length = timeline.view.to - timeline.view.from;
  const rough = length / Math.max(1, plot.width / 120);
  const power = 10 ** Math.floor(Math.log10(Math.max(1, rough)));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= rough) || power * 10;
  const clock = timeline.info ? timeline.info.clock_hz : 0;
  const right = plot.x + plot.width;
  context.fillStyle = "#687085";
  context.strokeStyle = "#e3e6ec";
  context.textBaseline = "top";
  const label = (text, x, y) => {
    const w = context.measureText(text).width;
    // Never cut at the right edge: the last labels end at their tick instead.
    const at = x + 3 + w > right + 6 ? x - 3 - w : x + 3;
    context.fillText(text, at, y);
  };
  for (let tick = Math.ceil(timeline.view.from / step) * step; tick <= timeline.view.to; tick += step) {
    const x = timeline.x(tick);
    context.beginPath();
    context.moveTo(x + 0.5, 2);
    context.lineTo(x + 0.5, plot.y);
    context.stroke();
    label(cycles(tick), x, 2);
    if (clock > 0) label(duration(tick / clock), x, 14);
  }
  context.fillStyle = "#687085";
  context.fillText(clock > 0 ? "cycles / time" : "cycles", 4, 2);
  drawMarkers(context, plot, timeline);
}

// The phases' starts as ticks over the plot and the epochs' as lines through it; labels where
// they fit, an epoch's before any phase's.
export function drawMarkers(context, plot, timeline) {
  const y = plot.y - 12;
  const shown = timeline.markers.filter((m) => m.offset >= timeline.view.from && m.offset <= timeline.view.to);
  const taken = [];
  const free = (x0, x1) => taken.every(([a, b]) => x1 <= a || x0 >= b);
  context.textBaseline = "top";
  for (const pass of [true, false]) {
    let lastTick = -Infinity;
    for (const marker of shown) {
      const epoch = marker.phase === timeline.firstPhase;
      if (epoch !== pass) continue;
      const x = timeline.x(marker.offset);
      if (!epoch && x - lastTick < 3) continue;
      lastTick = x;
      context.strokeStyle = epoch ? "#8a5a00" : "#b9a36a";
      context.beginPath();
      context.moveTo(x + 0.5, y);
      context.lineTo(x + 0.5, epoch ? plot.y + plot.height : plot.y);
      context.stroke();
      const text = epoch ? `epoch ${marker.epoch}` : `p${marker.phase}`;
      const w = context.measureText(text).width + 4;
      if (x + 2 + w <= plot.x + plot.width + 4 && free(x, x + 2 + w)) {
        context.fillStyle = epoch ? "#8a5a00" : "#9c8a55";
        context.fillText(text, x + 2, y);
        taken.push([x, x + 2 + w]);
      }
    }
  }
}
