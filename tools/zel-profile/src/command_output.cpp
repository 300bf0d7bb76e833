#include "command_output.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <zel_storage/storage.hpp>

#include "commands.hpp"
#include "messages.hpp"
#include "progress_line.hpp"
#include "usage_error.hpp"

namespace zel_cli {

std::optional<zel_package::PackedProfile> read_reporting(const std::string& path,
                                                         std::ostream& err) {
  try {
    ProgressLine progress(err, path, progress_wanted(err));
    return zel_storage::read_packed_profile_file(
        path, {.progress = [&progress](std::uint64_t done, std::uint64_t total) {
          progress.update(done, total);
        }});
  } catch (const zel_storage::ProfileReadError& error) {
    tell(err, error.what());
    return std::nullopt;
  }
}

void warn_about_absent_names(const zel_profile::Query& query, const ProfileNames& names,
                             std::ostream& err) {
  for (const auto& warning : absent_name_warnings(query, names)) {
    tell(err, warning);
  }
}

std::optional<std::vector<zel_package::PackedProfile>> read_profiles(
    const QueryOptions& options, const zel_profile::Query& query, std::ostream& err) {
  refuse_standard_input_twice(options.profiles);
  std::vector<zel_package::PackedProfile> profiles;
  profiles.reserve(options.profiles.size());
  ProfileNames names;
  for (const auto& path : options.profiles) {
    auto profile = read_reporting(path, err);
    if (!profile) return std::nullopt;
    add_names(names, *profile);
    profiles.push_back(std::move(*profile));
  }
  warn_about_absent_names(query, names, err);
  return profiles;
}

void refuse_standard_input_twice(const std::vector<std::string>& paths) {
  if (std::count(paths.begin(), paths.end(), "-") > 1) {
    throw UsageError("standard input (-) can be read only once");
  }
}

void refuse_output_over_inputs(const std::string& output, const std::vector<std::string>& inputs) {
  if (output == "-") return;
  namespace fs = std::filesystem;
  std::error_code ignored;
  const fs::path target = fs::weakly_canonical(output, ignored);
  for (const auto& input : inputs) {
    if (input == "-") continue;
    std::error_code error;
    const bool same = fs::equivalent(output, input, error) ||
                      (!target.empty() && target == fs::weakly_canonical(input, ignored));
    if (same) {
      throw UsageError("-o " + output + " names the input profile " + input +
                       ", which would be replaced; choose another output file");
    }
  }
}

int write_output(const std::string& path, std::ostream& out, std::ostream& err,
                 const std::function<void(const zel_storage::TextSink&)>& produce) {
  if (path == "-" && &out != &std::cout) {
    // Not the process's standard output (a caller capturing the text): the text goes to `out`.
    produce([&out](std::string_view text) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    });
    out.flush();
    if (!out) {
      err << "zel-profile: cannot write to standard output\n";
      return exit_failure;
    }
    return exit_success;
  }
  if (path == "-") out.flush();  // the file writer streams to the C stream beneath std::cout
  try {
    zel_storage::write_text_file(path, produce);
  } catch (const std::runtime_error& error) {
    tell(err, error.what());
    return exit_failure;
  }
  return exit_success;
}

}  // namespace zel_cli
