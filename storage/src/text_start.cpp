#include "text_start.hpp"

#include "binary_magic.hpp"

namespace zel_storage::detail {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether `text` is `mark` or the start of it.
bool starts_as(std::string_view text, std::string_view mark) {
  return text.size() < mark.size() ? mark.starts_with(text) : text.starts_with(mark);
}

}  // namespace

TextStart::Verdict TextStart::look(std::string_view text) {
  if (verdict_ != Verdict::undecided) return verdict_;
  if (seen_ == 0) {
    if (starts_as(text, binary_magic)) {
      if (text.size() < binary_magic.size()) return verdict_;
      return verdict_ = Verdict::profile;
    }
    if (starts_as(text, byte_order_mark)) {
      if (text.size() < byte_order_mark.size()) return verdict_;
      seen_ = byte_order_mark.size();
    }
  }
  for (; seen_ < text.size(); ++seen_) {
    if (!is_space(text[seen_])) {
      return verdict_ = text[seen_] == '{' ? Verdict::profile : Verdict::not_profile;
    }
  }
  return verdict_;
}

}  // namespace zel_storage::detail
