// A timeline view as the drawing reads it: the decoded view of transport.js,
//   {from, to, bins, bin_cycles, categories: [name], rows: [{label, profile, tiles}],
//    cycles: flat, cycles[(r * bins + b) * categories.length + c]}
// plus `colorBy`, the colouring it was asked for. Every timeline request of the page comes
// through here, so the answer's form on the wire is this file's business alone.

import {get} from "./api.js";

export async function fetchTimeline(parameters, signal) {
  const answer = await get("/api/timeline", parameters, signal);
  return fromJson(answer, parameters.get("color-by") || "kind", parameters.toString());
}

// The JSON answer of /api/timeline (rows' cycles keyed by category) as a decoded view.
export function fromJson(answer, colorBy, request = "") {
  const categories = answer.categories;
  const stride = categories.length;
  const cycles = new Float64Array(answer.rows.length * answer.bins * stride);
  answer.rows.forEach((row, r) => {
    categories.forEach((category, c) => {
      const series = row.cycles[category];
      for (let b = 0; b < answer.bins; ++b) cycles[(r * answer.bins + b) * stride + c] = series[b];
    });
  });
  return {
    from: answer.from, to: answer.to, bins: answer.bins, bin_cycles: answer.bin_cycles, categories,
    rows: answer.rows.map((row) => ({label: row.label, profile: row.profile, tiles: row.tiles})),
    cycles, request, colorBy,
  };
}

// The cycles of category c in row r and bin b.
export function cellCycles(data, r, b, c) {
  return data.cycles[(r * data.bins + b) * data.categories.length + c];
}
