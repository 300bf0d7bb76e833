#include <zel_profile/words.hpp>

#include <algorithm>
#include <limits>

namespace zel_profile {

std::string cut_name(std::string_view name) {
  if (name.size() <= shown_name_bytes) return std::string(name);
  std::size_t cut = shown_name_bytes;
  // Back to the start of the character the cut falls in.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut)) + "...";
}

std::string choices(std::span<const std::string_view> words) {
  std::string text;
  for (const auto word : words) {
    if (!text.empty()) text += '|';
    text += word;
  }
  return text;
}

std::string not_one_of(std::span<const std::string_view> words, std::string_view word) {
  const std::vector<std::string> candidates(words.begin(), words.end());
  return "expected one of " + choices(words) + ", got \"" + cut_name(word) + "\"" +
         did_you_mean(word, candidates);
}

std::size_t edit_distance(std::string_view left, std::string_view right) {
  // Three rows of the dynamic programme: two back (for swaps), one back and the current one.
  const std::size_t width = right.size() + 1;
  std::vector<std::size_t> before(width), previous(width), current(width);
  for (std::size_t j = 0; j < width; ++j) previous[j] = j;
  for (std::size_t i = 1; i <= left.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j < width; ++j) {
      const std::size_t substitution = left[i - 1] == right[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + substitution});
      if (i > 1 && j > 1 && left[i - 1] == right[j - 2] && left[i - 2] == right[j - 1]) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[width - 1];
}

namespace {

// Options are compared without their leading dashes, so that "--at" is not near "--sort".
std::string_view bare(std::string_view word) {
  while (word.size() > 1 && word.front() == '-') word.remove_prefix(1);
  return word;
}

}  // namespace

std::vector<std::string> nearest(std::string_view word, std::span<const std::string> candidates,
                                 std::size_t most) {
  std::vector<std::string> found;
  for (const auto& candidate : candidates) {
    if (candidate == word) return {};
  }
  // A word that begins a candidate is that candidate cut short.
  for (const auto& candidate : candidates) {
    if (!bare(word).empty() && candidate.starts_with(word) && found.size() < most) {
      found.push_back(candidate);
    }
  }
  if (!found.empty()) return found;
  // A long word is no typing slip: measuring it against every name would cost the square of its
  // length for each.
  if (bare(word).size() > longest_mistyped) return found;
  std::size_t best = std::numeric_limits<std::size_t>::max();
  for (const auto& candidate : candidates) {
    const std::size_t longer = std::max(bare(word).size(), bare(candidate).size());
    const std::size_t shorter = std::min(bare(word).size(), bare(candidate).size());
    const std::size_t allowed = std::max<std::size_t>(1, longer / 3);
    // The distance is at least the difference in length: far longer names are not measured.
    if (longer - shorter > allowed) continue;
    const std::size_t distance = edit_distance(bare(word), bare(candidate));
    if (distance > allowed) continue;
    if (distance < best) {
      best = distance;
      found.clear();
    }
    if (distance == best && found.size() < most) found.push_back(candidate);
  }
  return found;
}

std::string did_you_mean(std::string_view word, std::span<const std::string> candidates) {
  const auto found = nearest(word, candidates);
  if (found.empty()) return "";
  std::string text = "; did you mean ";
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i > 0) text += i + 1 == found.size() ? " or " : ", ";
    text += '\'';
    text += cut_name(found[i]);
    text += '\'';
  }
  return text + "?";
}

}  // namespace zel_profile
