#include "profile_partials.hpp"

#include <stdexcept>
#include <utility>

#include <zel_profile/query.hpp>

namespace zel_python {

zel_profile::PartialQuery merge_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query) {
  if (partials.empty()) throw std::invalid_argument("no partial results to merge");
  zel_profile::PartialQuery merged = std::move(partials.front());
  for (std::size_t i = 1; i < partials.size(); ++i) {
    merged = zel_profile::merge(std::move(merged), std::move(partials[i]), query);
  }
  return merged;
}

zel_profile::QueryReport finish_in_order(std::vector<zel_profile::PartialQuery> partials,
                                         const zel_profile::Query& query) {
  return zel_profile::finish(merge_in_order(std::move(partials), query), query);
}

}  // namespace zel_python
