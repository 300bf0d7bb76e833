// Any query string against the explorer's parameter reader: it either reads a request or refuses
// with a ParameterError; nothing else may escape, crash or take long.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <zel_server/parameters.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto endpoint = static_cast<zel_server::Endpoint>(data[0] % 5);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  // "name=value&name=value", already decoded as the server hands them over.
  zel_server::Parameters parameters;
  std::size_t at = 0;
  while (at <= text.size()) {
    const auto end = std::min(text.find('&', at), text.size());
    const auto pair = text.substr(at, end - at);
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos) {
      parameters.emplace_back(std::string(pair), "");
    } else {
      parameters.emplace_back(std::string(pair.substr(0, equals)),
                              std::string(pair.substr(equals + 1)));
    }
    at = end + 1;
  }
  try {
    const auto request = zel_server::parse_parameters(endpoint, parameters);
    if (request.bins == 0 || request.bins > zel_server::maximum_bins || request.rows == 0 ||
        request.rows > zel_server::maximum_rows) {
      __builtin_trap();  // a size the reader should have refused
    }
  } catch (const zel_server::ParameterError&) {
  }
  return 0;
}
