#include <zel_package/text_output.hpp>

#include "file_io.hpp"

namespace zel_package {

void write_text_file(const std::string& path, std::string_view text) {
  storage_detail::write_text_file(
      path, [text](storage_detail::OutputStream& stream) { stream.write(text); });
}

}  // namespace zel_package
