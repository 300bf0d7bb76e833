// The explorer's page: the summary, the timeline, the group table and the load balance, all drawn
// from the state in the address's fragment.

import {get} from "./api.js";
import {cycles, cyclesAndTime, duration, escapeHtml} from "./format.js";
import * as state from "./state.js";
import {GroupTable, showBalance, showSamples} from "./table.js";
import {Timeline} from "./timeline.js";

const $ = (id) => document.getElementById(id);
const form = $("query-form");
let info = null;

const timeline = new Timeline($("timeline"), $("tooltip"), {
  filters: () => state.parameters(state.read(), state.filterWords),
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
  onSelectEnd: (selection) => {
    const current = state.read();
    if (selection) {
      current.set("from", selection.from);
      current.set("to", selection.to);
    } else {
      current.delete("from");
      current.delete("to");
    }
    state.push(current);
    apply();
  },
});
let interacting = false;
let settle = null;

const table = new GroupTable($("groups"), (name) => {
  const current = state.read();
  if (current.get("highlight") === name) current.delete("highlight");
  else current.set("highlight", name);
  if (current.has("highlight")) current.set("color-by", "group");
  state.push(current);
  apply();
});

function showWindowLine() {
  const view = timeline.view;
  const clock = info ? info.clock_hz : 0;
  let text = `showing cycles ${cycles(view.from)} – ${cycles(view.to)}: ${cyclesAndTime(view.to - view.from, clock)}`;
  if (timeline.data) text += ` · ${cycles(timeline.data.bin_cycles)} cycles a column`;
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

// The window's parameters, when one is selected.
function windowParameters(parameters, current) {
  if (current.has("from") && current.has("to")) {
    parameters.set("from", current.get("from"));
    parameters.set("to", current.get("to"));
  }
  return parameters;
}

// Asks for the selected window, when there is one.
async function getWindowed(path, parameters, current) {
  return get(path, windowParameters(new URLSearchParams(parameters), current));
}

async function apply() {
  const current = state.read();
  fillForm(current);
  const highlight = current.get("highlight");
  timeline.highlight = highlight;
  timeline.colorBy = current.get("color-by") || "kind";
  $("category-word").textContent = timeline.colorBy;
  const span = info.span_cycles;
  const from = Number(current.get("from-view") || 0);
  const to = Number(current.get("to-view") || span);
  timeline.setView(from, to);
  timeline.selection = current.has("from") && current.has("to")
    ? {from: Number(current.get("from")), to: Number(current.get("to"))} : null;
  timeline.refresh();
  showWindowLine();

  $("query-error").hidden = true;
  const queryParameters = state.parameters(current, state.queryWords);
  try {
    const report = await getWindowed("/api/query", queryParameters, current);
    table.show(report, highlight);
    showSamples($("samples-box"), report, info.clock_hz);
    $("window-note").textContent = timeline.selection
      ? `groups of the samples running in the selected window: ${cycles(report.matched_sample_count)} of ${cycles(report.sample_count)} samples`
      : `${cycles(report.matched_sample_count)} of ${cycles(report.sample_count)} samples match`;
  } catch (error) {
    showError($("query-error"), error);
  }
  try {
    const balance = await getWindowed("/api/load-balance", state.parameters(current, state.filterWords), current);
    showBalance($("balance"), balance);
  } catch (error) {
    showError($("query-error"), error);
  }
  document.body.dataset.ready = "true";
  document.body.dispatchEvent(new CustomEvent("applied"));
}

function legend() {
  const colors = timeline.categoryColors();
  $("legend").innerHTML = colors.map(([category, color]) =>
      `<span data-category="${escapeHtml(category)}"><i data-color="${color}"></i>${escapeHtml(category)}</span>`).join("");
  for (const swatch of $("legend").querySelectorAll("i")) swatch.style.background = swatch.dataset.color;
}

$("timeline").addEventListener("timeline-drawn", () => {
  legend();
  showWindowLine();
});

form.addEventListener("submit", (event) => {
  event.preventDefault();
  const current = state.read();
  for (const element of form.elements) {
    if (!element.name) continue;
    const value = element.type === "checkbox" ? (element.checked ? "true" : "") : element.value.trim();
    if (value) current.set(element.name, value);
    else current.delete(element.name);
  }
  if (current.get("group-by") === "kernel") current.delete("group-by");
  if (current.get("sort-by") === "phase-cycles") current.delete("sort-by");
  state.push(current);
  apply();
});

$("color-by").addEventListener("change", () => {
  const current = state.read();
  current.set("color-by", $("color-by").value);
  state.push(current);
  apply();
});

$("zoom-out").addEventListener("click", () => {
  const current = state.read();
  current.delete("from-view");
  current.delete("to-view");
  state.push(current);
  apply();
});

$("clear-selection").addEventListener("click", () => {
  const current = state.read();
  current.delete("from");
  current.delete("to");
  state.push(current);
  apply();
});

window.addEventListener("popstate", () => apply());

async function start() {
  try {
    info = await get("/api/info");
  } catch (error) {
    $("summary").textContent = `cannot read the profiles: ${error.message}`;
    return;
  }
  timeline.setInfo(info);
  const chips = info.profiles.length;
  const names = info.profiles.map((p) => p.name).join(", ");
  $("summary").innerHTML =
      `<b>${escapeHtml(names)}</b> · ${chips > 1 ? `${chips} chips · ` : ""}${cycles(info.tiles)} tiles · ` +
      `${cycles(info.samples)} samples · span ${cycles(info.span_cycles)} cycles` +
      (info.clock_hz ? ` (${duration(info.span_cycles / info.clock_hz)} at ${(info.clock_hz / 1e6).toFixed(0)} MHz)` : "");
  await apply();
}

start();
