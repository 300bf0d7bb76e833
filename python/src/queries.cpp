// Reading stored profiles and querying them. The GIL is released while a file is read and while a
// query runs; the profiles cannot change meanwhile, as Python sees them read-only.
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/query.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "bindings.hpp"
#include "query_words.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using Profile = std::shared_ptr<const zel_package::PackedProfile>;

std::shared_ptr<zel_package::PackedProfile> read(const py::object& name) {
  const auto path = file_path(name);
  py::gil_scoped_release unlocked;
  return std::make_shared<zel_package::PackedProfile>(zel_storage::read_packed_profile_file(path));
}

// Binary for a name ending in ".zprof", JSON text otherwise; replaced atomically.
void write(const Profile& profile, const py::object& name) {
  if (!profile) throw std::invalid_argument("the profile is None");
  const auto path = file_path(name);
  py::gil_scoped_release unlocked;
  const std::string_view suffix = ".zprof";
  if (path.size() > suffix.size() && path.ends_with(suffix)) {
    zel_storage::write_binary_profile_file(*profile, path);
  } else {
    zel_storage::write_profile_file(*profile, path);
  }
}

zel_profile::QueryReport query(const std::vector<Profile>& profiles, const py::dict& words) {
  if (profiles.empty()) throw std::invalid_argument("no profiles to query");
  for (const Profile& profile : profiles) {
    if (!profile) throw std::invalid_argument("a profile is None");
  }
  const auto [query, parallelism] = to_query(words);
  py::gil_scoped_release unlocked;
  if (profiles.size() == 1) return zel_profile::query(*profiles.front(), query, parallelism);
  // Several profiles: their partial results, each profile's computed by all the threads for its
  // chip (its place in the list), merged in the order given, as the engine does for a contiguous
  // list of profiles.
  std::vector<zel_profile::PartialQuery> partials;
  for (std::size_t chip = 0; chip < profiles.size(); ++chip) {
    partials.push_back(zel_profile::partial_query(*profiles[chip], query, parallelism,
                                                  static_cast<std::uint32_t>(chip)));
  }
  return zel_profile::finish(zel_profile::merge_in_order(std::move(partials), query), query);
}

}  // namespace

void bind_queries(py::module_& module) {
  using zel_package::PackedProfile;
  py::class_<PackedProfile, std::shared_ptr<PackedProfile>>(
      module, "Profile",
      "A stored profile read into memory in packed form (each distinct step once, 12 bytes a "
      "sample). Made by read(); read-only.")
      .def_readonly("clock_hz", &PackedProfile::clock_hz)
      .def_property_readonly("tile_count",
                             [](const PackedProfile& profile) { return profile.tiles.size(); })
      .def_property_readonly("step_count",
                             [](const PackedProfile& profile) { return profile.steps.size(); })
      .def_property_readonly(
          "sample_count",
          [](const PackedProfile& profile) { return zel_package::sample_count(profile); })
      .def("__repr__", [](const PackedProfile& profile) {
        return "zel_profile.Profile(clock_hz=" + std::to_string(profile.clock_hz) +
               ", tile_count=" + std::to_string(profile.tiles.size()) +
               ", sample_count=" + std::to_string(zel_package::sample_count(profile)) + ")";
      });

  module.def("read", &read, py::arg("path"));
  module.def("write", &write, py::arg("profile"), py::arg("path"));
  module.def("query", &query, py::arg("profiles"), py::arg("words"));
  module.def(
      "check_words", [](const py::dict& words) { (void)to_query(words); }, py::arg("words"));
  module.def("query_keywords", &query_keywords);
}

}  // namespace zel_python
