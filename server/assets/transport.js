// How the page fetches the timeline: the binary answer of /api/timeline, decoded into typed arrays
// that view the answer's bytes without copying them, one request in flight at a time.
//
// The decoded view (what TimelineTransport.fetch resolves with, and decodeTimeline returns):
//   {
//     from, to,      numbers: the cycles the bins cover, [from, to). The timeline aligns its bins to
//                    multiples of their width, so `from` may lie before the window asked for and
//                    `to` after it (never more than one bin each way).
//     bins,          number of bins (at most the `bins` asked for); 0 for an empty window
//     bin_cycles,    each bin's width in cycles: bin b covers [from + b * bin_cycles, + bin_cycles)
//     categories,    string[]: "exchange", "compute", "synchronization", "idle" (colour by kind), or
//                    the first groups then "(other groups)" (colour by group)
//     rows,          [{label, profile, tiles}], top to bottom: `label` as "tile 4", "tiles 0-17" or
//                    "chip 1 tiles 0-17"; `profile` the chip (0, 1, ...); `tiles` a Uint32Array of
//                    the physical tile numbers in the row (admitted by the tile filter)
//     cycles,        Uint8Array, Uint16Array or Uint32Array (the narrowest that holds every figure
//                    of the answer), or Float64Array when a figure needs more than 32 bits; of
//                    length rows.length * bins * categories.length:
//                    cycles[(r * bins + b) * categories.length + c] is the exact number of cycles
//                    category c ran in row r's tiles during bin b (overlapping samples each count)
//     request,       string: the parameters that were asked for (URLSearchParams text)
//     bytes,         number: the size of the answer
//     superseded,    boolean: a newer request was already waiting when this answer came; it is
//                    still closer to the new view than the last one drawn, but not the view asked
//                    for (the page draws it and leaves `data-loaded` for the newest)
//   }
// Figures are those of `/api/timeline?format=json`, which gives rows[r].cycles[category][b].
//
// The answer's bytes (little-endian):
//   0  "ZTL1"
//   4  u32 H: the length of the JSON header that follows
//   8  the header, UTF-8, padded with spaces so that 8 + H is a multiple of 8:
//      {"from", "to", "bins", "bin_cycles", "categories", "labels": [one a row],
//       "arrays": [{"name", "type": "u8" | "u16" | "u32" | "u64", "offset", "length"}, ...]}
//      with the arrays "profile" (a row's chip), "tile_ends" (row r's tiles are
//      tiles[tile_ends[r - 1] .. tile_ends[r]), from 0 for row 0), "tiles" and "cycles", each at an
//      offset from the answer's start that is a multiple of 8.

import {ApiError, headers} from "./api.js";

const magic = "ZTL1";
const littleEndian = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;

// The typed array of an array the header describes, viewing `buffer` where the platform is
// little-endian; cycles of 64 bits become doubles (exact below 2^53 cycles).
function array(buffer, {type, offset, length}) {
  if (type === "u8") return new Uint8Array(buffer, offset, length);
  if (type === "u16") {
    if (littleEndian) return new Uint16Array(buffer, offset, length);
    const data = new DataView(buffer, offset, length * 2);
    return Uint16Array.from({length}, (_, i) => data.getUint16(i * 2, true));
  }
  if (type === "u32") {
    if (littleEndian) return new Uint32Array(buffer, offset, length);
    const data = new DataView(buffer, offset, length * 4);
    return Uint32Array.from({length}, (_, i) => data.getUint32(i * 4, true));
  }
  if (type === "u64") {
    const data = new DataView(buffer, offset, length * 8);
    const out = new Float64Array(length);
    for (let i = 0; i < length; ++i) {
      out[i] = data.getUint32(i * 8, true) + data.getUint32(i * 8 + 4, true) * 4294967296;
    }
    return out;
  }
  throw new Error(`the timeline's answer has an array of unknown type ${type}`);
}

// The view an answer's bytes hold (see above).
export function decodeTimeline(buffer, request = "") {
  const data = new DataView(buffer);
  const head = new TextDecoder().decode(new Uint8Array(buffer, 0, Math.min(4, buffer.byteLength)));
  if (buffer.byteLength < 8 || head !== magic) throw new Error("the timeline's answer is not binary");
  const headerLength = data.getUint32(4, true);
  const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 8, headerLength)));
  const arrays = {};
  for (const described of header.arrays) arrays[described.name] = array(buffer, described);
  const rows = header.labels.map((label, r) => ({
    label,
    profile: arrays.profile[r],
    tiles: arrays.tiles.subarray(r === 0 ? 0 : arrays.tile_ends[r - 1], arrays.tile_ends[r]),
  }));
  return {from: header.from, to: header.to, bins: header.bins, bin_cycles: header.bin_cycles,
          categories: header.categories, rows, cycles: arrays.cycles, request,
          bytes: buffer.byteLength, superseded: false};
}

// The decoded view of `parameters` (URLSearchParams of /api/timeline), asked for at once; rejects
// with an ApiError for an answer other than 200.
export async function fetchView(parameters, signal) {
  const asked = new URLSearchParams(parameters);
  asked.set("format", "binary");
  const response = await fetch(`/api/timeline?${asked}`, {headers: headers(), signal});
  if (!response.ok) throw new ApiError(response.status, await response.json().catch(() => null));
  return decodeTimeline(await response.arrayBuffer(), parameters.toString());
}

// The parameters without the window and the resolution: two requests with the same are views of
// the same picture, so an older answer can stand in for a newer one while it comes.
function picture(parameters) {
  const rest = new URLSearchParams(parameters);
  for (const word of ["from", "to", "bins"]) rest.delete(word);
  rest.sort();
  return rest.toString();
}

// Fetches timeline views, at most one at a time. While one is in flight, a newer request waits,
// and a request newer still replaces it (the replaced one resolves with null): a gesture of many
// events costs one request at a time, the last one always asked. A request in flight for another
// picture (other filters, rows or colours) is cancelled, since its answer would be of no use.
export class TimelineTransport {
  constructor() {
    this.inFlight = null;  // {parameters, controller}
    this.waiting = null;   // {parameters, resolve, reject}
  }

  // Resolves with the decoded view of `parameters` (URLSearchParams of /api/timeline), or with
  // null when a newer request replaced it before it was sent or cancelled it; rejects with an
  // ApiError for an answer other than 200.
  fetch(parameters) {
    return new Promise((resolve, reject) => {
      if (this.waiting) this.waiting.resolve(null);
      this.waiting = {parameters: new URLSearchParams(parameters), resolve, reject};
      if (this.inFlight && picture(this.inFlight.parameters) !== picture(parameters)) {
        this.inFlight.controller.abort();
      }
      if (!this.inFlight) this.next();
    });
  }

  // Cancels the request in flight and the one waiting (both resolve with null).
  cancel() {
    if (this.waiting) this.waiting.resolve(null);
    this.waiting = null;
    if (this.inFlight) this.inFlight.controller.abort();
  }

  async next() {
    const job = this.waiting;
    this.waiting = null;
    if (!job) return;
    const controller = new AbortController();
    this.inFlight = {parameters: job.parameters, controller};
    try {
      const view = await fetchView(job.parameters, controller.signal);
      view.superseded = this.waiting !== null;
      job.resolve(view);
    } catch (error) {
      if (error.name === "AbortError") job.resolve(null);
      else job.reject(error);
    } finally {
      this.inFlight = null;
      this.next();
    }
  }
}
