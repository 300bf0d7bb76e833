// The checks a query must pass before it is run: the query's fields that contradict each other.
// Every front end (the tool, the explorer, the Python module) refuses such a query in its own
// words before it reads a profile; the engine itself runs any query.
#pragma once

#include <cstdint>
#include <optional>

#include <zel_profile/model.hpp>

namespace zel_profile {

// What is wrong with a query.
enum class QueryFault : std::uint8_t {
  MetadataKeyMissing,  // grouped by metadata without a metadata_key
  MetadataKeyUnused,   // a metadata_key without grouping by metadata
  EmptyWindow,         // from_offset not below to_offset: the window holds no cycle
};

// The first fault of `query`, in the order above, or std::nullopt for a query that may run.
std::optional<QueryFault> validate(const Query& query);

}  // namespace zel_profile
