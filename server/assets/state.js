// The view's state lives in the address's fragment, so that a view can be bookmarked and the back
// button returns to the one before.

import {listWords} from "./words.js";

// The query's words, named as the tool's options, from the server.
export {diffWords, filterWords, listWords, queryWords} from "./words.js";

export function read() {
  return new URLSearchParams(location.hash.slice(1));
}

function write(state, replace) {
  const fragment = `#${state.toString()}`;
  if (fragment === location.hash || (fragment === "#" && !location.hash)) return;
  if (replace) history.replaceState(null, "", fragment);
  else history.pushState(null, "", fragment);
}

// A new entry in the history: the back button returns to the state before it.
export function push(state) {
  write(state, false);
}

// The same entry, changed (while a zoom or a drag goes on).
export function replace(state) {
  write(state, true);
}

// The API's parameters for `words` from the state; list words become repeated parameters.
export function parameters(state, words) {
  const out = new URLSearchParams();
  for (const word of words) {
    const value = state.get(word);
    if (value === null || value === "") continue;
    if (listWords.has(word)) {
      for (const item of value.split(/\s+/).filter(Boolean)) out.append(word, item);
    } else {
      out.set(word, value);
    }
  }
  return out;
}
