#include "profile_partials.hpp"

#include <algorithm>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>

#include <zel_profile/query.hpp>

namespace zel_python {

zel_profile::PartialQuery partial_of(const zel_package::PackedProfile& profile,
                                     const zel_profile::Query& query, std::size_t threads,
                                     std::uint32_t chip) {
  threads = zel_profile::thread_count({.threads = threads});
  const std::size_t tiles = profile.tiles.size();
  threads = std::max<std::size_t>(1, std::min(threads, tiles));
  if (threads == 1) return zel_profile::partial_query(profile, query, 0, tiles, chip);

  // Share boundaries where the running sample count passes each thread's even share.
  const std::size_t samples = zel_package::sample_count(profile);
  std::vector<std::size_t> ends;
  std::size_t seen = 0;
  for (std::size_t t = 0; t < tiles && ends.size() + 1 < threads; ++t) {
    seen += profile.tiles[t].samples.size();
    if (seen * threads >= samples * (ends.size() + 1)) ends.push_back(t + 1);
  }
  ends.push_back(tiles);

  std::vector<std::future<zel_profile::PartialQuery>> shares;
  std::size_t first = 0;
  for (const std::size_t end : ends) {
    shares.push_back(std::async(std::launch::async, [&profile, &query, first, end, chip] {
      return zel_profile::partial_query(profile, query, first, end, chip);
    }));
    first = end;
  }
  // Every share is collected before anything is rethrown, so no thread outlives the call.
  std::vector<zel_profile::PartialQuery> partials;
  std::exception_ptr failure;
  for (auto& share : shares) {
    try {
      partials.push_back(share.get());
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
  return merge_in_order(std::move(partials), query);
}

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
