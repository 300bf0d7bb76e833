// A plain, step-by-step implementation of a query that keeps every intermediate record the obvious
// way. It is the oracle against which the optimised engine is compared.
#pragma once

#include <zel_profile/model.hpp>

namespace zel_profile::reference {

QueryReport query(const zel_package::ProfileReport& report, const Query& query);

}  // namespace zel_profile::reference
