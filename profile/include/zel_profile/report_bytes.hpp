// A compact binary form of a finished QueryReport, so that a report made on one machine (the last
// task of a cluster's query) travels to another whole. Written and read with the partial results'
// varints (see <zel_profile/partial_bytes.hpp>): "zelreport2", then the report's fields in
// declaration order, unsigned numbers as varints, doubles as their 8 bytes, strings and lists
// with their length, an optional as 0, or 1 and its value.
#pragma once

#include <string>
#include <string_view>

#include <zel_profile/model.hpp>

namespace zel_profile {

// The report's bytes.
std::string encode(const QueryReport& report);

// The report that `bytes` encode. Malformed, truncated or trailing bytes, numbers beyond their
// field's range and a group's repeated dimension throw std::invalid_argument; nothing is allocated
// beyond what the bytes can describe. decode_report(encode(r)) == r.
QueryReport decode_report(std::string_view bytes);

}  // namespace zel_profile
