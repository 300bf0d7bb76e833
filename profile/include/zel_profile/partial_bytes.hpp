// A compact binary form of a PartialQuery, so that partial results can travel between processes or
// machines (pickled by the Python module, sent over a network) and be merged there.
//
// The form is a format byte (1) followed by unsigned LEB128 varints and length-prefixed strings.
// Sorted sequences are stored as differences: tile ranges as the gap after the previous range and
// their width, runs per (phase, epoch) as the gap after the previous run and their length, and
// lengths as the step from the previous length with their count. So a partial's bytes grow with its
// distinct values, like the partial itself, and a decoded partial keeps every ordering the engine
// relies on by construction.
//
// Only the partial is encoded, not the query it came from: whoever merges partials must use the
// query that made them.
#pragma once

#include <string>
#include <string_view>

#include <zel_profile/partial.hpp>

namespace zel_profile {

// The partial's bytes. Throws std::invalid_argument when the partial breaks one of the orderings
// documented in <zel_profile/partial.hpp> (groups ascending by unique name; tiles, runs and lengths
// ascending, apart and non-empty) or a sample's kind is not one of the four words: every partial
// the engine makes encodes.
std::string encode(const PartialQuery& partial);

// The partial that `bytes` encode. The bytes may come from anywhere, so everything is checked:
// malformed, truncated or trailing bytes, numbers outside their field's range, groups out of order
// and counts larger than the bytes could hold throw std::invalid_argument, and nothing is allocated
// beyond what the bytes themselves can describe. decode_partial(encode(p)) == p.
PartialQuery decode_partial(std::string_view bytes);

}  // namespace zel_profile
