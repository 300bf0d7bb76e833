// Partial results merged in order, for queries over several profiles and over files read on
// other machines.
#pragma once

#include <cstddef>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>

namespace zel_python {

// Partials over consecutive parts of the tiles, merged in the order given. Throws
// std::invalid_argument for no partials or different clock rates.
zel_profile::PartialQuery merge_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query);

// The report of partials over consecutive parts of the tiles, merged in the order given. Throws
// std::invalid_argument for no partials or different clock rates.
zel_profile::QueryReport finish_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query);

}  // namespace zel_python
