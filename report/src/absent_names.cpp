#include <zel_report/absent_names.hpp>

#include <iterator>

#include <zel_package/step_kinds.hpp>
#include <zel_report/text.hpp>

#include <zel_profile/words.hpp>

namespace zel_report {

using zel_profile::did_you_mean;
namespace {

// Names come from the command line and the profile: they show cut short and escaped.
std::string quoted(const std::string& text) { return quoted_name(text); }

// The numbers of `present` nearest to `number`: the one just below and the one just above, both
// when they are equally near.
std::string nearest_numbers(std::uint32_t number, const std::set<std::uint32_t>& present) {
  const auto above = present.lower_bound(number);
  std::vector<std::uint32_t> found;
  if (above != present.begin()) found.push_back(*std::prev(above));
  if (above != present.end()) {
    if (found.empty() || *above - number < number - found.front())
      found = {*above};
    else if (*above - number == number - found.front())
      found.push_back(*above);
  }
  if (found.empty()) return "";
  std::string text = "; did you mean " + quoted(std::to_string(found.front()));
  if (found.size() == 2) text += " or " + quoted(std::to_string(found.back()));
  return text + "?";
}

std::string nearest_words(const std::string& word, const std::set<std::string>& present) {
  std::vector<std::string> candidates;
  for (const auto& name : present) candidates.push_back(printable(name));
  return did_you_mean(printable(word), candidates);
}

}  // namespace

void add_names(ProfileNames& names, const zel_package::PackedProfile& profile) {
  for (const auto& step : profile.steps) {
    names.kernels.insert(step.kernel);
    names.kinds.insert(std::string(zel_package::step_kind_name(step.kind)));
    names.phases.insert(step.phase);
    for (const auto& entry : step.metadata) names.metadata_names.insert(entry.name);
  }
  for (const auto& tile : profile.tiles) names.tiles.insert(tile.physical_tile);
}

std::vector<std::string> absent_name_warnings(const zel_profile::Query& query,
                                              const ProfileNames& names) {
  std::vector<std::string> warnings;
  if (query.kernel && !names.kernels.contains(*query.kernel)) {
    warnings.push_back(query.kernel->empty() ? "no step without a kernel"
                                             : "no kernel " + quoted(*query.kernel) +
                                                   nearest_words(*query.kernel, names.kernels));
  }
  if (query.kind) {
    const std::string kind(
        zel_package::step_kind_name(static_cast<zel_package::ProfileStepKind>(*query.kind)));
    if (!names.kinds.contains(kind)) {
      std::string present;
      for (const auto& name : names.kinds) present += (present.empty() ? "" : ", ") + quoted(name);
      warnings.push_back("no kind " + quoted(kind) +
                         (present.empty() ? "" : "; the profile has " + present));
    }
  }
  for (const auto tile : query.tiles) {
    if (!names.tiles.contains(tile)) {
      warnings.push_back("no tile " + quoted(std::to_string(tile)) +
                         nearest_numbers(tile, names.tiles));
    }
  }
  for (const auto phase : query.phases) {
    if (!names.phases.contains(phase)) {
      warnings.push_back("no phase " + quoted(std::to_string(phase)) +
                         nearest_numbers(phase, names.phases));
    }
  }
  for (const auto& filter : query.metadata) {
    if (!names.metadata_names.contains(filter.name)) {
      warnings.push_back("no metadata " + quoted(filter.name) +
                         nearest_words(filter.name, names.metadata_names));
    }
  }
  if (query.metadata_key && !names.metadata_names.contains(*query.metadata_key)) {
    warnings.push_back("no metadata " + quoted(*query.metadata_key) +
                       nearest_words(*query.metadata_key, names.metadata_names));
  }
  return warnings;
}

}  // namespace zel_report
