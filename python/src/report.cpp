// The report records as read-only Python classes, their attributes named and ordered as the C++
// fields (and so as the JSON report's keys). Each class lists its field names in `fields`, from
// the report's one description of its fields (<zel_report/fields.hpp>).
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <span>
#include <string>
#include <vector>

#include <zel_profile/model.hpp>
#include <zel_report/fields.hpp>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

// A repr naming the class and its scalar fields, enough to recognise an object at a prompt.
template <typename Record>
std::string repr_of(const Record& record, const char* type, const py::tuple& fields) {
  std::string text = std::string("zel_profile.") + type + "(";
  const py::object self = py::cast(record);
  bool first = true;
  for (const auto& field : fields) {
    const py::object value = self.attr(field);
    if (py::isinstance<py::list>(value) || py::isinstance<py::dict>(value)) continue;
    text +=
        (first ? "" : ", ") + field.cast<std::string>() + "=" + py::repr(value).cast<std::string>();
    first = false;
  }
  return text + ")";
}

// Lists the record's fields as the report's field table names them, and gives the class == and a
// repr.
template <typename Record, typename Described>
void finish_class(py::class_<Record>& type, const char* name,
                  std::span<const zel_report::Field<Described>> described) {
  py::list names;
  for (const auto& field : described) names.append(py::str(field.name.data(), field.name.size()));
  const py::tuple fields(names);
  type.attr("fields") = fields;
  type.def(py::self == py::self);
  type.def("__repr__",
           [name, fields](const Record& record) { return repr_of(record, name, fields); });
}

using zel_profile::GroupSummary;
using zel_profile::MetadataEntry;
using zel_profile::QueryReport;
using zel_profile::ReportedSamples;
using zel_profile::SampleRecord;

void bind_samples(py::module_& module) {
  py::class_<MetadataEntry> entry(module, "MetadataEntry",
                                  "One metadata pair of a reported sample.");
  entry.def_readonly("name", &MetadataEntry::name).def_readonly("value", &MetadataEntry::value);
  finish_class(entry, "MetadataEntry", zel_report::metadata_entry_fields());

  py::class_<SampleRecord> sample(module, "SampleRecord",
                                  "One reported sample: tile, normalised offset and length in "
                                  "cycles, phase and epoch, and its step's kind, names and "
                                  "metadata.");
  sample.def_readonly("physical_tile", &SampleRecord::physical_tile)
      .def_readonly("offset", &SampleRecord::offset)
      .def_readonly("duration", &SampleRecord::duration)
      .def_readonly("phase", &SampleRecord::phase)
      .def_readonly("epoch", &SampleRecord::epoch)
      .def_readonly("kind", &SampleRecord::kind)
      .def_readonly("operation", &SampleRecord::operation)
      .def_readonly("kernel", &SampleRecord::kernel)
      .def_readonly("metadata", &SampleRecord::metadata);
  finish_class(sample, "SampleRecord", zel_report::sample_fields());

  py::class_<ReportedSamples> list(
      module, "ReportedSamples",
      "A report's samples, longest first, as a read-only sequence of SampleRecord: each record is "
      "made when it is read, so that a report of millions of samples costs a few numbers a "
      "sample. samples_frame() turns the whole list into columns without making records.");
  list.def("__len__", &ReportedSamples::size)
      .def("__bool__", [](const ReportedSamples& samples) { return !samples.empty(); })
      .def("__getitem__",
           [](const ReportedSamples& samples, py::ssize_t i) {
             const auto size = static_cast<py::ssize_t>(samples.size());
             if (i < 0) i += size;
             if (i < 0 || i >= size) throw py::index_error("sample index out of range");
             return SampleRecord(samples[static_cast<std::size_t>(i)]);
           })
      .def("__getitem__",
           [](const ReportedSamples& samples, const py::slice& slice) {
             std::size_t start = 0;
             std::size_t stop = 0;
             std::size_t step = 0;
             std::size_t length = 0;
             if (!slice.compute(samples.size(), &start, &stop, &step, &length)) {
               throw py::error_already_set();
             }
             std::vector<SampleRecord> records;
             records.reserve(length);
             for (std::size_t i = 0; i < length; ++i) records.push_back(samples[start + i * step]);
             return records;
           })
      .def(
          "__iter__",
          [](const ReportedSamples& samples) {
            return py::make_iterator<py::return_value_policy::move>(samples.begin(), samples.end());
          },
          py::keep_alive<0, 1>())
      .def("__eq__",
           [](const ReportedSamples& samples, const py::object& other) -> py::object {
             if (py::isinstance<ReportedSamples>(other)) {
               return py::bool_(samples == other.cast<const ReportedSamples&>());
             }
             if (!py::isinstance<py::sequence>(other) || py::isinstance<py::str>(other)) {
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             }
             const auto sequence = other.cast<py::sequence>();
             if (sequence.size() != samples.size()) return py::bool_(false);
             for (std::size_t i = 0; i < samples.size(); ++i) {
               const py::object item = sequence[i];
               if (!py::isinstance<SampleRecord>(item) ||
                   !(item.cast<const SampleRecord&>() == samples[i])) {
                 return py::bool_(false);
               }
             }
             return py::bool_(true);
           })
      .def("__repr__", [](const ReportedSamples& samples) {
        return "zel_profile.ReportedSamples(" + std::to_string(samples.size()) + " samples)";
      });
}

void bind_groups(py::module_& module) {
  py::class_<GroupSummary> group(module, "GroupSummary", "The statistics of one group.");
  group.def_readonly("name", &GroupSummary::name)
      .def_readonly("dimensions", &GroupSummary::dimensions)
      .def_readonly("sample_count", &GroupSummary::sample_count)
      .def_readonly("tile_count", &GroupSummary::tile_count)
      .def_readonly("phase_count", &GroupSummary::phase_count)
      .def_readonly("phase_cycles", &GroupSummary::phase_cycles)
      .def_readonly("phase_ms", &GroupSummary::phase_ms)
      .def_readonly("work_cycles", &GroupSummary::work_cycles)
      .def_readonly("average_active_tiles", &GroupSummary::average_active_tiles)
      .def_readonly("mean_cycles", &GroupSummary::mean_cycles)
      .def_readonly("p50_cycles", &GroupSummary::p50_cycles)
      .def_readonly("p95_cycles", &GroupSummary::p95_cycles)
      .def_readonly("maximum_cycles", &GroupSummary::maximum_cycles)
      .def_readonly("first_offset", &GroupSummary::first_offset)
      .def_readonly("last_offset", &GroupSummary::last_offset);
  finish_class(group, "GroupSummary", zel_report::group_fields());
}

void bind_query_report(py::module_& module) {
  py::class_<QueryReport> report(module, "QueryReport", py::dynamic_attr(),
                                 "The result of one query: profile counts and span, the groups "
                                 "in order and the longest samples.");
  // The lists are converted once, on first use, and kept on the object: a loop over
  // report.samples[i] must not convert every sample each time.
  const auto cached = [](const char* name, auto member) {
    return [name, member](const py::object& self) {
      const py::dict kept = self.attr("__dict__");
      if (!kept.contains(name)) kept[name] = py::cast(self.cast<const QueryReport&>().*member);
      return kept[name];
    };
  };
  report.def_readonly("clock_hz", &QueryReport::clock_hz)
      .def_readonly("tile_count", &QueryReport::tile_count)
      .def_readonly("sample_count", &QueryReport::sample_count)
      .def_readonly("matched_sample_count", &QueryReport::matched_sample_count)
      .def_readonly("profile_span_cycles", &QueryReport::profile_span_cycles)
      .def_readonly("profile_span_ms", &QueryReport::profile_span_ms)
      .def_readonly("at_offset", &QueryReport::at_offset)
      .def_readonly("from_offset", &QueryReport::from_offset)
      .def_readonly("to_offset", &QueryReport::to_offset)
      .def_readonly("total_phase_cycles", &QueryReport::total_phase_cycles)
      .def_property_readonly("groups", cached("_groups", &QueryReport::groups))
      // The samples are read where they lie, in the report, which the list keeps alive.
      .def_property_readonly("samples", [](const py::object& self) {
        return py::cast(&self.cast<const QueryReport&>().samples,
                        py::return_value_policy::reference_internal, self);
      });
  finish_class(report, "QueryReport", zel_report::report_fields());
}

}  // namespace

void bind_report(py::module_& module) {
  bind_samples(module);
  bind_groups(module);
  bind_query_report(module);
}

}  // namespace zel_python
