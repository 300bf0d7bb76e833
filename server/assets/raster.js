// Paints a timeline answer into pixels in one pass: each pixel looks up its cell through a column
// table (pixel column to bin) and a lane table (pixel row to answer row and height through it), so
// an answer of any resolution paints any view, a coarser one simply in bigger cells.

// A colour "#rrggbb" as the 32-bit pixel of a little-endian ImageData, at `alpha` over white.
export function pixel(hex, alpha = 1) {
  const value = parseInt(hex.slice(1), 16);
  const mix = (channel) => Math.round(channel * alpha + 255 * (1 - alpha));
  const r = mix((value >> 16) & 255);
  const g = mix((value >> 8) & 255);
  const b = mix(value & 255);
  return ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0;
}

// For each of `count` pixel columns starting at cycle `from`, `perPixel` cycles each, the answer's
// bin under the column's middle, or -1 outside the answer.
export function columnBins(data, count, from, perPixel) {
  const bins = new Int32Array(count);
  for (let x = 0; x < count; ++x) {
    const cycle = from + (x + 0.5) * perPixel;
    const bin = Math.floor((cycle - data.from) / data.bin_cycles);
    bins[x] = bin >= 0 && bin < data.bins && cycle < data.to ? bin : -1;
  }
  return bins;
}

// Paints every pixel row with an answer row (rows[y] >= 0): a cell stacks its categories' shares
// of the row's capacity (tiles x bin cycles) from the bottom, heights[y] saying how far up the
// row the pixel is (0 at the bottom, 1 at the top). `colors[c]` paints category c, `faded[c]` a
// category dimmed by the highlight or by a search that did not match the cell (marks[r][b] false).
export function paint({pixels, width, bins, rows, heights, data, colors, faded, dim, marks}) {
  const categories = data.categories.length;
  const cycles = data.cycles;
  const stride = data.bins * categories;
  const capacity = data.rows.map((row) => Math.max(1, row.tiles.length) * data.bin_cycles);
  for (let y = 0; y < rows.length; ++y) {
    const r = rows[y];
    if (r < 0) continue;
    const level = heights[y] * capacity[r];
    const marked = marks ? marks[r] : null;
    const offset = y * width;
    let lastBin = -2;
    let colour = 0;
    for (let x = 0; x < width; ++x) {
      const b = bins[x];
      if (b !== lastBin) {
        lastBin = b;
        colour = 0;
        if (b >= 0) {
          let sum = 0;
          const cell = r * stride + b * categories;
          for (let c = 0; c < categories; ++c) {
            sum += cycles[cell + c];
            if (sum > level) {
              const fade = dim[c] || (marked !== null && !marked[b]);
              colour = fade ? faded[c] : colors[c];
              break;
            }
          }
        }
      }
      if (colour !== 0) pixels[offset + x] = colour;
    }
  }
}
