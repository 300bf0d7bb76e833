#include <zel_profile/validate.hpp>

namespace zel_profile {

std::optional<QueryFault> validate(const Query& query) {
  const bool by_metadata = query.group_by == GroupBy::Metadata;
  if (by_metadata && !query.metadata_key) return QueryFault::MetadataKeyMissing;
  if (!by_metadata && query.metadata_key) return QueryFault::MetadataKeyUnused;
  if (query.from_offset && query.to_offset && *query.from_offset >= *query.to_offset) {
    return QueryFault::EmptyWindow;
  }
  if (query.clip && !query.from_offset && !query.to_offset) return QueryFault::ClipWithoutWindow;
  return std::nullopt;
}

}  // namespace zel_profile
