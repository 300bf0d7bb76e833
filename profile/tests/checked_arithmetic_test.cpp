#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "query/checked_arithmetic.hpp"

namespace zel_profile::detail {
namespace {

constexpr auto max64 = std::numeric_limits<std::uint64_t>::max();

TEST(CheckedArithmetic, ExactResultsUpToTheLimit) {
  EXPECT_EQ(checked_add<std::uint64_t>(max64 - 5, 5, "x"), max64);
  EXPECT_EQ(checked_sub<std::uint64_t>(7, 7, "x"), 0u);
  EXPECT_EQ(checked_mul<std::uint64_t>(max64 / 3, 3, "x"), max64 / 3 * 3);
  EXPECT_EQ(checked_mul<std::uint64_t>(0, max64, "x"), 0u);
  EXPECT_EQ(checked_mul<std::uint64_t>(max64, 0, "x"), 0u);
  EXPECT_EQ(checked_add<std::uint32_t>(4294967290u, 5u, "x"), 4294967295u);
}

TEST(CheckedArithmetic, OverflowThrowsNamingTheQuantity) {
  try {
    checked_add<std::uint64_t>(max64, 1, "work cycles");
    FAIL() << "no exception";
  } catch (const std::overflow_error& error) {
    EXPECT_NE(std::string(error.what()).find("work cycles"), std::string::npos);
  }
  EXPECT_THROW(checked_sub<std::uint64_t>(3, 4, "q"), std::overflow_error);
  EXPECT_THROW(checked_mul<std::uint64_t>(max64 / 2 + 1, 2, "q"), std::overflow_error);
  EXPECT_THROW(checked_add<std::uint32_t>(4294967295u, 1u, "q"), std::overflow_error);
}

}  // namespace
}  // namespace zel_profile::detail
