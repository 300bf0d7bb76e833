// The records entry point: the packed engine over the packed form of the report, so that a query
// has one implementation whichever form the profile comes in.
#include <zel_profile/query.hpp>

namespace zel_profile {

QueryReport query(const zel_package::ProfileReport& report, const Query& query) {
  return zel_profile::query(zel_package::pack(report), query);
}

}  // namespace zel_profile
