// The group table and the load-balance table.

import {cycles, decimal, duration, escapeHtml, percent} from "./format.js";

// The table's columns: the report's fields, shown with the tool's units.
const groupColumns = [
  ["name", "group", (g) => escapeHtml(g.name)],
  ["phase_cycles", "phase cycles", (g) => cycles(g.phase_cycles)],
  ["share", "%", (g, total) => percent(g.phase_cycles, total)],
  ["phase_ms", "phase time", (g) => duration(g.phase_ms / 1000)],
  ["work_cycles", "work cycles", (g) => cycles(g.work_cycles)],
  ["average_active_tiles", "active tiles", (g) => decimal(g.average_active_tiles)],
  ["sample_count", "samples", (g) => cycles(g.sample_count)],
  ["tile_count", "tiles", (g) => cycles(g.tile_count)],
  ["phase_count", "phases", (g) => cycles(g.phase_count)],
  ["mean_cycles", "mean", (g) => decimal(g.mean_cycles, 1)],
  ["p50_cycles", "p50", (g) => cycles(g.p50_cycles)],
  ["p95_cycles", "p95", (g) => cycles(g.p95_cycles)],
  ["maximum_cycles", "max", (g) => cycles(g.maximum_cycles)],
];

export class GroupTable {
  constructor(table, onPick) {
    this.table = table;
    this.onPick = onPick;  // (name): a group was clicked
    this.sort = null;      // [key, ascending]: the table's own order; null keeps the report's
    this.report = null;
    this.highlight = null;
    table.addEventListener("click", (event) => {
      const header = event.target.closest("th");
      if (header) {
        const key = header.dataset.key;
        this.sort = this.sort && this.sort[0] === key ? [key, !this.sort[1]] : [key, key === "name"];
        this.render();
        return;
      }
      const row = event.target.closest("tr[data-name]");
      if (row) this.onPick(row.dataset.name);
    });
  }

  show(report, highlight) {
    this.report = report;
    this.highlight = highlight;
    this.render();
  }

  render() {
    const report = this.report;
    if (!report) {
      this.table.innerHTML = "";
      return;
    }
    const total = report.total_phase_cycles;
    const groups = [...report.groups];
    if (this.sort) {
      const [key, ascending] = this.sort;
      const value = (g) => (key === "share" ? g.phase_cycles : g[key]);
      groups.sort((a, b) => {
        const x = value(a);
        const y = value(b);
        const order = typeof x === "string" ? x.localeCompare(y) : x - y;
        return ascending ? order : -order;
      });
    }
    const widest = Math.max(1, ...groups.map((g) => g.phase_cycles));
    const head = groupColumns.map(([key, title]) => {
      const sorted = this.sort && this.sort[0] === key;
      return `<th data-key="${key}" class="${sorted ? "sorted" : ""}${sorted && this.sort[1] ? " up" : ""}">${title}</th>`;
    }).join("");
    const body = groups.map((g) => {
      const cells = groupColumns.map(([key, , show]) => {
        const bar = key === "phase_cycles"
          ? `<span class="bar" data-width="${Math.round(60 * g.phase_cycles / widest)}"></span>` : "";
        return `<td>${bar}${show(g, total)}</td>`;
      }).join("");
      const picked = g.name === this.highlight ? " class=\"highlighted\"" : "";
      return `<tr data-name="${escapeHtml(g.name)}"${picked}>${cells}</tr>`;
    }).join("");
    this.table.innerHTML = `<thead><tr>${head}</tr></thead><tbody>${body}</tbody>`;
    for (const bar of this.table.querySelectorAll(".bar")) bar.style.width = `${bar.dataset.width}px`;
  }
}

export function showSamples(box, report, clockHz, title = "longest samples") {
  if (!report.samples || report.samples.length === 0) {
    box.innerHTML = "";
    return;
  }
  const rows = report.samples.map((s) =>
      `<tr><td>${s.physical_tile}</td><td>${cycles(s.offset)}</td><td>${cycles(s.duration)}</td>` +
      `<td>${duration(s.duration / clockHz)}</td><td>${s.phase}</td><td>${s.epoch}</td>` +
      `<td>${escapeHtml(s.kind)}</td><td>${escapeHtml(s.kernel)}</td><td>${escapeHtml(s.operation)}</td></tr>`);
  box.innerHTML = `<details open><summary>${report.samples.length} ${escapeHtml(title)}</summary>` +
      `<div class="table-box"><table><thead><tr><th>tile</th><th>offset</th><th>cycles</th>` +
      `<th>time</th><th>phase</th><th>epoch</th><th>kind</th><th>kernel</th><th>operation</th></tr>` +
      `</thead><tbody>${rows.join("")}</tbody></table></div></details>`;
}

const shownPhases = 50;

// The worst (phase, epoch)s first, as the server ranks them: by the cycles lost to imbalance (the
// busiest tile's working cycles minus the mean), then by phase cycles; the chips' lists merged in
// that order. Each bar is on one scale from the smallest loss listed to the largest, so that close
// values read apart. Beyond the first 50, folded. `onPick(row)` gets a clicked row's phase.
export function showBalance(table, balance, onPick) {
  const phases = [];
  balance.profiles.forEach((profile, chip) => {
    for (const p of profile.phases) phases.push({...p, profile: profile.name, chip});
  });
  phases.sort((a, b) => b.lost_cycles - a.lost_cycles || b.phase_cycles - a.phase_cycles);
  const most = phases.length ? phases[0].lost_cycles : 0;
  const least = phases.length ? phases[phases.length - 1].lost_cycles : 0;
  const scale = (lost) => (most > least ? (lost - least) / (most - least) : 0);
  const several = balance.profiles.length > 1;
  const row = (p, index) =>
      `<tr data-index="${index}" data-phase="${p.phase}" data-epoch="${p.epoch}" data-chip="${p.chip}" ` +
      `data-tile="${p.critical_tile}" title="zoom to the phase and mark its busiest tile">` +
      `${several ? `<td>${escapeHtml(p.profile)}</td>` : ""}<td>${p.phase}</td><td>${p.epoch}</td>` +
      `<td><span class="bar" data-width="${Math.round(2 + 118 * scale(p.lost_cycles))}"></span>${decimal(p.lost_cycles, 1)}</td>` +
      `<td>${decimal(p.imbalance, 3)}</td>` +
      `<td>${cycles(p.phase_cycles)}</td><td>${cycles(p.tile_count)}</td><td>${cycles(p.maximum_busy_cycles)}</td>` +
      `<td>${decimal(p.mean_busy_cycles, 1)}</td><td>${p.critical_tile}</td></tr>`;
  const head = `<thead><tr>${several ? "<th>chip</th>" : ""}<th>phase</th><th>epoch</th>` +
      `<th>cycles lost (max − mean)</th><th>imbalance (max / mean)</th>` +
      `<th>phase cycles</th><th>tiles</th><th>busiest tile's working cycles</th><th>mean working cycles</th>` +
      `<th>busiest tile</th></tr></thead>`;
  const rest = phases.slice(shownPhases);
  const columns = several ? 10 : 9;
  table.innerHTML = `${head}<tbody>${phases.slice(0, shownPhases).map(row).join("")}</tbody>` +
      (rest.length ? `<tbody><tr><td colspan="${columns}"><details><summary>${rest.length} more</summary>` +
          `<table>${head}<tbody>${rest.map((p, i) => row(p, shownPhases + i)).join("")}</tbody></table></details></td></tr></tbody>` : "");
  for (const bar of table.querySelectorAll(".bar")) bar.style.width = `${bar.dataset.width}px`;
  table.onclick = (event) => {
    const clicked = event.target.closest("tr[data-index]");
    if (clicked && onPick) onPick(phases[Number(clicked.dataset.index)]);
  };
}
