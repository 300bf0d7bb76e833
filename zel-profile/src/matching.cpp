#include <zel_profile/matching.hpp>

#include <limits>
#include <string>

#include "same_bytes.hpp"

namespace zel_profile {
namespace {

bool carries(const zel_package::ProfileStep& step, const MetadataFilter& filter) {
  for (const auto& entry : step.metadata) {
    if (detail::same_bytes(entry.name, filter.name) &&
        (!filter.value || detail::same_bytes(entry.value, *filter.value))) {
      return true;
    }
  }
  return false;
}

bool running_at(std::uint64_t at, std::uint64_t offset, std::uint32_t sample_duration) {
  if (at < offset) {
    return false;
  }
  constexpr auto largest = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t end = sample_duration > largest - offset ? largest : offset + sample_duration;
  return at < end;
}

}  // namespace

bool matches_query(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample,
                   std::uint64_t offset, std::uint32_t sample_duration) {
  const auto& step = sample.step;
  if (query.kind && *query.kind != kind_of(sample)) {
    return false;
  }
  if (query.kernel && !detail::same_bytes(*query.kernel, step.kernel)) {
    return false;
  }
  if (query.operation_contains &&
      step.operation.find(*query.operation_contains) == std::string::npos) {
    return false;
  }
  if (!query.tiles.empty() && !query.tiles.contains(tile)) {
    return false;
  }
  if (!query.phases.empty() && !query.phases.contains(step.phase)) {
    return false;
  }
  if (query.at_offset && !running_at(*query.at_offset, offset, sample_duration)) {
    return false;
  }
  for (const auto& filter : query.metadata) {
    if (!carries(step, filter)) {
      return false;
    }
  }
  return true;
}

GroupKey group_key(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample) {
  const auto& step = sample.step;
  GroupKey key;
  switch (query.group_by) {
    case GroupBy::Kind:
      key.name = kind_name(sample);
      break;
    case GroupBy::Kernel:
      key.name = step.kernel.empty() ? "(no kernel)" : step.kernel;
      break;
    case GroupBy::Operation:
      key.name = step.operation;
      break;
    case GroupBy::Phase: {
      auto phase = std::to_string(step.phase);
      auto epoch = std::to_string(step.epoch);
      key.name = "phase " + phase + "/" + epoch;
      key.dimensions.emplace("phase", std::move(phase));
      key.dimensions.emplace("epoch", std::move(epoch));
      break;
    }
    case GroupBy::Tile: {
      auto number = std::to_string(tile);
      key.name = "tile " + number;
      key.dimensions.emplace("physicalTile", std::move(number));
      break;
    }
    case GroupBy::Metadata: {
      const std::string metadata_key = query.metadata_key.value_or(std::string{});
      std::string value = "(missing)";
      for (const auto& entry : step.metadata) {
        if (entry.name == metadata_key) {
          value = entry.value;
          break;
        }
      }
      key.name = value;
      key.dimensions.emplace("metadataKey", metadata_key);
      key.dimensions.emplace("metadataValue", std::move(value));
      break;
    }
  }
  return key;
}

std::string_view kind_name(const zel_package::CycleSample& sample) {
  switch (kind_of(sample)) {
    case StepKind::Exchange:
      return "exchange";
    case StepKind::Compute:
      return "compute";
    case StepKind::Synchronization:
      return "synchronization";
    case StepKind::Idle:
      return "idle";
  }
  // A byte outside the four defined kinds still gets a defined, recognisable name.
  return "unknown";
}

}  // namespace zel_profile
