// The first bytes of a profile in the binary format.
#pragma once

#include <string_view>

namespace zel_storage::detail {

inline constexpr std::string_view binary_magic{"\x89ZPROF\r\n", 8};

}  // namespace zel_storage::detail
