// The samples a query reports: each a few numbers and the place of its step in a table that holds
// every step of the list once, so that a million reported samples cost a million small records
// and their few thousand distinct steps, not a million copies of step names and metadata.
//
// SampleRecord is the self-contained form of one of them, as a caller reads it:
//   for (const SampleRecord& sample : report.samples) ...   // each made as it is read
//   const SampleRecord third = report.samples[2];
// Writers that go through many read the compact form instead: samples() and steps().
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace zel_profile {

// One copied metadata pair of a reported sample.
struct MetadataEntry {
  std::string name;
  std::string value;

  bool operator==(const MetadataEntry&) const = default;
};

// One reported sample: a self-contained copy, independent of the profile.
struct SampleRecord {
  std::uint32_t physical_tile = 0;
  std::uint64_t offset = 0;  // normalised start
  std::uint32_t duration = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string kind;  // "exchange", "compute", "synchronization" or "idle"
  std::string operation;
  std::string kernel;                   // empty when the step has no kernel
  std::vector<MetadataEntry> metadata;  // every entry of the step, in the step's order

  bool operator==(const SampleRecord&) const = default;
};

// The step of one or more reported samples: the fields of SampleRecord that come from the step.
struct SampleStep {
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string kind;
  std::string operation;
  std::string kernel;
  std::vector<MetadataEntry> metadata;

  bool operator==(const SampleStep&) const = default;
};

// One reported sample in compact form: its own numbers and its step's place in the list's table.
struct ReportedSample {
  std::uint64_t offset = 0;  // normalised start
  std::uint32_t physical_tile = 0;
  std::uint32_t duration = 0;
  std::uint32_t step = 0;  // index into ReportedSamples::steps()

  bool operator==(const ReportedSample&) const = default;
};

// The record of `sample` of step `step`.
SampleRecord sample_record(const ReportedSample& sample, const SampleStep& step);

// The step part of a record.
SampleStep sample_step(const SampleRecord& record);

// A list of reported samples, longest first, and the table of their steps.
class ReportedSamples {
 public:
  // Reads the list as records, each made when it is read.
  class iterator {
   public:
    using iterator_concept = std::random_access_iterator_tag;
    using iterator_category = std::input_iterator_tag;
    using value_type = SampleRecord;
    using difference_type = std::ptrdiff_t;
    using reference = const SampleRecord;
    using pointer = void;

    iterator() = default;
    iterator(const ReportedSamples* list, std::size_t at) : list_(list), at_(at) {}

    const SampleRecord operator*() const { return (*list_)[at_]; }
    const SampleRecord operator[](difference_type n) const {
      return (*list_)[at_ + static_cast<std::size_t>(n)];
    }
    iterator& operator++() { return ++at_, *this; }
    iterator operator++(int) { return {list_, at_++}; }
    iterator& operator--() { return --at_, *this; }
    iterator operator--(int) { return {list_, at_--}; }
    iterator& operator+=(difference_type n) { return at_ += static_cast<std::size_t>(n), *this; }
    iterator& operator-=(difference_type n) { return at_ -= static_cast<std::size_t>(n), *this; }
    friend iterator operator+(iterator it, difference_type n) { return it += n; }
    friend iterator operator+(difference_type n, iterator it) { return it += n; }
    friend iterator operator-(iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const iterator& left, const iterator& right) {
      return static_cast<difference_type>(left.at_) - static_cast<difference_type>(right.at_);
    }
    friend bool operator==(const iterator& left, const iterator& right) {
      return left.at_ == right.at_;
    }
    friend auto operator<=>(const iterator& left, const iterator& right) {
      return left.at_ <=> right.at_;
    }

   private:
    const ReportedSamples* list_ = nullptr;
    std::size_t at_ = 0;
  };
  using const_iterator = iterator;
  using value_type = SampleRecord;
  using size_type = std::size_t;

  ReportedSamples() = default;
  // The records as a list, each distinct step once in the table, in order of first use.
  ReportedSamples(const std::vector<SampleRecord>& records);  // NOLINT: a list of records is one
  ReportedSamples(std::initializer_list<SampleRecord> records)
      : ReportedSamples(std::vector<SampleRecord>(records)) {}
  // Throws std::invalid_argument when a sample's step is not in `steps`.
  ReportedSamples(std::vector<ReportedSample> samples, std::vector<SampleStep> steps);

  std::size_t size() const { return samples_.size(); }
  bool empty() const { return samples_.empty(); }
  // The i-th sample as a record (i below size()).
  const SampleRecord operator[](std::size_t i) const {
    return sample_record(samples_[i], steps_[samples_[i].step]);
  }
  // As [], std::out_of_range for i at or past size().
  const SampleRecord at(std::size_t i) const;
  iterator begin() const { return {this, 0}; }
  iterator end() const { return {this, samples_.size()}; }
  // Every sample as a record.
  std::vector<SampleRecord> records() const;
  // Adds a record at the end, its step shared with an equal one of the table. For short lists
  // made by hand: it looks through the table.
  void push_back(const SampleRecord& record);

  std::span<const ReportedSample> samples() const { return samples_; }
  std::span<const SampleStep> steps() const { return steps_; }
  const SampleStep& step_of(const ReportedSample& sample) const { return steps_[sample.step]; }

  // Equal when they hold the same records in the same order, however their tables are laid out.
  friend bool operator==(const ReportedSamples& left, const ReportedSamples& right);

 private:
  std::vector<ReportedSample> samples_;
  std::vector<SampleStep> steps_;
};

}  // namespace zel_profile
