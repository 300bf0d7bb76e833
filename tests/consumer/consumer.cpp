#include <zel_package/records.hpp>
#include <zel_profile/matching.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/summary.hpp>

int main() {
  const zel_package::ProfileReport profile{
      .clock_hz = 1,
      .tiles = {{.physical_tile = 1, .samples = {{.start_cycle = 0, .end_cycle = 4}}}}};
  const auto report =
      zel_profile::query(profile, zel_profile::Query{.group_by = zel_profile::GroupBy::Tile});
  return report.groups.size() == 1 && report.groups[0].name == "tile 1" ? 0 : 1;
}
