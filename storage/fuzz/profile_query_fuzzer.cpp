// Reads a profile from arbitrary bytes and runs a few queries on it, so that inputs which make
// reading or querying slow or memory-hungry are found too (run with -rss_limit_mb and -timeout).
// A document that is rejected with ProfileReadError is fine. For a profile that is read, every
// query must give the report of the plain reference implementation the engine's tests use, from
// the records form and from the packed form on one and on two threads; any other exception, a
// sanitizer report or a crash is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <zel_profile/query.hpp>
#include <zel_storage/storage.hpp>

#include "reference_query.hpp"

namespace {

using namespace zel_package;
using namespace zel_storage;
using namespace zel_profile;

void check(bool condition) {
  if (!condition) std::abort();
}

std::vector<Query> queries() {
  std::vector<Query> all;
  for (const GroupBy group_by : {GroupBy::Kernel, GroupBy::Phase, GroupBy::Tile}) {
    Query query;
    query.group_by = group_by;
    query.sample_limit = 3;
    all.push_back(query);
  }
  Query by_metadata;
  by_metadata.group_by = GroupBy::Metadata;
  by_metadata.metadata_key = "block";
  by_metadata.sort_by = SortBy::Name;
  by_metadata.at_offset = 5;
  all.push_back(by_metadata);
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<Query> all = queries();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  PackedProfile packed;
  try {
    packed = read_packed_profile(text);
  } catch (const ProfileReadError&) {
    return 0;
  }
  const ProfileReport records = unpack(packed);
  for (const Query& query : all) {
    const QueryReport expected = reference::query(records, query);
    check(zel_profile::query(records, query) == expected);
    check(zel_profile::query(packed, query, Parallelism{.threads = 1}) == expected);
    check(zel_profile::query(packed, query, Parallelism{.threads = 2}) == expected);
  }
  return 0;
}
