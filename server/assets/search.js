// Steps to the next (or previous) sample whose kernel is a word or whose operation holds it,
// through the timeline's own filters with `kernel` or `operation-contains` added: a one-row
// timeline after (or before) the view's middle finds the first bin with such a sample, then the
// same inside that bin, narrower each time, down to one cycle; a last answer of one row
// per tile over that bin names the tile.

import {get} from "./api.js";
import {cellCycles, fetchTimeline} from "./timeline_data.js";

const bins = 1024;

function busy(data, r, b) {
  return data.categories.some((_, c) => cellCycles(data, r, b, c) > 0);
}

// The first (direction 1) or last (-1) bin of [from, to) holding a match, over all rows, as
// [start, end) cycles; or null.
async function matchingBin(timeline, word, from, to, direction, rows = 1) {
  // Both filters' answers at once.
  const answers = await Promise.all(["kernel", "operation-contains"].map((filter) => {
    const parameters = timeline.filters();
    parameters.set(filter, word);
    parameters.set("from", from);
    parameters.set("to", to);
    // A row per tile over the last, narrow bin alone, within the server's cells.
    parameters.set("bins", rows > 1 ? 1 : bins);
    parameters.set("rows", rows);
    return fetchTimeline(parameters);
  }));
  let best = null;
  for (const data of answers) {
    for (let i = 0; i < data.bins; ++i) {
      const b = direction > 0 ? i : data.bins - 1 - i;
      const start = Math.max(from, data.from + b * data.bin_cycles);
      const end = Math.min(to, data.from + (b + 1) * data.bin_cycles);
      const r = data.rows.findIndex((_, index) => busy(data, index, b));
      if (end <= start || r < 0) continue;
      const row = data.rows[r];
      const better = !best || (direction > 0 ? start < best.start : end > best.end);
      if (better) best = {start, end, row};
      break;
    }
  }
  return best;
}

// {cycle, chip, tile, sample} of the match, or null when there is none that way. `last`, the
// match stepped to before, is skipped when the view's middle is in it.
export async function findMatch(timeline, word, direction, last = null) {
  const middle = Math.floor((timeline.view.from + timeline.view.to) / 2);
  const inLast = last && last.offset <= middle && middle < last.offset + last.duration;
  let from = direction > 0 ? (inLast ? last.offset + last.duration : middle + 1) : 0;
  let to = direction > 0 ? timeline.span : (inLast ? last.offset : middle);
  if (to <= from) return null;
  let found = null;
  for (let round = 0; round < 8; ++round) {
    found = await matchingBin(timeline, word, from, to, direction);
    if (!found) return null;
    from = found.start;
    to = found.end;
    if (to - from <= 1) break;
  }
  // The tile: the same bin, a row per tile; then its sample there.
  const tiles = Math.min(4096, timeline.info.tiles);
  const named = await matchingBin(timeline, word, from, to, direction, tiles);
  const row = named && named.row.tiles.length === 1 ? named.row : null;
  const cycle = direction > 0 ? from : to - 1;
  let sample = null;
  if (row) {
    for (const filter of ["kernel", "operation-contains"]) {
      const parameters = timeline.filters();
      parameters.delete("tile");
      parameters.delete("at");
      parameters.set(filter, word);
      parameters.set("tile", row.tiles[0]);
      if (timeline.info.profiles.length > 1) parameters.set("chip", row.profile);
      parameters.set("at", cycle);
      parameters.set("limit", 1);
      const report = await get("/api/samples", parameters);
      if (report.samples.length > 0) {
        sample = report.samples[0];
        if (timeline.info.profiles.length > 1) sample.chip = row.profile;
        break;
      }
    }
  }
  return {cycle, chip: row ? row.profile : -1, tile: row ? row.tiles[0] : -1, sample};
}
