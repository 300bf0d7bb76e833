// The parser's complaints about a command line, said in the tool's own words.
#pragma once

#include <string>

namespace zel_cli {

// `message` (a CLI11 parse error's text) in the tool's words: "--limit given more than once" for
// "--limit: At Most 1 required but received 2", "unexpected argument 'x'" for "The following
// argument was not expected: x", and so on. A text it does not know is returned as it is.
std::string in_own_words(const std::string& message);

}  // namespace zel_cli
