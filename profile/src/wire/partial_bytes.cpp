// The binary form of partial results: unsigned LEB128 varints, length-prefixed strings and
// differences between consecutive sorted values.
#include <zel_profile/partial_bytes.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "wire/byte_form.hpp"
#include "wire/sample_bytes.hpp"

namespace zel_profile {
namespace {

using detail::fixed_size;
using Reader = detail::ByteReader;
using Writer = detail::ByteWriter;

constexpr unsigned char format_version = 4;

// 64-bit FNV-1a: every state step is a bijection, so any change of one byte changes the result.
class Fnv1a {
 public:
  Fnv1a& bytes(std::string_view text) {
    for (const char c : text) {
      hash_ = (hash_ ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    }
    return *this;
  }
  Fnv1a& number(std::uint64_t value) {
    char little[8];
    for (int i = 0; i < 8; ++i) little[i] = static_cast<char>(value >> (8 * i) & 0xff);
    return bytes({little, 8});
  }
  // A string with its length, so that the fields of a query cannot run into each other.
  Fnv1a& text(std::string_view text) { return number(text.size()).bytes(text); }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325u;
};

[[noreturn]] void refuse_to_encode(const std::string& what) {
  throw std::invalid_argument("cannot encode partial result: " + what);
}

[[noreturn]] void malformed(const std::string& what) {
  throw std::invalid_argument("malformed partial result bytes: " + what);
}

// The fewest bytes each item takes: a number and a string's length take at least one byte each.
constexpr std::size_t tile_range_bytes = 3;  // chip, first tile, width
constexpr std::size_t run_bytes = 2;         // gap, length
constexpr std::size_t run_block_bytes = 5;   // phase, epoch, runs less one, a run
constexpr std::size_t length_bytes = 2;      // length, count
constexpr std::size_t entry_bytes = 2;       // name, value
// Name, dimensions, tiles, form, work cycles, offsets, and runs and lengths (or six figures).
constexpr std::size_t group_bytes = 9;
// Tile, offset, duration, phase, epoch, kind, operation, kernel, metadata.
constexpr std::size_t sample_bytes = 9;

template <typename T>
T add(T left, std::uint64_t right, const char* field) {
  if (right > std::numeric_limits<T>::max() - left)
    malformed(std::string("out of range: ") + field);
  return static_cast<T>(left + right);
}

// Tile ranges: per range the step from the previous range's chip (the first's chip itself), then
// the first tile, after a range of the same chip as the gap after it, and the width.
void encode_tiles(Writer& out, const std::vector<TileRange>& tiles) {
  out.number(tiles.size());
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const TileRange& range = tiles[i];
    if (range.last < range.first) refuse_to_encode("a tile range ends before it starts");
    const std::uint32_t previous_chip = i == 0 ? 0 : tiles[i - 1].chip;
    if (range.chip < previous_chip) refuse_to_encode("tile ranges not ascending by chip");
    out.number(range.chip - previous_chip);
    if (i == 0 || range.chip != previous_chip) {
      out.number(range.first);
    } else {
      // Ranges are apart: at least one tile lies between them.
      const std::uint64_t previous = tiles[i - 1].last;
      if (range.first < previous + 2) refuse_to_encode("tile ranges not ascending and apart");
      out.number(range.first - previous - 2);
    }
    out.number(range.last - range.first);
  }
}

std::vector<TileRange> decode_tiles(Reader& in) {
  std::vector<TileRange> tiles(in.count("tile ranges", tile_range_bytes));
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const std::uint32_t previous_chip = i == 0 ? 0 : tiles[i - 1].chip;
    const std::uint64_t chip_step = in.number("chips");
    const std::uint32_t chip = add<std::uint32_t>(previous_chip, chip_step, "chips");
    const std::uint64_t first =
        i == 0 || chip_step != 0
            ? in.number("tiles")
            : add<std::uint64_t>(std::uint64_t{tiles[i - 1].last} + 2, in.number("tiles"), "tiles");
    const std::uint64_t last = add<std::uint64_t>(first, in.number("tiles"), "tiles");
    if (last > std::numeric_limits<std::uint32_t>::max()) malformed("out of range: tiles");
    tiles[i] = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last), chip};
  }
  return tiles;
}

// Runs as blocks of one (phase, epoch) each: the block's key as a step from the previous key, its
// number of runs less one, then per run the gap after the previous run (less one, as runs do not
// touch) or the first start, and its length.
void encode_runs(Writer& out, const std::vector<PhaseRun>& runs) {
  std::size_t blocks = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i == 0 || runs[i].phase_epoch != runs[i - 1].phase_epoch) ++blocks;
  }
  out.number(blocks);
  for (std::size_t begin = 0; begin < runs.size();) {
    const PhaseEpoch key = runs[begin].phase_epoch;
    std::size_t end = begin + 1;
    while (end < runs.size() && runs[end].phase_epoch == key) ++end;
    if (begin == 0) {
      out.number(key.first);
      out.number(key.second);
    } else {
      const PhaseEpoch previous = runs[begin - 1].phase_epoch;
      if (key < previous) refuse_to_encode("runs not ascending by (phase, epoch)");
      out.number(key.first - previous.first);
      // Within the same phase the epoch grows; after a new phase it starts afresh.
      out.number(key.first == previous.first ? key.second - previous.second - 1 : key.second);
    }
    out.number(end - begin - 1);
    for (std::size_t i = begin; i < end; ++i) {
      const Interval& interval = runs[i].interval;
      if (interval.second < interval.first) refuse_to_encode("a run ends before it starts");
      if (i == begin) {
        out.number(interval.first);
      } else {
        const std::uint64_t previous_end = runs[i - 1].interval.second;
        if (interval.first <= previous_end) refuse_to_encode("runs overlap or touch");
        out.number(interval.first - previous_end - 1);
      }
      out.number(interval.second - interval.first);
    }
    begin = end;
  }
}

std::vector<PhaseRun> decode_runs(Reader& in) {
  std::vector<PhaseRun> runs;
  const std::size_t blocks = in.count("runs", run_block_bytes);
  for (std::size_t b = 0; b < blocks; ++b) {
    PhaseEpoch key;
    if (b == 0) {
      key = {in.number32("phase"), in.number32("epoch")};
    } else {
      const PhaseEpoch previous = runs.back().phase_epoch;
      const std::uint64_t step = in.number("phase");
      key.first = add<std::uint32_t>(previous.first, step, "phase");
      // Within the same phase the epoch grows by at least one.
      key.second = step != 0 ? in.number32("epoch")
                             : add<std::uint32_t>(add<std::uint32_t>(previous.second, 1, "epoch"),
                                                  in.number("epoch"), "epoch");
    }
    const std::size_t count = add<std::size_t>(in.count("runs", run_bytes), 1, "runs");
    for (std::size_t r = 0; r < count; ++r) {
      const std::uint64_t start =
          r == 0 ? in.number("run start")
                 : add<std::uint64_t>(add<std::uint64_t>(runs.back().interval.second, 1, "run"),
                                      in.number("run start"), "run start");
      const std::uint64_t end = add<std::uint64_t>(start, in.number("run length"), "run end");
      runs.push_back({key, {start, end}});
    }
  }
  return runs;
}

void encode_lengths(Writer& out, const std::vector<LengthCount>& lengths) {
  out.number(lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i].count == 0) refuse_to_encode("a length with count 0");
    if (i == 0) {
      out.number(lengths[i].length);
    } else {
      if (lengths[i].length <= lengths[i - 1].length) refuse_to_encode("lengths not ascending");
      out.number(lengths[i].length - lengths[i - 1].length - 1);
    }
    out.number(lengths[i].count - 1);
  }
}

std::vector<LengthCount> decode_lengths(Reader& in) {
  std::vector<LengthCount> lengths(in.count("lengths", length_bytes));
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    lengths[i].length =
        i == 0 ? in.number32("length")
               : add<std::uint32_t>(add<std::uint32_t>(lengths[i - 1].length, 1, "length"),
                                    in.number("length"), "length");
    lengths[i].count = add<std::uint64_t>(in.number("length count"), 1, "length count");
  }
  return lengths;
}

// A finished group's figures, the percentiles and maximum as steps up from the one before.
void encode_finished(Writer& out, const PartialGroup& group) {
  if (!group.runs.empty() || !group.lengths.empty()) {
    refuse_to_encode("a finished group with runs or lengths");
  }
  const FinishedFigures& figures = *group.finished;
  if (figures.p95 < figures.p50 || figures.maximum < figures.p95) {
    refuse_to_encode("a finished group's percentiles out of order");
  }
  out.number(figures.phase_count);
  out.number(figures.phase_cycles);
  out.number(figures.sample_count);
  out.number(figures.p50);
  out.number(figures.p95 - figures.p50);
  out.number(figures.maximum - figures.p95);
}

FinishedFigures decode_finished(Reader& in) {
  FinishedFigures figures;
  figures.phase_count = add<std::size_t>(0, in.number("phase count"), "phase count");
  figures.phase_cycles = in.number("phase cycles");
  figures.sample_count = add<std::size_t>(0, in.number("group samples"), "group samples");
  figures.p50 = in.number32("p50");
  figures.p95 = add<std::uint32_t>(figures.p50, in.number("p95"), "p95");
  figures.maximum = add<std::uint32_t>(figures.p95, in.number("maximum"), "maximum");
  return figures;
}

// What every partial the engine makes satisfies, whatever profile it was made from: a partial
// that breaks any of it was not made by a query, so it is refused before it can be finished into
// an impossible report. Per group of n samples (n = the lengths' counts, or the finished sample
// count) of largest length `maximum`:
// - n is at most the matched samples, which are at most the samples; the reported samples are at
//   most the matched ones;
// - the work cycles are the lengths summed (with the counts: exactly), so at least the maximum and
//   at most maximum x n; the phase cycles, a union of the samples' intervals, at most the work;
// - the maximum and every run lie between the first and the last offset, and the last offset,
//   an end on some tile, is within the span;
// - the group's tiles and (phase, epoch) pairs are at most n, its tiles at most the partial's;
// - a group without samples has none of these.
void check_possible(const PartialQuery& partial) {
  if (partial.matched_sample_count > partial.sample_count) {
    malformed("more matched samples than samples");
  }
  if (partial.samples.size() > partial.matched_sample_count) {
    malformed("more reported samples than matched samples");
  }
  for (const ReportedSample& sample : partial.samples.samples()) {
    if (sample.offset > partial.profile_span_cycles ||
        sample.duration > partial.profile_span_cycles - sample.offset) {
      malformed("a reported sample outside the span");
    }
  }
  for (const PartialGroup& group : partial.groups) {
    const auto impossible = [&](const char* what) {
      malformed("group \"" + group.name.substr(0, 64) + "\": " + what);
    };
    std::uint64_t samples = 0;
    std::uint64_t work = 0;
    std::uint64_t maximum = 0;
    std::uint64_t phase_cycles = 0;
    std::uint64_t phases = 0;
    if (group.finished) {
      samples = group.finished->sample_count;
      maximum = group.finished->maximum;
      phase_cycles = group.finished->phase_cycles;
      phases = group.finished->phase_count;
      if (group.work_cycles < maximum || (samples != 0 && group.work_cycles / samples > maximum) ||
          (samples == 0 && group.work_cycles != 0)) {
        impossible("work cycles outside what its lengths allow");
      }
    } else {
      for (const LengthCount& length : group.lengths) {
        const std::uint64_t cycles = std::uint64_t{length.length} * length.count;
        if (length.count > std::numeric_limits<std::uint64_t>::max() - samples ||
            (length.length != 0 && cycles / length.length != length.count) ||
            cycles > std::numeric_limits<std::uint64_t>::max() - work) {
          impossible("work cycles other than its lengths summed");
        }
        samples += length.count;
        work += cycles;
        maximum = length.length;
      }
      if (work != group.work_cycles) impossible("work cycles other than its lengths summed");
      for (std::size_t i = 0; i < group.runs.size(); ++i) {
        const PhaseRun& run = group.runs[i];
        if (run.interval.first < group.first_offset || run.interval.second > group.last_offset) {
          impossible("a run outside its offsets");
        }
        phase_cycles += run.interval.second - run.interval.first;  // within the offsets: no wrap
        if (i == 0 || group.runs[i - 1].phase_epoch != run.phase_epoch) ++phases;
        if (phase_cycles > group.work_cycles) break;
      }
    }
    if (samples > partial.matched_sample_count) impossible("more samples than matched samples");
    if (phase_cycles > group.work_cycles) impossible("more phase cycles than work cycles");
    if (phases > samples) impossible("more (phase, epoch) pairs than samples");
    if (group.first_offset > group.last_offset ||
        maximum > group.last_offset - group.first_offset ||
        group.last_offset > partial.profile_span_cycles) {
      impossible("offsets that cannot hold its samples");
    }
    std::uint64_t tiles = 0;
    for (const TileRange& range : group.tiles) tiles += std::uint64_t{range.last} - range.first + 1;
    if (tiles > samples || tiles > partial.tile_count || (samples != 0 && tiles == 0)) {
      impossible("more tiles than samples, or than the partial has");
    }
  }
}

}  // namespace

std::uint64_t query_fingerprint(const Query& query) {
  Fnv1a hash;
  hash.number(static_cast<std::uint64_t>(query.group_by))
      .number(query.kind ? 1 + static_cast<std::uint64_t>(*query.kind) : 0);
  for (const auto& text : {query.kernel, query.operation_contains, query.metadata_key}) {
    hash.number(text ? 1 : 0).text(text.value_or(""));
  }
  for (const auto* numbers : {&query.tiles, &query.phases}) {
    hash.number(numbers->size());
    for (const std::uint32_t number : *numbers) hash.number(number);
  }
  hash.number(query.metadata.size());
  for (const MetadataFilter& filter : query.metadata) {
    hash.text(filter.name).number(filter.value ? 1 : 0).text(filter.value.value_or(""));
  }
  for (const auto& time : {query.at_offset, query.from_offset, query.to_offset}) {
    hash.number(time ? 1 : 0).number(time.value_or(0));
  }
  hash.number(query.clip ? 1 : 0).number(query.profile_names.size());
  for (const std::string& name : query.profile_names) hash.text(name);
  return hash.number(query.sample_limit).value();
}

void check_partial_query(const PartialQuery& partial, const Query& query) {
  if (partial.query_fingerprint != query_fingerprint(query)) {
    throw std::invalid_argument(
        "partial result of another query: its grouping, filters or sample count differ from "
        "this query's");
  }
}

std::string encode(const PartialQuery& partial) {
  Writer out;
  out.byte(format_version);
  out.fixed(partial.query_fingerprint);
  out.number(partial.clock_hz);
  out.number(partial.tile_count);
  out.number(partial.sample_count);
  out.number(partial.matched_sample_count);
  out.number(partial.profile_span_cycles);
  if (partial.last_chip < partial.first_chip) refuse_to_encode("chips out of order");
  out.number(partial.first_chip);
  out.number(partial.last_chip - partial.first_chip);
  out.number(partial.groups.size());
  for (std::size_t g = 0; g < partial.groups.size(); ++g) {
    const PartialGroup& group = partial.groups[g];
    if (g > 0 && !(partial.groups[g - 1].name < group.name)) {
      refuse_to_encode("groups not ascending by unique name");
    }
    out.text(group.name);
    out.number(group.dimensions.size());
    for (const auto& [key, value] : group.dimensions) {
      out.text(key);
      out.text(value);
    }
    encode_tiles(out, group.tiles);
    out.byte(group.finished ? 1 : 0);
    out.number(group.work_cycles);
    out.number(group.first_offset);
    out.number(group.last_offset);
    if (group.finished) {
      encode_finished(out, group);
    } else {
      encode_runs(out, group.runs);
      encode_lengths(out, group.lengths);
    }
  }
  detail::write_samples(out, partial.samples, "partial result");
  out.fixed(Fnv1a().bytes(out.written()).value());
  return out.take();
}

PartialQuery decode_partial(std::string_view bytes) {
  if (bytes.size() < 1 + 2 * fixed_size) malformed("truncated");
  if (static_cast<unsigned char>(bytes[0]) != format_version) malformed("unknown format");
  const std::size_t checked = bytes.size() - fixed_size;
  if (Fnv1a().bytes(bytes.substr(0, checked)).value() !=
      Reader(bytes.substr(checked), "partial result").fixed("checksum")) {
    malformed("checksum mismatch");
  }
  Reader in(bytes.substr(1, checked - 1), "partial result");
  PartialQuery partial;
  partial.query_fingerprint = in.fixed("query fingerprint");
  partial.clock_hz = in.number("clock rate");
  partial.tile_count = add<std::size_t>(0, in.number("tile count"), "tile count");
  partial.sample_count = add<std::size_t>(0, in.number("sample count"), "sample count");
  partial.matched_sample_count =
      add<std::size_t>(0, in.number("matched sample count"), "matched sample count");
  partial.profile_span_cycles = in.number("profile span");
  partial.first_chip = add<std::uint32_t>(0, in.number("chips"), "chips");
  partial.last_chip = add<std::uint32_t>(partial.first_chip, in.number("chips"), "chips");
  partial.groups.resize(in.count("groups", group_bytes));
  for (std::size_t g = 0; g < partial.groups.size(); ++g) {
    PartialGroup& group = partial.groups[g];
    group.name = in.text("group name");
    if (g > 0 && !(partial.groups[g - 1].name < group.name)) {
      malformed("groups not ascending by unique name");
    }
    const std::size_t dimensions = in.count("dimensions", entry_bytes);
    for (std::size_t d = 0; d < dimensions; ++d) {
      std::string key = in.text("dimension name");
      // In the map's order, so that every partial has one spelling.
      if (d > 0 && !(group.dimensions.rbegin()->first < key)) malformed("dimensions out of order");
      group.dimensions.emplace_hint(group.dimensions.end(), std::move(key),
                                    in.text("dimension value"));
    }
    group.tiles = decode_tiles(in);
    const unsigned char finished = in.byte("finished");
    if (finished > 1) malformed("unknown group form");
    group.work_cycles = in.number("work cycles");
    group.first_offset = in.number("first offset");
    group.last_offset = in.number("last offset");
    if (finished == 1) {
      group.finished = decode_finished(in);
    } else {
      group.runs = decode_runs(in);
      group.lengths = decode_lengths(in);
    }
  }
  partial.samples = detail::read_samples(in, in.count("samples", sample_bytes));
  if (!in.done()) malformed("trailing bytes");
  check_possible(partial);
  return partial;
}

}  // namespace zel_profile
