// Asks the processor to start loading, a few samples ahead, the texts that matching and grouping
// will read from a sample: kernel, operation and metadata live in the heap, outside the sample
// itself, and on large profiles waiting for them costs more than the work done with them.
#pragma once

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile::detail {

class SamplePrefetch {
 public:
  explicit SamplePrefetch(const Query& query)
      : kernel_(query.group_by == GroupBy::Kernel || query.kernel.has_value()),
        operation_(query.group_by == GroupBy::Operation || query.operation_contains.has_value()),
        metadata_(query.group_by == GroupBy::Metadata || !query.metadata.empty()) {}

  void operator()(const zel_package::CycleSample& sample) const {
#if defined(__GNUC__)
    const auto& step = sample.step;
    if (kernel_) {
      __builtin_prefetch(step.kernel.data());
    }
    if (operation_) {
      __builtin_prefetch(step.operation.data());
    }
    if (metadata_) {
      // The first entry, name and value, may straddle two cache lines.
      const char* entries = reinterpret_cast<const char*>(step.metadata.data());
      __builtin_prefetch(entries);
      __builtin_prefetch(entries + sizeof(zel_package::ProfileMetadata) - 1);
    }
#else
    (void)sample;
#endif
  }

 private:
  bool kernel_;
  bool operation_;
  bool metadata_;
};

}  // namespace zel_profile::detail
