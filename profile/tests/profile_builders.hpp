// Small helpers that build profile records for the engine's tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <zel_package/records.hpp>

namespace zel_profile::testing {

struct StepFields {
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  zel_package::ProfileStepKind kind = zel_package::ProfileStepKind::Compute;
  std::string kernel = "add";
  std::string operation = "op";
  std::vector<zel_package::ProfileMetadata> metadata = {};
};

inline zel_package::CycleSample make_sample(std::uint32_t start, std::uint32_t end,
                                            StepFields fields = {}) {
  return zel_package::CycleSample{
      .step = zel_package::ProfileStep{.local_index = 0,
                                       .phase = fields.phase,
                                       .epoch = fields.epoch,
                                       .operation = std::move(fields.operation),
                                       .kind = fields.kind,
                                       .kernel = std::move(fields.kernel),
                                       .metadata = std::move(fields.metadata)},
      .start_cycle = start,
      .end_cycle = end,
  };
}

}  // namespace zel_profile::testing
