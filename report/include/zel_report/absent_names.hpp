// The names a profile has (kernels, kinds, phases, tiles, metadata names), so that a filter naming
// something it lacks can be pointed out instead of silently matching nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>

namespace zel_report {

struct ProfileNames {
  std::set<std::string> kernels;  // "" for steps without a kernel
  std::set<std::string> kinds;    // the step kinds' words
  std::set<std::string> metadata_names;
  std::set<std::uint32_t> phases;
  std::set<std::uint32_t> tiles;  // physical tile numbers
};

// Adds the names of `profile` to `names`: once per distinct step and once per tile, never per
// sample. (A step that no sample uses still counts.)
void add_names(ProfileNames& names, const zel_package::PackedProfile& profile);

// One warning for each filter of `query` that names a kernel, kind, phase, tile or metadata name
// the profile does not have, with the nearest ones it has, such as "no kernel 'gemm'; did you
// mean 'gemm_f16'?" or "no tile '7'; did you mean '6'?". Without a prefix or line end.
std::vector<std::string> absent_name_warnings(const zel_profile::Query& query,
                                              const ProfileNames& names);

}  // namespace zel_report
