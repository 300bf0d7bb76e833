#include <zel_profile/query.hpp>
#include <zel_storage/storage.hpp>

int main() {
  const auto profile = zel_storage::read_packed_profile(
      R"({"version": 1, "clock_hz": 1, "steps": [{"phase": 0, "operation": "op", "kind": "idle"}],
          "tiles": [{"physical_tile": 3, "samples": [[0, 10, 14]]}]})");
  const auto report =
      zel_profile::query(profile, zel_profile::Query{.group_by = zel_profile::GroupBy::Kind});
  return report.groups.size() == 1 && report.groups[0].name == "idle" ? 0 : 1;
}
