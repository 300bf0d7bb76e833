// The parts of the zel_profile Python module, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

namespace zel_python {

// ProfileReadError and the translation of the C++ errors that callers can cause.
void bind_errors(pybind11::module_& module);

// QueryReport, GroupSummary, SampleRecord and MetadataEntry, read-only, with their C++ field names.
void bind_report(pybind11::module_& module);

// Profile, read and query.
void bind_queries(pybind11::module_& module);

// PartialQuery (picklable), partial results of profiles and files, and finishing them (also into
// a report's bytes, read back by report_from_bytes).
void bind_partials(pybind11::module_& module);

// The report's groups and samples as typed columns, from which the Python front builds frames.
void bind_frames(pybind11::module_& module);

// What profiles hold (Profile.info()), and the warnings about filters on names they lack.
void bind_profile_info(pybind11::module_& module);

// Pickling with protocols 0 and 1 for the classes above: as with the newer ones, or TypeError.
void bind_pickling(pybind11::module_& module);

}  // namespace zel_python
