#include <zel_storage/text_file.hpp>

#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;

void write_text_file(const std::string& path, const std::function<void(const TextSink&)>& produce) {
  detail::write_text_file(path, [&](detail::OutputStream& stream) {
    produce([&stream](std::string_view text) { stream.write(text); });
  });
}

}  // namespace zel_storage
