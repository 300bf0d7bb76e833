// The progress line the tool draws on standard error while it reads a large profile:
//   zel-profile: reading big.json: 43% (1.2 GB of 2.8 GB)
// redrawn in place with a carriage return and wiped once reading ends, only when standard error
// is a terminal (a log or a pipe gets no such line).
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

namespace zel_cli {

// A progress line is drawn once this many bytes are known to be coming (a file's size, or what has
// been read), or once reading has taken this long.
inline constexpr std::uint64_t progress_min_bytes = std::uint64_t{64} << 20;
inline constexpr std::chrono::milliseconds progress_min_time{1000};

// Whether the progress line goes to `err`: it is the process's standard error, and that is a
// terminal.
bool progress_wanted(const std::ostream& err);

// The line for `done` bytes read of `total` (0: unknown) from `path` ("-": standard input), as
// "zel-profile: reading NAME: 43% (1.2 GB of 2.8 GB)" or, for an unknown size,
// "zel-profile: reading NAME: 1.2 GB"; sizes in decimal units (MB below one GB).
std::string progress_text(const std::string& path, std::uint64_t done, std::uint64_t total);

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock::time_point (*)();

  // Draws on `out` only when `enabled`; `now` tells the time (replaced in tests).
  ProgressLine(std::ostream& out, std::string path, bool enabled,
               Clock now = &std::chrono::steady_clock::now)
      : out_(out), path_(std::move(path)), enabled_(enabled), now_(now), start_(now()) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { clear(); }

  // Redraws the line when its text changes, once the input is known to be large or slow.
  void update(std::uint64_t done, std::uint64_t total);
  // Wipes the line, if one is drawn.
  void clear();

 private:
  std::ostream& out_;
  std::string path_;
  bool enabled_;
  Clock now_;
  std::chrono::steady_clock::time_point start_;
  std::string drawn_;
};

}  // namespace zel_cli
