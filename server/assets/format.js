// Numbers as the page shows them: whole cycles with separators, durations in the unit that fits.

const grouped = new Intl.NumberFormat("en-US");

export function cycles(value) {
  return grouped.format(value);
}

// A count of cycles with its noun: "1 cycle", "12,345 cycles".
export function cycleCount(value) {
  return `${cycles(value)} ${value === 1 ? "cycle" : "cycles"}`;
}

// A duration in seconds with four significant digits, in ns, µs, ms or s as the tool's table does.
export function duration(seconds) {
  if (!Number.isFinite(seconds)) return "–";
  const units = [[1, "s"], [1e-3, "ms"], [1e-6, "µs"], [1e-9, "ns"]];
  for (const [scale, unit] of units) {
    if (Math.abs(seconds) >= scale || scale === 1e-9) {
      return `${Number((seconds / scale).toPrecision(4))} ${unit}`;
    }
  }
  return `${seconds} s`;
}

// Cycles with their duration at the profile's clock: "12,345 cycles (9.282 µs)".
export function cyclesAndTime(value, clockHz) {
  const time = clockHz > 0 ? ` (${duration(value / clockHz)})` : "";
  return `${cycleCount(value)}${time}`;
}

export function percent(part, whole) {
  if (!(whole > 0)) return "–";
  return `${(100 * part / whole).toFixed(1)}%`;
}

export function decimal(value, digits = 2) {
  return Number(value).toFixed(digits);
}

// Text for HTML: names come from profiles and may hold anything.
export function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}
