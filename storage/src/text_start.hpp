// Whether the first bytes of a text can begin a profile, told as the bytes arrive, so that input
// that cannot be one is refused before the rest of it is read.
#pragma once

#include <cstddef>
#include <string_view>

namespace zel_storage::detail {

// Looks at text as it grows. A profile starts, after an optional UTF-8 byte-order mark and JSON
// white space, with '{', or with the binary format's magic bytes. Anything else (another JSON
// value, another encoding's byte-order mark, binary data) cannot be a profile: the reader then
// stops and lets the parser say what is wrong with the bytes it has.
class TextStart {
 public:
  enum class Verdict { undecided, profile, not_profile };

  // Looks at the bytes of `text` not seen yet (`text` is everything so far). Costs time in the
  // new bytes only, so an endless stream of white space is still read at the usual speed.
  Verdict look(std::string_view text);
  Verdict verdict() const noexcept { return verdict_; }

 private:
  Verdict verdict_ = Verdict::undecided;
  std::size_t seen_ = 0;
};

}  // namespace zel_storage::detail
