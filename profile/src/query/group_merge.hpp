// Joining the totals of one group gathered from two sets of samples.
#pragma once

#include <zel_profile/partial.hpp>

namespace zel_profile::detail {

// The group over the samples of both: tiles and runs joined, sums added, length counts summed.
// The order of the two does not matter.
PartialGroup merge_group(PartialGroup left, const PartialGroup& right);

}  // namespace zel_profile::detail
