// The binary form of finished reports: random reports survive the round trip unchanged, and cut or
// lengthened bytes are refused, never read as another report.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <zel_package/packed.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/report_bytes.hpp>

#include "random_profiles.hpp"

namespace zel_profile {
namespace {

TEST(ReportBytes, RandomReportsRoundTripAndCutBytesAreRefused) {
  testing::RandomProfiles random(4242);
  for (int round = 0; round < 60; ++round) {
    const auto profile = random.profile(30);
    const QueryReport report = query(profile, random.query(profile));
    const std::string bytes = encode(report);
    ASSERT_EQ(decode_report(bytes), report) << "round " << round;
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 200) {
      EXPECT_THROW(decode_report(bytes.substr(0, cut)), std::invalid_argument) << cut;
    }
    EXPECT_THROW(decode_report(bytes + '\0'), std::invalid_argument);
  }
}

}  // namespace
}  // namespace zel_profile
