// A query as Python callers give it: a dict of the command-line tool's words, converted by the
// tool's own functions so that the two front ends accept exactly the same words.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>

namespace zel_python {

// The query and parallelism of `words`, a dict with the keys group_by, sort_by, kind, kernel,
// operation_contains, tiles, phases, metadata, metadata_key, at, limit, samples and threads:
// strings, lists of strings, or None for an absent option. A bad word or number throws
// zel_cli::UsageError, which the module raises as ValueError.
std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const pybind11::dict& words);

// The tool's message with its option names (--group-by, --tile) as the Python keywords
// (group_by, tiles).
std::string with_keyword_names(const std::string& message);

}  // namespace zel_python
