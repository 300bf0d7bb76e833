// Sharing work out to threads: cutting a range into parts of about equal weight, and running the
// parts on threads that have all ended when the call returns.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace zel_profile::detail {

// Runs work(0) .. work(count - 1), each on its own thread but the first, which runs on the
// caller's. Every thread has ended when it returns; then the first exception thrown, in order of
// the work, is thrown again.
template <typename Work>
void run_parallel(std::size_t count, const Work& work) {
  if (count == 1) {
    work(0);
    return;
  }
  std::vector<std::exception_ptr> errors(count);
  {
    // Joined when the block ends, also when starting a thread fails part way.
    std::vector<std::jthread> workers;
    workers.reserve(count - 1);
    const auto guarded = [&](std::size_t part) {
      try {
        work(part);
      } catch (...) {
        errors[part] = std::current_exception();
      }
    };
    for (std::size_t part = 1; part < count; ++part) workers.emplace_back(guarded, part);
    guarded(0);
  }
  for (const auto& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

// first .. end cut into at most `parts` consecutive ranges of about equal weight (weight(i) of
// each item, at least 1); the result holds the bounds, from first to end.
template <typename Weight>
std::vector<std::size_t> cut(std::size_t first, std::size_t end, std::size_t parts,
                             const Weight& weight) {
  std::size_t total = 0;
  for (std::size_t i = first; i < end; ++i) total += std::max<std::size_t>(weight(i), 1);
  std::vector<std::size_t> bounds{first};
  std::size_t done = 0;
  for (std::size_t i = first; i < end; ++i) {
    done += std::max<std::size_t>(weight(i), 1);
    if (bounds.size() < parts && i + 1 < end && done * parts >= total * bounds.size()) {
      bounds.push_back(i + 1);
    }
  }
  bounds.push_back(end);
  return bounds;
}

}  // namespace zel_profile::detail
