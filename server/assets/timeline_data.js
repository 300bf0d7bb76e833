// A timeline view as the drawing reads it: the decoded view of transport.js,
//   {from, to, bins, bin_cycles, categories: [name], rows: [{label, profile, tiles}],
//    cycles: flat, cycles[(r * bins + b) * categories.length + c], request, superseded}
// plus `colorBy`, the colouring it was asked for. Every timeline request of the page comes
// through here, so the answer's form on the wire is transport.js's business alone.

import {TimelineTransport, fetchView} from "./transport.js";

// Most cells (rows x bins x categories) the server answers at once.
export const mostCells = 2 ** 22;

// The view's own requests: one in flight, the newest waiting one wins (see transport.js).
export class ViewRequests {
  constructor() {
    this.transport = new TimelineTransport();
  }

  // The view, or null when a newer request replaced it.
  async fetch(parameters) {
    const view = await this.transport.fetch(parameters);
    return view && colored(view, parameters);
  }
}

// Any other timeline answer (lanes, search marks, search steps), fetched at once.
export async function fetchTimeline(parameters, signal) {
  return colored(await fetchView(parameters, signal), parameters);
}

function colored(view, parameters) {
  view.colorBy = parameters.get("color-by") || "kind";
  return view;
}

// The cycles of category c in row r and bin b.
export function cellCycles(data, r, b, c) {
  return data.cycles[(r * data.bins + b) * data.categories.length + c];
}
