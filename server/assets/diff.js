// The comparison of two runs (`zel-profile serve --base BASE NEW`): /api/diff's groups, which are
// what `zel-profile diff --format json` prints, as a table sortable by any figure's change.

import {cycles, decimal, escapeHtml} from "./format.js";

// The figures of /api/diff, each with its label and whether it is a whole number.
const figures = [
  ["phase_cycles", "phase cycles", true],
  ["work_cycles", "work cycles", true],
  ["sample_count", "samples", true],
  ["average_active_tiles", "active tiles", false],
  ["mean_cycles", "mean", false],
  ["p95_cycles", "p95", true],
  ["maximum_cycles", "max", true],
];

function number(value, whole) {
  return whole ? cycles(value) : decimal(value, 2);
}

function signed(value, whole) {
  return `${value > 0 ? "+" : ""}${number(value, whole)}`;
}

function relative(value) {
  if (value === null) return "–";
  return `${value > 0 ? "+" : ""}${(value * 100).toFixed(1)}%`;
}

// The columns: the group, where it is only, the phase cycles in both runs, then each figure's
// change and relative change. `value` is what the column sorts by.
const columns = [
  {key: "name", title: "group", value: (g) => g.name, show: (g) => escapeHtml(g.name)},
  {key: "only_in", title: "only in", value: (g) => g.only_in || "", show: (g) => escapeHtml(g.only_in || "")},
  {key: "phase_cycles.base", title: "base phase cycles", value: (g) => g.phase_cycles.base,
   show: (g) => cycles(g.phase_cycles.base)},
  {key: "phase_cycles.new", title: "new phase cycles", value: (g) => g.phase_cycles.new,
   show: (g) => cycles(g.phase_cycles.new)},
  ...figures.flatMap(([field, label, whole]) => [
    {key: `${field}.change`, title: `${label} change`, value: (g) => g[field].change,
     show: (g) => signed(g[field].change, whole), change: true},
    {key: `${field}.relative`, title: "%", value: (g) => g[field].relative,
     show: (g) => relative(g[field].relative), change: true},
  ]),
];

export class DiffTable {
  constructor(table) {
    this.table = table;
    this.sort = null;  // [key, ascending]; null keeps the server's order (largest change first)
    this.diff = null;
    table.addEventListener("click", (event) => {
      const header = event.target.closest("th");
      if (!header) return;
      const key = header.dataset.key;
      // A change sorts largest first, then smallest; a name from A.
      this.sort = this.sort && this.sort[0] === key ? [key, !this.sort[1]] : [key, key === "name" || key === "only_in"];
      this.render();
    });
  }

  show(diff) {
    this.diff = diff;
    this.render();
  }

  // The groups in the table's order: by the sorted column, groups without a value (no relative
  // change from nothing) last either way, ties by name.
  ordered() {
    const groups = [...this.diff.groups];
    if (!this.sort) return groups;
    const [key, ascending] = this.sort;
    const column = columns.find((c) => c.key === key);
    return groups.sort((a, b) => {
      const x = column.value(a);
      const y = column.value(b);
      if (x === null || y === null) return (x === null) - (y === null) || a.name.localeCompare(b.name);
      const order = typeof x === "string" ? x.localeCompare(y) : x - y;
      return (ascending ? order : -order) || a.name.localeCompare(b.name);
    });
  }

  render() {
    const diff = this.diff;
    if (!diff) {
      this.table.innerHTML = "";
      return;
    }
    const head = columns.map(({key, title}) => {
      const sorted = this.sort && this.sort[0] === key;
      return `<th data-key="${key}" class="${sorted ? "sorted" : ""}${sorted && this.sort[1] ? " up" : ""}">${title}</th>`;
    }).join("");
    const body = this.ordered().map((g) => {
      const cells = columns.map((column) => {
        const value = column.value(g);
        const sign = column.change && value !== null ? (value > 0 ? " class=\"worse\"" : value < 0 ? " class=\"better\"" : "") : "";
        return `<td${sign}>${column.show(g)}</td>`;
      }).join("");
      return `<tr data-name="${escapeHtml(g.name)}">${cells}</tr>`;
    }).join("");
    this.table.innerHTML = `<thead><tr>${head}</tr></thead><tbody>${body}</tbody>`;
  }
}

// The span's change, as the tool's table says it.
export function spanLine(diff) {
  const span = diff.span;
  const change = span.base_cycles ? ` (${relative(span.change_cycles / span.base_cycles)})` : "";
  return `span ${cycles(span.base_cycles)} → ${cycles(span.new_cycles)} cycles: ` +
      `${signed(span.change_cycles, true)}${change}`;
}
