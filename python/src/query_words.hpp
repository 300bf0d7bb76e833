// A query as Python callers give it: a dict of keywords, read by the query's one parser
// (<zel_request/parameters.hpp>) so that the module and the command-line tool accept the same
// words.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>

namespace zel_python {

// The query and parallelism of `words`, a dict from the keywords of query_keywords() (and
// threads, an int, None for every core, and profile_names, a list of str) to their values: str,
// int, bool, a list of them for a repeatable one, and for window a tuple of two ints or None (the
// first cycle and one past the last). None is absent. The Python layer has checked the types. A
// bad word, a number out of range or a contradiction (group_by metadata without metadata_key)
// throws zel_request::RequestError, which pybind11 raises as ValueError, with the tool's message
// under the keyword's name.
std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const pybind11::dict& words);

// The query's keywords from the table of its parameters: (keyword, kind, repeatable), the kind a
// word of zel_request::kind_word, or "pair" for window.
std::vector<std::tuple<std::string, std::string, bool>> query_keywords();

}  // namespace zel_python
