// A compact binary form of a PartialQuery, so that partial results can travel between processes or
// machines (pickled by the Python module, sent over a network) and be merged there.
//
// The form is a format byte (4) and the fingerprint of the query that made the partial (8 bytes,
// little-endian), followed by unsigned LEB128 varints and length-prefixed strings, and ends with a
// checksum of everything before it (64-bit FNV-1a, 8 bytes little-endian), which every change of
// one byte alters.
// The partial's chips follow its totals, as the first chip and the number after it. Sorted
// sequences are stored as differences: tile ranges as the step from the previous range's chip,
// then the gap after the previous range of the same chip (or the first tile of a new chip) and
// their width, runs per (phase, epoch) as the gap after the previous run and their length, and
// lengths as the step from the previous length with their count; a finished group (a byte says
// which form a group takes) has its figures instead of runs and lengths. So a partial's bytes grow
// with its distinct values, like the partial itself, and a decoded partial keeps every ordering the
// engine relies on by construction.
//
// Only the query's fingerprint is encoded, not the query: whoever merges partials must give the
// query that made them, and merge and finish refuse a partial whose fingerprint is not that
// query's.
#pragma once

#include <string>
#include <string_view>

#include <zel_profile/partial.hpp>

namespace zel_profile {

// A fingerprint of everything in `query` that shapes a partial result: the grouping, the
// filters, the time, the profiles' names and the number of samples kept (not the order and limit,
// which finishing applies). Equal queries have equal fingerprints in every process and on every
// machine.
std::uint64_t query_fingerprint(const Query& query);

// Throws std::invalid_argument "partial result of another query ..." unless `partial` was made by
// `query` (or one with the same fingerprint).
void check_partial_query(const PartialQuery& partial, const Query& query);

// The partial's bytes. Throws std::invalid_argument when the partial breaks one of the orderings
// documented in <zel_profile/partial.hpp> (groups ascending by unique name; tiles, runs and lengths
// ascending, apart and non-empty) or a sample's kind is not one of the four words: every partial
// the engine makes encodes.
std::string encode(const PartialQuery& partial);

// The partial that `bytes` encode. The bytes may come from anywhere, so everything is checked:
// a checksum that does not match, malformed, truncated or trailing bytes, numbers outside their
// field's range, groups out of order, counts of more items than the bytes left could hold at the
// fewest bytes an item takes, and a partial no query could have made (more matched samples than
// samples, work cycles other than its lengths summed, more phase than work cycles, offsets that
// cannot hold its longest sample, ...) throw std::invalid_argument, so nothing is allocated
// beyond what the bytes themselves can describe and nothing impossible is finished.
// decode_partial(encode(p)) == p.
PartialQuery decode_partial(std::string_view bytes);

}  // namespace zel_profile
