// The words that name a query's choices (group by "kernel", sort by "phase-cycles", kind
// "compute"), in one place for the command-line tool, the Python module and the reports, and the
// nearest-word suggestion for a mistyped one.
//
// Example:
//   sort_by_words[static_cast<std::size_t>(SortBy::WorkCycles)]  // "work-cycles"
//   not_one_of(sort_by_words, "nme") // "expected one of phase-cycles|...|name, got \"nme\"; did
//                                    //  you mean 'name'?"
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zel_package/step_kinds.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// Each list is indexed by the value it names, in the order help texts list them.
inline constexpr std::array<std::string_view, 7> group_by_words = {
    "kind", "kernel", "operation", "phase", "tile", "metadata", "profile"};
inline constexpr std::array<std::string_view, 5> sort_by_words = {
    "phase-cycles", "work-cycles", "maximum-cycles", "samples", "name"};
// The step kinds' own words: StepKind is the query-side twin of the stored kind.
inline constexpr std::span<const std::string_view> step_kind_words = zel_package::step_kind_names;

// The most bytes of an outside name (from a profile or a command line) that a message quotes.
inline constexpr std::size_t shown_name_bytes = 64;

// Words longer than this are no typing slip: nearest() looks for them only at the start of
// candidates, since measuring edit distance costs the square of the length.
inline constexpr std::size_t longest_mistyped = 64;

// `name` cut to its first shown_name_bytes bytes, at a character boundary, with "..." marking
// the cut; shorter names unchanged. Example: a 10 MB kernel name quotes as 64 bytes and "...".
std::string cut_name(std::string_view name);

// "a|b|c": the words as a help text or an error message lists them.
std::string choices(std::span<const std::string_view> words);

// "expected one of a|b|c, got \"x\"" followed by did_you_mean(x, words), for a word not listed.
std::string not_one_of(std::span<const std::string_view> words, std::string_view word);

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
// nearest candidates, or "" when there are none. Words are quoted cut by cut_name(); a caller that
// prints to a terminal escapes the message's control characters.
std::string did_you_mean(std::string_view word, std::span<const std::string> candidates);

}  // namespace zel_profile
