// The page's files, compiled into the program (the .cpp is generated from server/assets/).
#pragma once

#include <string_view>

namespace zel_server {

struct Asset {
  std::string_view path;  // "/index.html"
  std::string_view content_type;
  std::string_view content;
};

// The asset at `path`, or nullptr. Only the compiled-in files exist; nothing is read from disk.
const Asset* find_asset(std::string_view path);

}  // namespace zel_server
