#include <gtest/gtest.h>

#include <string>
#include <zel_profile/words.hpp>

namespace zel_profile {
namespace {

// A word outside a list is refused with the list and the nearest word.
TEST(Words, AWordNotListedIsRefusedWithTheList) {
  EXPECT_EQ(not_one_of(sort_by_words, "nme"),
            "expected one of phase-cycles|work-cycles|maximum-cycles|samples|name, got \"nme\"; "
            "did you mean 'name'?");
  EXPECT_EQ(not_one_of(step_kind_words, "frobnicate"),
            "expected one of exchange|compute|synchronization|idle, got \"frobnicate\"");
}

}  // namespace
}  // namespace zel_profile
