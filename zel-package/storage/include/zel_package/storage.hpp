// Reading and writing stored profiles (JSON, version 1; see docs/profile-format.md).
//
// Reading either returns a complete, valid ProfileReport or throws ProfileReadError: never a
// partial profile. Writing emits the same format, storing each distinct step once.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <zel_package/records.hpp>

namespace zel_package {

// A stored profile that cannot be read: the file could not be opened or read, the text is not JSON,
// or the JSON does not follow the format. what() gives the whole message, for example
//   profile.json: tiles[3].samples[17][2]: expected an integer from 0 to 4294967295
// leaving out the parts that are empty; standard input is named "standard input" there.
class ProfileReadError : public std::runtime_error {
 public:
  ProfileReadError(std::string source, std::string json_path, std::string problem);

  // The file name, "-" for standard input, or empty for text read from memory.
  const std::string& source() const noexcept { return source_; }
  // Where in the document the problem is, such as "tiles[3].samples[17][2]"; empty when the problem
  // is not at one place (an unreadable file, text that is not JSON at all).
  const std::string& json_path() const noexcept { return json_path_; }
  // What was wrong or expected, without source and path.
  const std::string& problem() const noexcept { return problem_; }

 private:
  std::string source_;
  std::string json_path_;
  std::string problem_;
};

// Reads a profile from JSON text held in memory. Validates everything: field names and types,
// integer ranges, step kinds and step indexes; the first problem met throws ProfileReadError.
ProfileReport read_profile(std::string_view json);

// Reads a profile from a file; "-" reads standard input.
ProfileReport read_profile_file(const std::string& path);

// The profile as JSON text, version 1: equal steps stored once, one step and one tile per line.
// Throws std::invalid_argument, naming the place, when a string is not valid UTF-8 (it could not be
// read back).
std::string write_profile(const ProfileReport& report);

// Writes the profile to a file (replacing it); "-" writes to standard output. Throws
// std::runtime_error naming the file when it cannot be written.
void write_profile_file(const ProfileReport& report, const std::string& path);

}  // namespace zel_package
