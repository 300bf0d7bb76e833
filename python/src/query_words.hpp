// A query as Python callers give it: a dict of the engine's words and of numbers, converted with
// the engine's word lists so that the module and the command-line tool accept the same words.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>

namespace zel_python {

// The query and parallelism of `words`, a dict with the keys group_by, sort_by, kind, kernel,
// operation_contains, metadata_key (str or None), tiles, phases (lists of int), metadata (list of
// str), at, limit, samples and threads (int or None; threads None is every core) and window (None
// or a tuple of two ints or None, the first cycle and one past the last). The Python layer
// has checked the types. A bad word, a number out of range or a contradiction (group_by metadata
// without metadata_key) throws std::invalid_argument, which pybind11 raises as ValueError, with
// the tool's message under the keyword's name.
std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const pybind11::dict& words);

}  // namespace zel_python
