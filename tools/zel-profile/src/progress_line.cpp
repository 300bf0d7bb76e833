#include "progress_line.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include <unistd.h>

#include <zel_report/text.hpp>

namespace zel_cli {
namespace {

std::string size_text(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1000000000) {
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  } else {
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

}  // namespace

bool progress_wanted(const std::ostream& err) {
  return &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
}

std::string progress_text(const std::string& path, std::uint64_t done, std::uint64_t total) {
  std::string text = "zel-profile: reading " +
                     (path == "-" ? std::string("standard input") : zel_report::printable(path)) +
                     ": ";
  if (total == 0) return text + size_text(done);
  const std::uint64_t percent = std::min<std::uint64_t>(done, total) * 100 / total;
  return text + std::to_string(percent) + "% (" + size_text(done) + " of " + size_text(total) + ")";
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  if (drawn_.empty() && std::max(done, total) < progress_min_bytes &&
      now_() - start_ < progress_min_time) {
    return;
  }
  std::string text = progress_text(path_, done, total);
  if (text == drawn_) return;
  // Spaces wipe what is left of a longer line drawn before.
  const std::size_t wipe = drawn_.size() > text.size() ? drawn_.size() - text.size() : 0;
  out_ << '\r' << text << std::string(wipe, ' ');
  out_.flush();
  drawn_ = std::move(text);
}

void ProgressLine::clear() {
  if (drawn_.empty()) return;
  out_ << '\r' << std::string(drawn_.size(), ' ') << '\r';
  out_.flush();
  drawn_.clear();
}

}  // namespace zel_cli
