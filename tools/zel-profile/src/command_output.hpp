// What the commands that write a file of their own share: reading their profiles and writing
// their text to a file or standard output.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_storage/text_file.hpp>

#include <zel_report/absent_names.hpp>
#include "query_options.hpp"

namespace zel_cli {

using zel_report::absent_name_warnings;
using zel_report::add_names;
using zel_report::ProfileNames;

// The profile at `path`, or nothing once a profile that cannot be read is reported on `err`. The
// reader lets go of the stored text before it returns, so only the packed profile (12 bytes a
// sample) is held afterwards. A large file shows its progress on a terminal, wiped before
// anything else is written.
std::optional<zel_package::PackedProfile> read_reporting(const std::string& path,
                                                         std::ostream& err);

// Warns on `err` about every filter of `query` that names something none of the profiles has
// (absent_name_warnings): the query still runs, but matches nothing by that filter.
void warn_about_absent_names(const zel_profile::Query& query, const ProfileNames& names,
                             std::ostream& err);

// The profiles named by `options`, in order (each a chip of the query), or nothing once a profile
// that cannot be read is reported on `err`; once all are read, warns about the filters of `query`
// that name something none of them has. Throws UsageError when standard input is named twice.
std::optional<std::vector<zel_package::PackedProfile>> read_profiles(
    const QueryOptions& options, const zel_profile::Query& query, std::ostream& err);

// Refuses (UsageError) a list of profiles that names standard input ("-") more than once: it can
// be read once only.
void refuse_standard_input_twice(const std::vector<std::string>& paths);

// Refuses (UsageError) an --output that names one of the input profiles, before anything is read
// or written: the command would replace the profile it reads. "-" names no file.
void refuse_output_over_inputs(const std::string& output, const std::vector<std::string>& inputs);

// Writes the text that produce(sink) passes to `sink`: to `path`, replaced atomically, or to `out`
// for "-" (streamed when `out` is the process's standard output). Returns exit_success, or
// exit_failure once a failure to write (a full disk, a closed pipe) is reported on `err`: output
// that did not arrive is never a success.
int write_output(const std::string& path, std::ostream& out, std::ostream& err,
                 const std::function<void(const zel_storage::TextSink&)>& produce);

}  // namespace zel_cli
