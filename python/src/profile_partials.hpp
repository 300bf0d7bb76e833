// Partial results of whole profiles, for queries over several profiles and over files read on
// other machines.
#pragma once

#include <cstddef>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>

namespace zel_python {

// The partial result of all of `profile`'s tiles on up to `threads` threads (0: every core), each
// computing a consecutive share of the tiles with about as many samples as the others; the shares
// are merged in tile order, so the result is the same for every number of threads. The profile is
// chip `chip` of those queried together (see zel_profile::partial_query).
zel_profile::PartialQuery partial_of(const zel_package::PackedProfile& profile,
                                     const zel_profile::Query& query, std::size_t threads,
                                     std::uint32_t chip = 0);

// Partials over consecutive parts of the tiles, merged in the order given. Throws
// std::invalid_argument for no partials or different clock rates.
zel_profile::PartialQuery merge_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query);

// The report of partials over consecutive parts of the tiles, merged in the order given. Throws
// std::invalid_argument for no partials or different clock rates.
zel_profile::QueryReport finish_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query);

}  // namespace zel_python
