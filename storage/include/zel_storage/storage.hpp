// Reading and writing stored profiles (JSON, version 1; see docs/profile-format.md).
//
// Reading either returns a complete, valid profile (records or packed) or throws ProfileReadError:
// never a partial profile. Writing emits the same format from either form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <zel_package/packed.hpp>
#include <zel_package/records.hpp>

namespace zel_storage {

// A stored profile that cannot be read: the file could not be opened, read or decompressed, the
// text is not JSON, or the JSON does not follow the format. what() gives the whole message, for
// example
//   profile.json: tiles[3].samples[17][2]: expected an integer from 0 to 4294967295
//   profile.json:12:7: not valid JSON: ...
// leaving out the parts that are empty; standard input is named "standard input" there. Where the
// text stops being JSON, the line and column follow the source (or, without a source, start the
// message as "line 12, column 7: ").
class ProfileReadError : public std::runtime_error {
 public:
  ProfileReadError(std::string source, std::string json_path, std::string problem,
                   std::optional<std::uint64_t> line = std::nullopt,
                   std::optional<std::uint64_t> column = std::nullopt);

  // The file name, "-" for standard input, or empty for text read from memory.
  const std::string& source() const noexcept { return source_; }
  // Where in the document the problem is, such as "tiles[3].samples[17][2]"; empty when the problem
  // is not at one place (an unreadable file, text that is not JSON at all).
  const std::string& json_path() const noexcept { return json_path_; }
  // What was wrong or expected, without source and path.
  const std::string& problem() const noexcept { return problem_; }
  // For text that is not valid JSON, where it stops being JSON: the line (from 1, counting line
  // feeds) and the column (from 1, counting characters, that is UTF-8 code points, a tab as one;
  // a byte-order mark is not counted). Empty for other problems.
  const std::optional<std::uint64_t>& line() const noexcept { return line_; }
  const std::optional<std::uint64_t>& column() const noexcept { return column_; }

 private:
  std::string source_;
  std::string json_path_;
  std::string problem_;
  std::optional<std::uint64_t> line_;
  std::optional<std::uint64_t> column_;
};

// Told how far reading a file has got: `done` bytes of `total` read from the file (compressed
// bytes for a compressed file). `total` is 0 while the size is unknown (standard input, a pipe);
// the last call, once everything is read, has done == total.
using ReadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct ReadOptions {
  // Called on the reading thread, at most once per MiB read and once at the end; it may throw
  // to stop reading (the exception passes through).
  ReadProgress progress;
};

// Reads a profile from JSON text held in memory straight into the packed form, without making a
// record per sample: the steps as the text lists them, each sample's step index as stored.
// Validation and errors are exactly those of read_profile (which is unpack() of this).
zel_package::PackedProfile read_packed_profile(std::string_view json);

// Reads a packed profile from a file; "-" reads standard input. A regular file's size is checked
// before it is read, and its text is freed as soon as the profile is read. A file (or standard
// input) holding gzip or zstd data, known by its first bytes, is decompressed as it is read; its
// text is held to the same 4 GiB.
zel_package::PackedProfile read_packed_profile_file(const std::string& path,
                                                    const ReadOptions& options = {});

// Reads a profile from JSON text held in memory. Validates everything: field names and types,
// integer ranges, step kinds and step indexes; the first problem met throws ProfileReadError.
zel_package::ProfileReport read_profile(std::string_view json);

// Reads a profile from a file; "-" reads standard input; compressed as read_packed_profile_file.
zel_package::ProfileReport read_profile_file(const std::string& path,
                                             const ReadOptions& options = {});

// The profile as JSON text, version 1: equal steps stored once, in order of first use, one step and
// one tile per line; the same as write_profile(pack(report)). Throws std::invalid_argument, naming
// the first sample that uses the step, when a string is not valid UTF-8 (it could not be read
// back).
std::string write_profile(const zel_package::ProfileReport& report);

// The packed profile as JSON text: its steps as they are, in their order, then its tiles. Throws
// std::invalid_argument for a string that is not valid UTF-8 (naming it, as in steps[3].kernel) or
// a step index out of range.
std::string write_profile(const zel_package::PackedProfile& profile);

// Writes the profile to a file, or to standard output for "-". The text is streamed, never held
// whole in memory. A file is replaced atomically: the text goes to a temporary file beside it,
// which is renamed over `path` only once it is completely written and flushed to disk, so a full
// disk or a killed writer never leaves a truncated profile where a good one was; a new file gets
// mode 0666 less the umask, a replaced one keeps its mode. Throws std::runtime_error "cannot write
// PATH: REASON" when it cannot be written (the old file is then untouched and the temporary file
// removed), and std::invalid_argument as write_profile does, before anything is written.
void write_profile_file(const zel_package::ProfileReport& report, const std::string& path);
void write_profile_file(const zel_package::PackedProfile& profile, const std::string& path);

}  // namespace zel_storage
