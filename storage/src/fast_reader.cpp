// The fast path of the profile reader: a strict recognizer of stored profiles as writers lay them
// out. It never reports an error: on anything it does not recognise it declines, and the full
// reader (profile_reader.cpp) reads the text again and gives the profile or the exact error.
//
// Soundness rests on one rule: every byte of the text is either inside the "steps" array, which
// the full reader's own step code reads (with simdjson, on a copy of just that slice, checking
// that nothing follows it), or is taken here only when it is exactly what the JSON grammar and
// the format allow: the whitespace bytes space, tab, CR and LF; the four top-level field names
// and the two tile field names, unescaped, each once; `:`, `,`, `[`, `]`, `{`, `}` where the
// grammar puts them; and integers of plain digits without leading zeros, within their range.
// Anything else (a byte-order mark, an escape in a name, a sign, fraction or exponent, a missing,
// unknown or repeated field, trailing content, a step index out of range, ...) declines.
//
// The "tiles" array holds nearly all of the text. Inside it, when it is well formed, `{` and `}`
// only open and close tile objects, so a tile's end is found with one scan for `}` (which also
// counts the `]` before it, to size the tile's samples exactly), and that `}` then stops every
// loop of the tile's parser without a bounds check. A large array is read on two threads: the
// main thread reads from the start; a worker reads from the first `{` after the middle of the
// text. The worker's tiles are used only if the main thread arrives at exactly that `{` where it
// expects the next tile, so the result is always that of one reading front to back.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader_detail.hpp"

namespace zel_storage::detail {
using namespace zel_package;
namespace {

constexpr std::uint64_t max_u32 = std::numeric_limits<std::uint32_t>::max();

inline bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Bounded whitespace skipping, for the top level.
inline const char* skip_space(const char* p, const char* end) {
  while (p < end && is_space(*p)) ++p;
  return p;
}

// Unbounded whitespace skipping, inside a tile whose closing `}` stops it. Valid whitespace and
// nothing else lies at or below ' ', so one comparison settles the common case.
inline const char* skip_space(const char* p) {
  while (static_cast<unsigned char>(*p) <= ' ' && is_space(*p)) ++p;
  return p;
}

// A JSON integer of at most `max` at p (bounded by end): plain digits, no leading zero. Returns
// the end of its digits, or nullptr. What follows the digits is for the caller's grammar to check.
const char* parse_integer(const char* p, const char* end, std::uint64_t max, std::uint64_t& value) {
  const char* start = p;
  std::uint64_t number = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    const auto digit = static_cast<std::uint64_t>(*p - '0');
    if (number > (max - digit) / 10) return nullptr;
    number = number * 10 + digit;
    ++p;
  }
  if (p == start || (*start == '0' && p - start > 1)) return nullptr;
  value = number;
  return p;
}

// An unsigned 32-bit JSON integer inside a tile (a non-digit is sure to follow), or nullptr.
inline const char* parse_u32(const char* p, std::uint32_t& value) {
  unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
  if (digit > 9) return nullptr;
  const char* start = p;
  std::uint64_t number = digit;
  ++p;
  while ((digit = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9) {
    number = number * 10 + digit;  // may wrap past 19 digits, which the length check refuses
    ++p;
  }
  const auto length = p - start;
  if (length > 10 || (length > 1 && *start == '0') || number > max_u32) return nullptr;
  value = static_cast<std::uint32_t>(number);
  return p;
}

// The first `}` in [p, end), or nullptr, and the number of `]` before it.
const char* find_tile_end(const char* p, const char* end, std::size_t& brackets) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i close_brace = _mm_set1_epi8('}');
  const __m128i close_bracket = _mm_set1_epi8(']');
  while (end - p >= 16) {
    // Up to 255 blocks count `]` in bytewise counters before they are added up.
    __m128i counters = _mm_setzero_si128();
    int blocks = 0;
    const char* found = nullptr;
    unsigned last_brackets = 0;
    for (; blocks < 255 && end - p >= 16; ++blocks, p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int braces = _mm_movemask_epi8(_mm_cmpeq_epi8(block, close_brace));
      const __m128i bracket_mask = _mm_cmpeq_epi8(block, close_bracket);
      if (braces != 0) {
        const int first = __builtin_ctz(static_cast<unsigned>(braces));
        last_brackets =
            static_cast<unsigned>(_mm_movemask_epi8(bracket_mask)) & ((1u << first) - 1u);
        found = p + first;
        break;
      }
      counters = _mm_sub_epi8(counters, bracket_mask);
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    if (found != nullptr) {
      brackets = count + static_cast<std::size_t>(__builtin_popcount(last_brackets));
      return found;
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == '}') {
      brackets = count;
      return p;
    }
    count += *p == ']';
  }
  return nullptr;
}

// The tiles read by one thread.
struct Piece {
  std::vector<PackedTile> tiles;
  std::uint32_t max_step = 0;
  bool any_sample = false;
  bool ok = false;
  bool handed_over = false;   // stopped at the worker's start
  const char* end = nullptr;  // just past the tiles array's `]`, or the worker's start
};

// The samples array at p, inside a tile that ends at its `}`. Returns just past its `]`.
const char* parse_samples(const char* p, std::vector<PackedSample>& samples,
                          std::uint32_t& max_step) {
  if (*p != '[') return nullptr;
  p = skip_space(p + 1);
  if (*p == ']') return p + 1;
  std::uint32_t top = max_step;
  for (;;) {
    PackedSample sample;
    if (*p != '[') return nullptr;
    p = skip_space(p + 1);
    if ((p = parse_u32(p, sample.step)) == nullptr) return nullptr;
    p = skip_space(p);
    if (*p != ',') return nullptr;
    p = skip_space(p + 1);
    if ((p = parse_u32(p, sample.start_cycle)) == nullptr) return nullptr;
    p = skip_space(p);
    if (*p != ',') return nullptr;
    p = skip_space(p + 1);
    if ((p = parse_u32(p, sample.end_cycle)) == nullptr) return nullptr;
    p = skip_space(p);
    if (*p != ']') return nullptr;
    p = skip_space(p + 1);
    top = std::max(top, sample.step);
    samples.push_back(sample);
    if (*p == ',') {
      p = skip_space(p + 1);
      continue;
    }
    if (*p != ']') return nullptr;
    max_step = top;
    return p + 1;
  }
}

// The tile object at p (`{`), appended to the piece. Returns just past its `}`, or nullptr.
const char* parse_tile(const char* p, const char* end, Piece& piece) {
  std::size_t brackets = 0;
  const char* close = find_tile_end(p + 1, end, brackets);
  if (close == nullptr) return nullptr;
  PackedTile tile;
  bool have_tile = false;
  bool have_samples = false;
  p = skip_space(p + 1);
  for (;;) {
    // A field name, exactly one of the two, unescaped.
    if (*p != '"') return nullptr;
    ++p;
    const auto left = static_cast<std::size_t>(close - p);
    constexpr std::string_view tile_name = "physical_tile\"";
    constexpr std::string_view samples_name = "samples\"";
    if (left > tile_name.size() && std::memcmp(p, tile_name.data(), tile_name.size()) == 0) {
      if (have_tile) return nullptr;
      have_tile = true;
      p = skip_space(p + tile_name.size());
      if (*p != ':') return nullptr;
      p = skip_space(p + 1);
      if ((p = parse_u32(p, tile.physical_tile)) == nullptr) return nullptr;
    } else if (left > samples_name.size() &&
               std::memcmp(p, samples_name.data(), samples_name.size()) == 0) {
      if (have_samples) return nullptr;
      have_samples = true;
      p = skip_space(p + samples_name.size());
      if (*p != ':') return nullptr;
      p = skip_space(p + 1);
      // A well-formed array of n samples holds n + 1 `]`, and each sample takes at least
      // "[0,0,0]," (8 bytes, 7 for the last): more `]` than that cannot be well formed.
      if (brackets == 0 || (brackets - 1) * 8 > static_cast<std::size_t>(close - p) + 1) {
        return nullptr;
      }
      tile.samples.reserve(brackets - 1);
      if ((p = parse_samples(p, tile.samples, piece.max_step)) == nullptr) return nullptr;
      piece.any_sample = piece.any_sample || !tile.samples.empty();
    } else {
      return nullptr;
    }
    p = skip_space(p);
    if (*p == ',') {
      p = skip_space(p + 1);
      continue;
    }
    if (*p != '}' || !have_tile || !have_samples) return nullptr;
    piece.tiles.push_back(std::move(tile));
    return p + 1;  // p == close: the first `}` after the tile's `{`
  }
}

// Tiles from p, where a tile is expected (just after `[` or `,` and whitespace), to the end of
// the tiles array; stops early, handing over, on reaching `stop` where a tile is expected, and
// gives up when `cancel` is set.
void parse_tiles(const char* p, const char* end, const char* stop, const std::atomic<bool>& cancel,
                 Piece& piece) {
  for (;;) {
    if (p == stop) {
      piece.handed_over = true;
      piece.end = p;
      piece.ok = true;
      return;
    }
    if (cancel.load(std::memory_order_relaxed)) return;
    if (p == end || *p != '{') return;
    if ((p = parse_tile(p, end, piece)) == nullptr) return;
    p = skip_space(p, end);
    if (p == end) return;
    if (*p == ',') {
      p = skip_space(p + 1, end);
      continue;
    }
    if (*p != ']') return;
    piece.end = p + 1;
    piece.ok = true;
    return;
  }
}

struct TilesResult {
  std::vector<PackedTile> tiles;
  std::uint32_t max_step = 0;
  bool any_sample = false;
  const char* end = nullptr;  // nullptr: declined
};

// The tiles array at p (`[`).
TilesResult read_tiles(const char* p, const char* end, const FastReadOptions& options) {
  TilesResult result;
  p = skip_space(p + 1, end);
  if (p == end) return result;
  if (*p == ']') {
    result.end = p + 1;
    return result;
  }

  // The worker's start: the first `{` after the middle of what is left of the text.
  const char* split = nullptr;
  if (static_cast<std::size_t>(end - p) >= options.parallel_min_bytes) {
    const char* middle = p + (end - p) / 2;
    split =
        static_cast<const char*>(std::memchr(middle, '{', static_cast<std::size_t>(end - middle)));
  }

  std::atomic<bool> cancel{false};
  Piece first;
  Piece second;
  std::exception_ptr worker_error;
  std::thread worker;
  if (split != nullptr) {
    try {
      worker = std::thread([&] {
        try {
          parse_tiles(split, end, nullptr, cancel, second);
        } catch (...) {
          worker_error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      split = nullptr;  // no thread to be had: read it all here
    }
  }
  {
    // The worker is always joined; it is told to stop early when its tiles will not be used,
    // also when this thread throws.
    struct Join {
      std::thread& worker;
      std::atomic<bool>& cancel;
      bool needed = false;
      ~Join() {
        if (!worker.joinable()) return;
        if (!needed) cancel.store(true, std::memory_order_relaxed);
        worker.join();
      }
    } join{worker, cancel};
    parse_tiles(p, end, split, cancel, first);
    join.needed = first.handed_over;
  }
  if (first.handed_over && worker_error) std::rethrow_exception(worker_error);
  if (!first.ok || (first.handed_over && !second.ok)) return result;

  result.max_step = first.max_step;
  result.any_sample = first.any_sample;
  result.end = first.end;
  result.tiles = std::move(first.tiles);
  if (first.handed_over) {
    result.max_step = std::max(result.max_step, second.max_step);
    result.any_sample = result.any_sample || second.any_sample;
    result.end = second.end;
    result.tiles.reserve(result.tiles.size() + second.tiles.size());
    for (auto& tile : second.tiles) result.tiles.push_back(std::move(tile));
  }
  return result;
}

// The end of the array at p (`[`) as the JSON lexer sees it: its matching `]`, skipping strings.
// Whether the slice is valid JSON is for the full reader's step code to say.
const char* find_array_end(const char* p, const char* end) {
  std::size_t depth = 0;
  bool in_string = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (in_string) {
      if (c == '\\') {
        if (end - p < 2) return nullptr;
        ++p;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      if (--depth == 0) return p + 1;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<PackedProfile> try_read_packed_fast(std::string_view json,
                                                  const FastReadOptions& options) {
  if (json.size() > max_text_size) return std::nullopt;
  const char* p = json.data();
  const char* const end = p + json.size();
  p = skip_space(p, end);
  if (p == end || *p != '{') return std::nullopt;
  p = skip_space(p + 1, end);

  static constexpr std::string_view names[] = {"version", "clock_hz", "steps", "tiles"};
  bool seen[4] = {};
  std::uint64_t clock_hz = 0;
  std::string_view steps_slice;
  TilesResult tiles;
  for (;;) {
    if (p == end || *p != '"') return std::nullopt;
    const char* name_end =
        static_cast<const char*>(std::memchr(p + 1, '"', static_cast<std::size_t>(end - p - 1)));
    if (name_end == nullptr) return std::nullopt;
    const std::string_view name(p + 1, static_cast<std::size_t>(name_end - p - 1));
    std::size_t field = 0;
    while (field < 4 && names[field] != name) ++field;
    if (field == 4 || seen[field]) return std::nullopt;
    seen[field] = true;
    p = skip_space(name_end + 1, end);
    if (p == end || *p != ':') return std::nullopt;
    p = skip_space(p + 1, end);
    if (p == end) return std::nullopt;
    switch (field) {
      case 0: {
        std::uint64_t version = 0;
        p = parse_integer(p, end, max_u32, version);
        if (p == nullptr || version != 1) return std::nullopt;
        break;
      }
      case 1:
        p = parse_integer(p, end, std::numeric_limits<std::uint64_t>::max(), clock_hz);
        if (p == nullptr) return std::nullopt;
        break;
      case 2: {
        if (*p != '[') return std::nullopt;
        const char* slice_end = find_array_end(p, end);
        if (slice_end == nullptr) return std::nullopt;
        steps_slice = std::string_view(p, static_cast<std::size_t>(slice_end - p));
        p = slice_end;
        break;
      }
      default:
        if (*p != '[') return std::nullopt;
        tiles = read_tiles(p, end, options);
        if (tiles.end == nullptr) return std::nullopt;
        p = tiles.end;
    }
    p = skip_space(p, end);
    if (p == end) return std::nullopt;
    if (*p == ',') {
      p = skip_space(p + 1, end);
      continue;
    }
    if (*p != '}') return std::nullopt;
    break;
  }
  if (!(seen[0] && seen[1] && seen[2] && seen[3])) return std::nullopt;
  if (skip_space(p + 1, end) != end) return std::nullopt;

  auto steps = read_steps_slice(steps_slice);
  if (!steps) return std::nullopt;
  if (tiles.any_sample && tiles.max_step >= steps->size()) return std::nullopt;
  return PackedProfile{
      .clock_hz = clock_hz, .steps = std::move(*steps), .tiles = std::move(tiles.tiles)};
}

}  // namespace zel_storage::detail
