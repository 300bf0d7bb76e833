// A finished report as bytes, so that a cluster's worker can finish a query and send only the
// report: fixed-width little-endian numbers, doubles by their bits, texts and lists by their
// lengths, in the records' field order.
#pragma once

#include <string>
#include <string_view>

#include <zel_profile/model.hpp>

namespace zel_python {

std::string encode_report(const zel_profile::QueryReport& report);

// The report whose bytes are `bytes`. Throws std::invalid_argument when they are not exactly the
// bytes of one report.
zel_profile::QueryReport decode_report(std::string_view bytes);

}  // namespace zel_python
