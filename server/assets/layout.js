// The timeline's rows as a trace viewer lays them out: each chip a group of lanes, one lane per
// tile, that collapses to its header; a height per tile (the vertical zoom) and a scroll offset.

export const headerHeight = 18;   // a chip's header lane, when there are several chips
export const largestRow = 40;     // the tallest a tile's lane gets

// The tiles of each chip in the profile's list order, from a timeline answer with one tile a row
// (or any answer that covers every admitted tile: a row lists all of its tiles).
export function tilesOf(data, chipCount) {
  const chips = Array.from({length: chipCount}, () => []);
  for (const row of data.rows) chips[row.profile].push(...row.tiles);
  return chips;
}

export class Layout {
  constructor(chipTiles, chipNames) {
    this.chips = chipTiles.map((tiles, chip) => ({
      chip, tiles, name: chipNames[chip] || `chip ${chip}`, collapsed: false,
      position: new Map(tiles.map((tile, place) => [tile, place])),
    }));
    this.headers = this.chips.length > 1;
    this.rowHeight = 0;  // pixels a tile; 0 until fitted
    this.top = 0;        // the scroll offset, in pixels of the whole content
    this.height = 1;     // the plot's height
  }

  get shownTiles() {
    return this.chips.reduce((sum, c) => sum + (c.collapsed ? 0 : c.tiles.length), 0);
  }

  get headerSpace() {
    return this.headers ? this.chips.length * headerHeight : 0;
  }

  // The height per tile at which every shown tile fits the plot (no taller than the tallest lane).
  fitHeight() {
    return Math.min(largestRow, Math.max(0.05, (this.height - this.headerSpace) / Math.max(1, this.shownTiles)));
  }

  contentHeight() {
    return this.headerSpace + this.shownTiles * this.rowHeight;
  }

  setHeight(height) {
    const fitted = this.rowHeight === 0 || this.rowHeight <= this.fitHeight() + 1e-9;
    this.height = height;
    if (fitted) this.rowHeight = this.fitHeight();
    this.clamp();
  }

  clamp() {
    this.rowHeight = Math.max(this.fitHeight(), Math.min(largestRow, this.rowHeight));
    this.top = Math.max(0, Math.min(this.top, this.contentHeight() - this.height));
  }

  // Zooms the rows by `factor` keeping the tile under `anchor` (pixels from the plot's top) there.
  zoom(factor, anchor = this.height / 2) {
    const lane = this.laneAt(anchor);
    this.rowHeight *= factor;
    this.clamp();
    if (lane && lane.tile >= 0) {
      this.top = this.chipSpans()[lane.chip].tilesTop + lane.position * this.rowHeight - anchor;
    }
    this.clamp();
  }

  scroll(pixels) {
    this.top += pixels;
    this.clamp();
  }

  isFitted() {
    return this.rowHeight <= this.fitHeight() + 1e-9;
  }

  fit() {
    this.rowHeight = this.fitHeight();
    this.top = 0;
  }

  // One tile a row, readable: the lanes at least 18 pixels tall.
  oneTileARow() {
    const anchor = this.height / 2;
    this.zoom(Math.max(18, this.rowHeight) / this.rowHeight, anchor);
  }

  // Every chip's lanes in content pixels: [{chip, top, headerTop, tilesTop, bottom}].
  chipSpans() {
    const spans = [];
    let y = 0;
    for (const c of this.chips) {
      const headerTop = y;
      if (this.headers) y += headerHeight;
      const tilesTop = y;
      if (!c.collapsed) y += c.tiles.length * this.rowHeight;
      spans.push({chip: c.chip, headerTop, tilesTop, bottom: y});
    }
    return spans;
  }

  // What is at `y` pixels from the plot's top: {chip, tile: -1 (the header) or the physical tile,
  // position: the place in the chip's list, a fraction through the tile's lane}; null past the end.
  laneAt(y) {
    const at = this.top + y;
    for (const span of this.chipSpans()) {
      if (at < span.headerTop || at >= span.bottom) continue;
      const chip = this.chips[span.chip];
      if (at < span.tilesTop) return {chip: span.chip, tile: -1, position: -1};
      const position = (at - span.tilesTop) / this.rowHeight;
      const place = Math.min(chip.tiles.length - 1, Math.floor(position));
      return {chip: span.chip, tile: chip.tiles[place], position};
    }
    return null;
  }

  // The top of a tile's lane, in pixels from the plot's top.
  laneTop(chip, place) {
    const span = this.chipSpans()[chip];
    return span.tilesTop + place * this.rowHeight - this.top;
  }

  // The visible tiles of each chip: [{chip, first, end}] places in the chip's list.
  visible() {
    const out = [];
    for (const span of this.chipSpans()) {
      const chip = this.chips[span.chip];
      if (chip.collapsed || chip.tiles.length === 0) continue;
      const top = Math.max(span.tilesTop, this.top);
      const bottom = Math.min(span.bottom, this.top + this.height);
      if (bottom <= top) continue;
      const first = Math.floor((top - span.tilesTop) / this.rowHeight);
      const end = Math.min(chip.tiles.length, Math.ceil((bottom - span.tilesTop) / this.rowHeight));
      if (end > first) out.push({chip: span.chip, first, end});
    }
    return out;
  }

  visibleCount() {
    return this.visible().reduce((sum, v) => sum + v.end - v.first, 0);
  }
}
