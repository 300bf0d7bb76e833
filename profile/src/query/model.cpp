#include <zel_profile/model.hpp>

namespace zel_profile {

StepKind kind_of(const zel_package::CycleSample& sample) {
  // The two enumerations share their values, so the mapping is value for value.
  return static_cast<StepKind>(static_cast<std::uint8_t>(sample.step.kind));
}

std::uint32_t duration(const zel_package::CycleSample& sample) {
  // Unsigned 32-bit subtraction wraps modulo 2^32, which absorbs a counter wrap inside the sample.
  return static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
}

}  // namespace zel_profile
