#include <zel_package/text_file.hpp>

#include "file_io.hpp"

namespace zel_package {

void write_text_file(const std::string& path, const std::function<void(const TextSink&)>& produce) {
  storage_detail::write_text_file(path, [&](storage_detail::OutputStream& stream) {
    produce([&stream](std::string_view text) { stream.write(text); });
  });
}

}  // namespace zel_package
