// What profiles hold, as `zel-profile info --format json` says it, and the tool's warnings about
// filters on names the profiles lack.
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/info.hpp>
#include <zel_report/info_formats.hpp>

#include <zel_report/absent_names.hpp>
#include "bindings.hpp"
#include "query_words.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using Profile = std::shared_ptr<const zel_package::PackedProfile>;

std::vector<zel_package::PackedProfile> copies_of(const std::vector<Profile>& profiles) {
  std::vector<zel_package::PackedProfile> copies;
  for (const Profile& profile : profiles) {
    if (!profile) throw std::invalid_argument("a profile is None");
    copies.push_back(*profile);
  }
  return copies;
}

std::string info_json(const std::vector<Profile>& profiles, std::size_t threads) {
  if (profiles.empty()) throw std::invalid_argument("no profiles");
  py::gil_scoped_release unlocked;
  // The engine takes a contiguous list; a single profile needs no copy.
  if (profiles.size() == 1) {
    return zel_report::format_info(
        zel_profile::profile_info({profiles.front().get(), 1}, {.threads = threads}),
        zel_report::ReportFormat::Json);
  }
  const auto copies = copies_of(profiles);
  return zel_report::format_info(zel_profile::profile_info(copies, {.threads = threads}),
                                 zel_report::ReportFormat::Json);
}

std::vector<std::string> absent_name_warnings(const std::vector<Profile>& profiles,
                                              const py::dict& words) {
  const auto query = to_query(words).first;
  zel_report::ProfileNames names;
  for (const Profile& profile : profiles) {
    if (profile) zel_report::add_names(names, *profile);
  }
  return zel_report::absent_name_warnings(query, names);
}

}  // namespace

void bind_profile_info(py::module_& module) {
  module.def("info_json", &info_json, py::arg("profiles"), py::arg("threads"));
  module.def("absent_name_warnings", &absent_name_warnings, py::arg("profiles"), py::arg("words"));
}

}  // namespace zel_python
