// The parts of the zel_profile Python module, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zel_python {

// The bytes of a file name given as open() takes it (str, bytes or os.PathLike): a str as the
// file system encodes names, so a name os.listdir returned (surrogate-escaped or bytes) names the
// same file. Raises TypeError for another type and ValueError for a NUL byte, as open() does.
std::string file_path(const pybind11::handle& path);

// A file name as Python shows it (os.fsdecode): bytes that are not UTF-8 as surrogate escapes.
pybind11::str file_name_text(const std::string& name);

// A message that may quote such a name, with bytes that are not UTF-8 written as \xNN.
pybind11::str message_text(const std::string& message);

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

// The timeline and the load balance as columns, as the explorer computes them.
void bind_views(pybind11::module_& module);

// What profiles hold (Profile.info()), and the warnings about filters on names they lack.
void bind_profile_info(pybind11::module_& module);

// Pickling with protocols 0 and 1 for the classes above: as with the newer ones, or TypeError.
void bind_pickling(pybind11::module_& module);

}  // namespace zel_python
