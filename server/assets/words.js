// The query's words as the server takes them (GET /api/words): the one table of the query's
// parameters that the tool's options and Python's keywords also come from.
import {get} from "./api.js";

// Without an answer the page has no words; it says why when its other requests fail too.
const answer = await get("/api/words").catch(() => ({parameters: [], endpoints: {}}));
// The page sends the selected window itself, and how it counts it (`clip`): the timeline's bins
// are always the cycles inside them. It names the run (`run`) where it reads the base.
const windowWords = new Set(["from", "to", "clip", "run"]);
const withoutWindow = (words) => words.filter((word) => !windowWords.has(word));

export const parameters = answer.parameters;
// The words the form and the table use, and those of the filters alone, which the timeline and the
// load balance take too.
export const queryWords = withoutWindow(answer.endpoints["/api/query"] || []);
export const filterWords = withoutWindow(answer.endpoints["/api/load-balance"] || []);
// The words of the comparison of two runs, `zel-profile diff`'s.
export const diffWords = withoutWindow(answer.endpoints["/api/diff"] || []);
// Repeatable words, written space-separated in the form.
export const listWords = new Set(parameters.filter((p) => p.repeatable).map((p) => p.word));

// Every choice on the page lists its parameter's words, after its "any" option if it has one.
for (const parameter of parameters.filter((p) => p.kind === "word")) {
  for (const select of document.querySelectorAll(`select[name="${parameter.word}"]`)) {
    for (const word of parameter.words) select.add(new Option(word, word));
  }
}
