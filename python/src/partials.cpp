// Partial results in Python: computed from a profile or straight from a file (as a worker of a
// cluster does), pickled through their compact binary form, and merged into a report.
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zel_profile/partial_bytes.hpp>
#include <zel_profile/report_bytes.hpp>
#include <zel_storage/storage.hpp>

#include "bindings.hpp"
#include "query_words.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using zel_profile::PartialQuery;

// `chip`: the profile's place, from 0, among the profiles queried together.
PartialQuery partial_of_profile(const zel_package::PackedProfile& profile, const py::dict& words,
                                std::uint32_t chip) {
  const auto [query, parallelism] = to_query(words);
  py::gil_scoped_release unlocked;
  return zel_profile::partial_query(profile, query, parallelism, chip);
}

PartialQuery partial_of_file(const py::object& name, const py::dict& words, std::uint32_t chip) {
  const auto path = file_path(name);
  const auto [query, parallelism] = to_query(words);
  py::gil_scoped_release unlocked;
  return zel_profile::partial_query(zel_storage::read_packed_profile_file(path), query, parallelism,
                                    chip);
}

PartialQuery merge(std::vector<PartialQuery> partials, const py::dict& words) {
  const auto [query, parallelism] = to_query(words);
  py::gil_scoped_release unlocked;
  return zel_profile::merge_in_order(std::move(partials), query);
}

zel_profile::QueryReport finish(std::vector<PartialQuery> partials, const py::dict& words) {
  const auto [query, parallelism] = to_query(words);
  py::gil_scoped_release unlocked;
  return zel_profile::finish(zel_profile::merge_in_order(std::move(partials), query), query);
}

// A cluster's tasks hand partials on as their bytes, which take a fraction of a decoded partial's
// memory (a fifth grouped by phase) while they wait on a worker for the task that merges them.

// The views of `datas`, which must outlive them, taken while the interpreter is locked.
std::vector<std::string_view> views_of(const std::vector<py::bytes>& datas) {
  std::vector<std::string_view> views;
  views.reserve(datas.size());
  for (const py::bytes& data : datas) views.push_back(static_cast<std::string_view>(data));
  return views;
}

// The partials whose bytes are `datas`, merged in order, each decoded only when its turn comes.
PartialQuery merge_decoded(const std::vector<std::string_view>& datas,
                           const zel_profile::Query& query) {
  if (datas.empty()) throw std::invalid_argument("no partial results to merge");
  PartialQuery merged = zel_profile::decode_partial(datas.front());
  for (std::size_t i = 1; i < datas.size(); ++i) {
    merged = zel_profile::merge(std::move(merged), zel_profile::decode_partial(datas[i]), query);
  }
  return merged;
}

// The bytes `make()` gives, made with the interpreter unlocked.
template <typename Make>
py::bytes bytes_made_unlocked(const Make& make) {
  std::string bytes;
  {
    py::gil_scoped_release unlocked;
    bytes = make();
  }
  return py::bytes(bytes);
}

py::bytes partial_bytes_of_file(const py::object& name, const py::dict& words, std::uint32_t chip) {
  const auto path = file_path(name);
  const auto [query, parallelism] = to_query(words);
  return bytes_made_unlocked([&, &query = query, &parallelism = parallelism] {
    return zel_profile::encode(zel_profile::partial_query(
        zel_storage::read_packed_profile_file(path), query, parallelism, chip));
  });
}

py::bytes merged_bytes(const std::vector<py::bytes>& datas, const py::dict& words) {
  const zel_profile::Query query = to_query(words).first;
  const auto views = views_of(datas);
  return bytes_made_unlocked([&] { return zel_profile::encode(merge_decoded(views, query)); });
}

// The report of partials' bytes as bytes: what a cluster's worker sends when it finishes the
// query.
py::bytes finished_bytes(const std::vector<py::bytes>& datas, const py::dict& words) {
  const zel_profile::Query query = to_query(words).first;
  const auto views = views_of(datas);
  return bytes_made_unlocked(
      [&] { return zel_profile::encode(zel_profile::finish(merge_decoded(views, query), query)); });
}

zel_profile::QueryReport report_from_bytes(const py::bytes& bytes) {
  return zel_profile::decode_report(static_cast<std::string_view>(bytes));
}

}  // namespace

void bind_partials(py::module_& module) {
  py::class_<PartialQuery>(
      module, "PartialQuery",
      "A query's result over some profiles, before it is finished into a report; merges with the "
      "partials of the profiles that follow. Pickles compactly, so it can travel between "
      "processes.")
      .def(py::init([](const py::bytes& bytes) {
             return zel_profile::decode_partial(static_cast<std::string_view>(bytes));
           }),
           py::arg("data"), "The partial whose bytes (to_bytes()) are `data`.")
      .def_readonly("clock_hz", &PartialQuery::clock_hz)
      .def_readonly("tile_count", &PartialQuery::tile_count)
      .def_readonly("sample_count", &PartialQuery::sample_count)
      .def_readonly("matched_sample_count", &PartialQuery::matched_sample_count)
      .def_readonly("first_chip", &PartialQuery::first_chip)
      .def_readonly("last_chip", &PartialQuery::last_chip)
      .def_property_readonly("group_count",
                             [](const PartialQuery& partial) { return partial.groups.size(); })
      .def(py::self == py::self)
      .def("to_bytes",
           [](const PartialQuery& partial) { return py::bytes(zel_profile::encode(partial)); })
      .def_static("from_bytes",
                  [](const py::bytes& bytes) {
                    return zel_profile::decode_partial(static_cast<std::string_view>(bytes));
                  })
      .def(py::pickle(
          [](const PartialQuery& partial) {
            return py::make_tuple(py::bytes(zel_profile::encode(partial)));
          },
          [](const py::tuple& state) {
            if (state.size() != 1) throw std::invalid_argument("malformed partial result state");
            return zel_profile::decode_partial(
                static_cast<std::string_view>(state[0].cast<py::bytes>()));
          }));

  module.def("partial_of_profile", &partial_of_profile, py::arg("profile"), py::arg("words"),
             py::arg("chip") = 0);
  module.def("partial_of_file", &partial_of_file, py::arg("path"), py::arg("words"),
             py::arg("chip") = 0);
  module.def("merge", &merge, py::arg("partials"), py::arg("words"));
  module.def("finish", &finish, py::arg("partials"), py::arg("words"));
  module.def("partial_bytes_of_file", &partial_bytes_of_file, py::arg("path"), py::arg("words"),
             py::arg("chip") = 0);
  module.def("merged_bytes", &merged_bytes, py::arg("datas"), py::arg("words"));
  module.def("finished_bytes", &finished_bytes, py::arg("datas"), py::arg("words"));
  module.def("report_from_bytes", &report_from_bytes, py::arg("data"));
}

}  // namespace zel_python
