// A plain, step-by-step implementation of a query that keeps every intermediate record the obvious
// way. It is the oracle against which the optimised engine is compared.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>

#include <zel_profile/model.hpp>

namespace zel_profile::reference {

QueryReport query(const zel_package::ProfileReport& report, const Query& query);

// Several profiles queried as one, each a chip: a tile is a (chip, physical tile) pair.
QueryReport query(std::span<const zel_package::ProfileReport> chips, const Query& query);

// True when the sample of the tile numbered `tile`, at normalised `offset`, passes every filter.
bool passes(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample,
            std::uint64_t offset);

// The interval a sample that passes counts, at normalised `offset` with `length` cycles: the whole
// sample or, with Query::clip, its part inside the window.
Interval counted_part(const Query& query, std::uint64_t offset, std::uint32_t length);

// The group name and dimensions of a sample of `step` on the tile numbered `tile` of chip `chip`
// among `chips` profiles queried together.
std::pair<std::string, std::map<std::string, std::string>> key_of(
    const Query& query, std::uint32_t tile, const zel_package::ProfileStep& step,
    std::uint32_t chip = 0, std::size_t chips = 1);

}  // namespace zel_profile::reference
