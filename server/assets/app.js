// The explorer's page: the summary, the timeline, the group table and the load balance, all drawn
// from the state in the address's fragment.

import {get} from "./api.js";
import {DiffTable, spanLine} from "./diff.js";
import {cycleCount, cycles, cyclesAndTime, duration, escapeHtml, percent} from "./format.js";
import {findMatch} from "./search.js";
import * as state from "./state.js";
import {GroupTable, showBalance, showSamples} from "./table.js";
import {sampleHtml} from "./samples.js";
import {Timeline} from "./timeline.js";

const $ = (id) => document.getElementById(id);
const form = $("query-form");
let info = null;

// What the timelines tell the page; the base run's timeline, when two runs are served, tells the
// same, so a gesture on either moves both.
const timelineEvents = {
  onView: (from, to, done) => {
    const current = state.read();
    current.set("from-view", from);
    current.set("to-view", to);
    // A zoom or a drag is one step back.
    if (!interacting) {
      interacting = true;
      state.push(current);
    } else {
      state.replace(current);
    }
    if (done) interacting = false;
    clearTimeout(settle);
    settle = setTimeout(() => { interacting = false; }, 500);
    showWindowLine();
  },
  onSelect: () => showWindowLine(),
  onSelectEnd: (selection) => change((current) => {
    if (selection) {
      current.set("from", selection.from);
      current.set("to", selection.to);
    } else {
      dropWindow(current);
    }
  }),
  onSample: (sample) => showDetails(sample),
};
const timeline = new Timeline($("timeline"), $("tooltip"), $("legend"), {
  filters: () => state.parameters(state.read(), state.filterWords),
  ...timelineEvents,
});
// With two runs served (`serve --base`): the base's info, its timeline under the new one's on the
// same axis, and the table of their comparison.
let baseInfo = null;
let baseTimeline = null;
const diffTable = new DiffTable($("diff"));
let interacting = false;
let settle = null;
const firstView = new Promise((resolve) => $("timeline").addEventListener("timeline-drawn", resolve, {once: true}));

const table = new GroupTable($("groups"), (name) => change((current) => {
  if (current.get("highlight") === name) current.delete("highlight");
  else current.set("highlight", name);
  if (current.has("highlight")) current.set("color-by", "group");
}));

// A new state, one step back from the last: the present one changed by `edit`, shown.
function change(edit) {
  const current = state.read();
  edit(current);
  state.push(current);
  apply();
}

function dropWindow(current) {
  current.delete("from");
  current.delete("to");
}

// A group's longest samples: the query's own filters with the group's added.
const groupSampleCount = 20;

// The filter words that select a group's samples, and a test for what they select beyond it; null
// for a group no filter names.
function groupFilter(group, by) {
  const d = group.dimensions || {};
  switch (by) {
    case "kind": return {words: {kind: group.name}, keep: () => true};
    case "kernel": return group.name === "(no kernel)" ? null : {words: {kernel: group.name}, keep: () => true};
    case "operation": return {words: {"operation-contains": group.name}, keep: (s) => s.operation === group.name};
    case "phase": return {words: {phase: d.phase}, keep: (s) => String(s.epoch) === d.epoch};
    // With several chips a tile group is one chip's tile, which /api/samples alone can select.
    case "tile": return {words: {tile: d.physicalTile}, keep: () => true, chip: d.chip};
    case "metadata":
      return d.metadataValue === "(missing)" ? null
          : {words: {metadata: `${d.metadataKey}=${d.metadataValue}`}, keep: () => true};
    default: return null;
  }
}

async function listGroupSamples(current, name) {
  const place = $("group-samples");
  const group = table.report && table.report.groups.find((g) => g.name === name);
  const filter = group && groupFilter(group, current.get("group-by") || "kernel");
  if (!filter) {
    place.innerHTML = group ? `<p class="subtle">no filter names the samples of ${escapeHtml(name)}</p>` : "";
    timeline.mark(undefined, []);
    return;
  }
  let samples;
  if (filter.chip !== undefined) {
    const parameters = state.parameters(current, state.filterWords);
    for (const [word, value] of Object.entries(filter.words)) parameters.set(word, value);
    parameters.set("chip", filter.chip);
    parameters.set("limit", String(groupSampleCount));
    samples = (await getWindowed("/api/samples", parameters, current)).samples;
    for (const sample of samples) sample.chip = Number(filter.chip);
  } else {
    const parameters = state.parameters(current, state.queryWords);
    for (const [word, value] of Object.entries(filter.words)) parameters.set(word, value);
    parameters.set("samples", String(groupSampleCount * 4));
    parameters.set("limit", "1");
    const report = await getWindowed("/api/query", parameters, current);
    samples = report.samples.filter(filter.keep).slice(0, groupSampleCount);
  }
  showSamples(place, {samples}, info.clock_hz, `longest samples of ${name}`);
  place.querySelectorAll("tbody tr").forEach((row, index) => {
    row.classList.add("pickable");
    row.addEventListener("click", () => {
      timeline.pick(samples[index]);
      zoomToSample(samples[index]);
    });
  });
  timeline.mark(undefined, samples);
}

// A load-balance row: the timeline shows the phase (the first to the last cycle of its samples,
// with the page's filters and in the window, clipped) and marks its busiest tile.
async function zoomToPhase(phase) {
  const current = state.read();
  const parameters = state.parameters(current, state.filterWords);
  parameters.set("group-by", "phase");
  parameters.set("phase", phase.phase);
  const report = await getWindowed("/api/query", parameters, current);
  const group = report.groups.find((g) => Number(g.dimensions.epoch) === phase.epoch);
  if (!group) return;
  timeline.mark({chip: phase.chip, tile: phase.critical_tile}, undefined);
  timeline.show(group.first_offset, Math.max(group.first_offset + 1, group.last_offset));
  timeline.showTile(phase.chip, phase.critical_tile);
}

function showWindowLine() {
  const view = timeline.view;
  const clock = info ? info.clock_hz : 0;
  let text = `showing cycles ${cycles(view.from)} – ${cycles(view.to)}: ${cyclesAndTime(view.to - view.from, clock)}`;
  if (timeline.data) text += ` · ${cycleCount(timeline.data.bin_cycles)} a column`;
  if (timeline.layout) {
    const perRow = 1 / timeline.layout.rowHeight;
    text += perRow <= 1 ? " · one tile a row" : ` · ${perRow.toFixed(perRow < 10 ? 1 : 0)} tiles a row`;
  }
  if (timeline.selection) {
    const s = timeline.selection;
    text += ` · window [${cycles(s.from)}, ${cycles(s.to)}): ${cyclesAndTime(s.to - s.from, clock)}`;
  }
  $("window-line").textContent = text;
}

function fillForm(current) {
  for (const element of form.elements) {
    if (!element.name) continue;
    if (element.type === "checkbox") element.checked = current.get(element.name) === "true";
    else if (element.tagName === "SELECT") element.value = current.get(element.name) || element.options[element.name === "group-by" ? 1 : 0].value;
    else element.value = current.get(element.name) || "";
  }
  $("color-by").value = current.get("color-by") || "kind";
}

function showError(place, error) {
  place.hidden = false;
  const allowed = error.allowed && error.allowed.length ? ` (allowed: ${error.allowed.join(", ")})` : "";
  place.textContent = `${error.message}${allowed}`;
}

// The window's parameters, when one is selected: clipped, so that each sample counts only its
// part inside the window, as the timeline and the load balance count it.
function windowParameters(parameters, current) {
  if (current.has("from") && current.has("to")) {
    parameters.set("from", current.get("from"));
    parameters.set("to", current.get("to"));
    parameters.set("clip", "true");
  }
  return parameters;
}

// Above the group table, for a selected window: each chip's cycles per kind inside it (a query
// grouped by chip for each kind, clipped), and its working cycles against its waiting ones.
async function showRange(current) {
  const place = $("range-summary");
  if (!(current.has("from") && current.has("to"))) {
    place.hidden = true;
    place.innerHTML = "";
    return;
  }
  const filters = state.parameters(current, state.filterWords);
  const kinds = filters.has("kind") ? filters.getAll("kind") : info.kinds;
  filters.delete("kind");
  filters.set("group-by", "profile");
  filters.set("sort-by", "name");
  const answers = await Promise.all(kinds.map((kind) => {
    const parameters = new URLSearchParams(filters);
    parameters.set("kind", kind);
    return getWindowed("/api/query", parameters, current);
  }));
  const length = Number(current.get("to")) - Number(current.get("from"));
  const working = new Set(info.working_kinds);
  const rows = info.profiles.map((profile, chip) => {
    const each = kinds.map((kind, k) => {
      const group = answers[k].groups.find((g) => Number(g.dimensions.chip) === chip);
      return group ? group.work_cycles : 0;
    });
    const work = each.reduce((sum, value, k) => sum + (working.has(kinds[k]) ? value : 0), 0);
    const wait = each.reduce((sum, value, k) => sum + (working.has(kinds[k]) ? 0 : value), 0);
    const cells = each.map((value) => `<td>${cycles(value)}</td>`).join("");
    return `<tr data-chip="${chip}" data-working="${work}" data-waiting="${wait}">` +
        `<td>${escapeHtml(profile.name)}</td>${cells}` +
        `<td>${cycles(work)} (${percent(work, work + wait)})</td><td>${cycles(wait)} (${percent(wait, work + wait)})</td>` +
        `<td>${percent(work + wait, profile.tiles * length)}</td></tr>`;
  });
  place.hidden = false;
  place.innerHTML = `<div class="subtle">inside the window [${cycles(current.get("from"))}, ` +
      `${cycles(current.get("to"))}), each sample's cycles in it alone</div>` +
      `<table><thead><tr><th>chip</th>${kinds.map((k) => `<th>${escapeHtml(k)}</th>`).join("")}` +
      `<th>working</th><th>waiting</th><th>tiles' cycles with a sample</th></tr></thead>` +
      `<tbody>${rows.join("")}</tbody></table>`;
}

// Asks for the selected window, when there is one.
async function getWindowed(path, parameters, current) {
  return get(path, windowParameters(new URLSearchParams(parameters), current));
}

async function apply() {
  const current = state.read();
  fillForm(current);
  const highlight = current.get("highlight");
  for (const each of baseTimeline ? [baseTimeline, timeline] : [timeline]) {
    each.highlight = highlight;
    each.colorBy = current.get("color-by") || "kind";
    each.search = current.get("search") || "";
    each.selection = current.has("from") && current.has("to")
      ? {from: Number(current.get("from")), to: Number(current.get("to"))} : null;
  }
  $("search").value = timeline.search;
  $("category-word").textContent = timeline.colorBy;
  const from = Number(current.get("from-view") || 0);
  const to = Number(current.get("to-view") || timeline.span);
  // The base's timeline follows: the same window, asked for at the same width.
  timeline.setView(from, to);
  timeline.refresh();
  if (baseTimeline) baseTimeline.refresh();
  showWindowLine();
  const queryParameters = state.parameters(current, state.queryWords);
  const warned = showWarnings($("query-warnings"), queryParameters, "new");

  $("query-error").hidden = true;
  const compared = baseInfo ? showDiff(current) : null;
  try {
    const [report] = await Promise.all([getWindowed("/api/query", queryParameters, current), showRange(current)]);
    table.show(report, highlight);
    showSamples($("samples-box"), report, info.clock_hz);
    $("window-note").textContent = timeline.selection
      ? `groups of the samples' cycles inside the selected window (clipped): ${cycles(report.matched_sample_count)} of ${cycles(report.sample_count)} samples`
      : `${cycles(report.matched_sample_count)} of ${cycles(report.sample_count)} samples match`;
  } catch (error) {
    // Nothing of the last answer stays beside the error.
    table.show(null, highlight);
    $("samples-box").innerHTML = "";
    $("window-note").textContent = "";
    $("range-summary").hidden = true;
    showError($("query-error"), error);
  }
  try {
    if (highlight) await listGroupSamples(current, highlight);
    else {
      $("group-samples").innerHTML = "";
      timeline.mark(undefined, []);
    }
  } catch (error) {
    $("group-samples").innerHTML = "";
    showError($("query-error"), error);
  }
  try {
    const balance = await getWindowed("/api/load-balance", state.parameters(current, state.filterWords), current);
    showBalance($("balance"), balance, (phase) => zoomToPhase(phase).catch((error) => showError($("query-error"), error)));
  } catch (error) {
    $("balance").innerHTML = "";
    showError($("query-error"), error);
  }
  // Ready once the tables, the warnings and the first view are in.
  await Promise.all([warned, compared]);
  await firstView;
  document.body.dataset.ready = "true";
  document.body.dispatchEvent(new CustomEvent("applied"));
}

$("timeline").addEventListener("timeline-drawn", () => showWindowLine());

// The tool's warnings about filters on names the run (new, or either for the comparison) lacks,
// such as "no kernel 'gemm'; did you mean 'gemm_f16' or 'gemm_f32'?".
async function showWarnings(place, parameters, run) {
  const asked = new URLSearchParams(parameters);
  asked.set("run", run);
  let warnings = [];
  try {
    warnings = (await get("/api/warnings", asked)).warnings;
  } catch (error) {
    // A refused query says why in its own place.
  }
  place.hidden = warnings.length === 0;
  place.innerHTML = warnings.map((w) => `<li>${escapeHtml(w)}</li>`).join("");
}

// The comparison of the two runs for the page's words and window, as `zel-profile diff` prints it.
async function showDiff(current) {
  const parameters = state.parameters(current, state.diffWords);
  showWarnings($("diff-warnings"), parameters, "both");
  try {
    const diff = await getWindowed("/api/diff", parameters, current);
    diffTable.show(diff);
    $("diff-span").textContent = spanLine(diff);
  } catch (error) {
    diffTable.show(null);
    $("diff-span").textContent = error.message;
  }
}

// The picked sample's figures, and a way to see it whole.
let picked = null;
function showDetails(sample) {
  picked = sample;
  $("details").hidden = !sample;
  if (sample) $("details-text").innerHTML = sampleHtml(sample, info.clock_hz);
}

function zoomToSample(sample) {
  const pad = Math.max(4, Math.round(sample.duration / 4));
  timeline.show(sample.offset - pad, sample.offset + sample.duration + pad);
  if (timeline.layout) timeline.showTile(timeline.chipOf(sample), sample.physical_tile);
}

$("zoom-to-sample").addEventListener("click", () => picked && zoomToSample(picked));
$("close-details").addEventListener("click", () => timeline.pick(null));

// The search word: marks the samples whose kernel is it or whose operation holds it, and steps
// from one match to the next through the query's own filters.
let lastMatch = null;
async function step(direction) {
  const word = $("search").value.trim();
  const current = state.read();
  if ((current.get("search") || "") !== word) {
    if (word) current.set("search", word);
    else current.delete("search");
    state.push(current);
    timeline.search = word;
    timeline.refresh();
  }
  if (!word) {
    $("search-note").textContent = "";
    return;
  }
  $("search-note").textContent = "looking…";
  try {
    const match = await findMatch(timeline, word, direction, lastMatch);
    if (!match) {
      $("search-note").textContent = `no ${direction > 0 ? "later" : "earlier"} match for "${word}"`;
      return;
    }
    lastMatch = match.sample;
    const width = Math.min(timeline.view.to - timeline.view.from, Math.max(64, timeline.span / 20));
    const centre = match.sample ? match.sample.offset + match.sample.duration / 2 : match.cycle;
    timeline.show(centre - width / 2, centre + width / 2);
    if (match.sample) timeline.pick(match.sample);
    if (match.chip >= 0 && !timeline.layout.isFitted()) timeline.showTile(match.chip, match.tile);
    $("search-note").textContent = `match at cycle ${cycles(match.cycle)}` +
        (match.tile >= 0 ? ` on tile ${match.tile}` : "");
    $("timeline").dataset.match = `${match.cycle}-${match.tile}`;
  } catch (error) {
    $("search-note").textContent = error.message;
  }
}

$("search-form").addEventListener("submit", (event) => {
  event.preventDefault();
  step(1);
});
$("search").addEventListener("keydown", (event) => {
  if (event.key === "Enter" && event.shiftKey) {
    event.preventDefault();
    step(-1);
  }
});
$("search-previous").addEventListener("click", () => step(-1));

$("fit-rows").addEventListener("click", () => {
  if (!timeline.layout) return;
  timeline.layout.fit();
  timeline.refresh();
});
$("one-tile").addEventListener("click", () => {
  if (!timeline.layout) return;
  timeline.layout.oneTileARow();
  timeline.refresh();
});

// The keys of a trace viewer, on the focused canvas.
function fit() {
  if (picked) zoomToSample(picked);
  else if (timeline.selection) timeline.show(timeline.selection.from, timeline.selection.to);
  else timeline.show(0, timeline.span);
}

function clearWindow() {
  if (state.read().has("from")) change(dropWindow);
}

$("timeline").addEventListener("keydown", (event) => {
  if (event.ctrlKey || event.metaKey) return;
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  const rows = event.shiftKey && (key === "w" || key === "s");
  const actions = {
    "w": () => (rows ? timeline.zoomRows(1.5) : timeline.zoom(1 / 1.5)),
    "s": () => (rows ? timeline.zoomRows(1 / 1.5) : timeline.zoom(1.5)),
    "+": () => timeline.zoom(1 / 1.5),
    "=": () => timeline.zoom(1 / 1.5),
    "-": () => timeline.zoom(1.5),
    "a": () => timeline.pan(-0.2),
    "d": () => timeline.pan(0.2),
    "ArrowLeft": () => timeline.pan(-0.2),
    "ArrowRight": () => timeline.pan(0.2),
    "ArrowUp": () => timeline.scrollRows(-Math.max(20, timeline.layout ? timeline.layout.rowHeight * 3 : 20)),
    "ArrowDown": () => timeline.scrollRows(Math.max(20, timeline.layout ? timeline.layout.rowHeight * 3 : 20)),
    "PageUp": () => timeline.scrollRows(-timeline.plot().height * 0.8),
    "PageDown": () => timeline.scrollRows(timeline.plot().height * 0.8),
    "f": fit,
    "n": () => step(event.shiftKey ? -1 : 1),
    "Escape": () => (picked ? timeline.pick(null) : clearWindow()),
  };
  const action = actions[key];
  if (!action) return;
  event.preventDefault();
  action();
  // A key is one step back, as a finished drag is.
  timeline.onView(timeline.view.from, timeline.view.to, true);
});

// The phases' and epochs' starts, for the axis: one query grouped by phase, asked once.
async function loadMarkers(on = timeline, run = "new") {
  try {
    const report = await get("/api/query", new URLSearchParams({"group-by": "phase", "sort-by": "name", run}));
    on.setMarkers(report.groups.map((g) => ({
      offset: g.first_offset, phase: Number(g.dimensions.phase), epoch: Number(g.dimensions.epoch)})));
  } catch (error) {
    // The axis goes without them.
  }
}

form.addEventListener("submit", (event) => {
  event.preventDefault();
  change((current) => {
    for (const element of form.elements) {
      if (!element.name) continue;
      const value = element.type === "checkbox" ? (element.checked ? "true" : "") : element.value.trim();
      if (value) current.set(element.name, value);
      else current.delete(element.name);
    }
    if (current.get("group-by") === "kernel") current.delete("group-by");
    if (current.get("sort-by") === "phase-cycles") current.delete("sort-by");
  });
});

$("color-by").addEventListener("change", () => change((current) => current.set("color-by", $("color-by").value)));
$("zoom-out").addEventListener("click", () => change((current) => {
  current.delete("from-view");
  current.delete("to-view");
}));
$("clear-selection").addEventListener("click", () => change(dropWindow));

window.addEventListener("popstate", () => apply());

async function start() {
  try {
    info = await get("/api/info");
  } catch (error) {
    $("summary").textContent = `cannot read the profiles: ${error.message}`;
    return;
  }
  if (info.base !== null) await startTwoRuns();
  else timeline.setInfo(info);
  const chips = info.profiles.length;
  const names = info.profiles.map((p) => p.name).join(", ");
  $("summary").innerHTML =
      `<b>${escapeHtml(names)}</b> · ${chips > 1 ? `${chips} chips · ` : ""}${cycles(info.tiles)} tiles · ` +
      `${cycles(info.samples)} samples · span ${cycles(info.span_cycles)} cycles` +
      (info.clock_hz ? ` (${duration(info.span_cycles / info.clock_hz)} at ${(info.clock_hz / 1e6).toFixed(0)} MHz)` : "");
  await apply();
  loadMarkers();
  if (baseTimeline) loadMarkers(baseTimeline, "base");
}

// Two runs: both timelines on one axis, as long as the longer run, the base's under the new one's.
async function startTwoRuns() {
  baseInfo = await get("/api/info", new URLSearchParams({run: "base"}));
  const span = Math.max(info.span_cycles, baseInfo.span_cycles);
  timeline.setInfo({...info, span_cycles: span});
  baseTimeline = new Timeline($("base-timeline"), $("base-tooltip"), null, {
    filters: () => {
      const parameters = state.parameters(state.read(), state.filterWords);
      parameters.set("run", "base");
      return parameters;
    },
    run: "base",
    ...timelineEvents,
  });
  baseTimeline.setInfo({...baseInfo, span_cycles: span});
  timeline.link(baseTimeline);
  document.body.classList.add("two-runs");
  $("run-new").hidden = false;
  $("run-new").textContent = `new: ${info.profiles.map((p) => p.name).join(", ")} · span ${cycles(info.span_cycles)} cycles`;
  $("run-base").textContent = `base: ${info.base} · span ${cycles(baseInfo.span_cycles)} cycles`;
  $("base-box").hidden = false;
  $("diff-panel").hidden = false;
}

start();
