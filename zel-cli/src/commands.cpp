#include <zel_cli/commands.hpp>

#include <exception>
#include <string>

#include <zel_cli/report_output.hpp>
#include <zel_generator/generator.hpp>
#include <zel_package/storage.hpp>
#include <zel_profile/query.hpp>

namespace zel_cli {
namespace {

// Writes the text and checks that it arrived: a full disk or a closed pipe is a failure, not a
// success with output missing.
int print(const std::string& text, std::ostream& out, std::ostream& err) {
  out << text;
  out.flush();
  if (!out) {
    err << "zel-profile: cannot write to standard output\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace

int run_query(const QueryOptions& options, std::ostream& out, std::ostream& err) {
  // Bad options are reported before a possibly large profile is read.
  const auto query = to_query(options);
  const auto format = to_report_format(options);
  zel_package::ProfileReport profile;
  try {
    profile = zel_package::read_profile_file(options.profile);
  } catch (const zel_package::ProfileReadError& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
  return print(format_report(zel_profile::query(profile, query), format), out, err);
}

int run_generate(const GenerateOptions& options, std::ostream& out, std::ostream& err) {
  const auto profile = zel_generator::generate_profile(to_generator_options(options));
  if (options.output == "-") {
    return print(zel_package::write_profile(profile), out, err);
  }
  try {
    zel_package::write_profile_file(profile, options.output);
  } catch (const std::runtime_error& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace zel_cli
