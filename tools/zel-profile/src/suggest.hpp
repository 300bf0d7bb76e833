// Suggestions for mistyped words: the nearest valid commands, options, option words and names.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel_cli {

inline constexpr std::size_t longest_mistyped = 64;

// The number of single-byte insertions, deletions, substitutions and swaps of two neighbouring
// bytes that turn `left` into `right` (so "qeury" is 1 from "query").
std::size_t edit_distance(std::string_view left, std::string_view right);

// The candidates nearest to `word`, in the order given, at most `most` of them: those that begin
// with `word` ("--sort" gives "--sort-by", "gemm" gives "gemm_f16"), else those at the smallest
// edit distance if it is at most a third of the longer word (at least 1), leading dashes of
// options not counted ("kernal" gives "kernel"; "frobnicate" nothing). Words longer than
// `longest_mistyped` bytes are only looked for at the start of candidates. Empty when no candidate
// is near enough or `word` is itself one.
std::vector<std::string> nearest(std::string_view word, std::span<const std::string> candidates,
                                 std::size_t most = 3);

// "; did you mean 'a'?", "; did you mean 'a' or 'b'?", "; did you mean 'a', 'b' or 'c'?" for the
// nearest candidates, or "" when there are none. Words are quoted as quoted_name() shows them.
std::string did_you_mean(std::string_view word, std::span<const std::string> candidates);

}  // namespace zel_cli
